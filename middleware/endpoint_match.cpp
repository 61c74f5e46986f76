#include "middleware/endpoint_match.h"

#include <fastdds/dds/core/condition/StatusCondition.hpp>
#include <fastdds/dds/core/condition/WaitSet.hpp>
#include <fastdds/dds/core/status/PublicationMatchedStatus.hpp>
#include <fastdds/dds/core/status/SubscriptionMatchedStatus.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>

namespace quiral {
namespace middleware2 {

namespace dds = eprosima::fastdds::dds;

namespace {

bool HasMatch(dds::DataWriter* writer) {
  dds::PublicationMatchedStatus status;
  return writer->get_publication_matched_status(status) ==
             eprosima::fastrtps::types::ReturnCode_t::RETCODE_OK &&
         status.current_count > 0;
}

bool HasMatch(dds::DataReader* reader) {
  dds::SubscriptionMatchedStatus status;
  return reader->get_subscription_matched_status(status) ==
             eprosima::fastrtps::types::ReturnCode_t::RETCODE_OK &&
         status.current_count > 0;
}

dds::StatusMask MatchedMask(dds::DataWriter*) { return dds::StatusMask::publication_matched(); }
dds::StatusMask MatchedMask(dds::DataReader*) { return dds::StatusMask::subscription_matched(); }

eprosima::fastrtps::Duration_t Remaining(const RpcDeadline& deadline) {
  if (deadline.infinite()) {
    return eprosima::fastrtps::c_TimeInfinite;
  }
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
      deadline.when() - RpcDeadline::Clock::now());
  if (left.count() <= 0) {
    return eprosima::fastrtps::c_TimeZero;
  }
  eprosima::fastrtps::Duration_t duration;
  duration.seconds = static_cast<int32_t>(left.count() / 1000000000);
  duration.nanosec = static_cast<uint32_t>(left.count() % 1000000000);
  return duration;
}

template <class Endpoint>
bool WaitForMatch(Endpoint* endpoint, const RpcDeadline& deadline) {
  if (endpoint == nullptr) {
    return false;
  }
  // Usual case: matched long ago, one status read and no wait set.
  if (HasMatch(endpoint)) {
    return true;
  }
  dds::StatusCondition& condition = endpoint->get_statuscondition();
  (void)condition.set_enabled_statuses(MatchedMask(endpoint));
  dds::WaitSet wait_set;
  (void)wait_set.attach_condition(condition);
  dds::ConditionSeq active;
  bool matched = false;
  while (!(matched = HasMatch(endpoint)) && !deadline.expired()) {
    // Reading the status above resets the condition, so a match after the
    // read wakes this wait.
    (void)wait_set.wait(active, Remaining(deadline));
  }
  (void)wait_set.detach_condition(condition);
  return matched;
}

}  // namespace

bool WaitForMatchedReader(dds::DataWriter* writer, const RpcDeadline& deadline) {
  return WaitForMatch(writer, deadline);
}

bool WaitForMatchedWriter(dds::DataReader* reader, const RpcDeadline& deadline) {
  return WaitForMatch(reader, deadline);
}

}  // namespace middleware2
}  // namespace quiral
