#include "middleware/writer_match.h"

#include <fastdds/dds/core/condition/StatusCondition.hpp>
#include <fastdds/dds/core/condition/WaitSet.hpp>
#include <fastdds/dds/core/status/PublicationMatchedStatus.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>

namespace quiral {
namespace middleware2 {

namespace dds = eprosima::fastdds::dds;

namespace {

bool HasMatchedReader(dds::DataWriter* writer) {
  dds::PublicationMatchedStatus status;
  return writer->get_publication_matched_status(status) ==
             eprosima::fastrtps::types::ReturnCode_t::RETCODE_OK &&
         status.current_count > 0;
}

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

}  // namespace

bool WaitForMatchedReader(dds::DataWriter* writer, const RpcDeadline& deadline) {
  if (writer == nullptr) {
    return false;
  }
  // Usual case: matched long ago, one status read and no wait set.
  if (HasMatchedReader(writer)) {
    return true;
  }
  dds::StatusCondition& condition = writer->get_statuscondition();
  (void)condition.set_enabled_statuses(dds::StatusMask::publication_matched());
  dds::WaitSet wait_set;
  (void)wait_set.attach_condition(condition);
  dds::ConditionSeq active;
  bool matched = false;
  while (!(matched = HasMatchedReader(writer)) && !deadline.expired()) {
    // Reading the status above resets the condition, so a match after the
    // read wakes this wait.
    (void)wait_set.wait(active, Remaining(deadline));
  }
  (void)wait_set.detach_condition(condition);
  return matched;
}

}  // namespace middleware2
}  // namespace quiral
