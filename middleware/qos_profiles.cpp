#include "middleware/qos_profiles.h"

#include <stdexcept>
#include <string>

namespace quiral {
namespace middleware2 {

namespace dds = eprosima::fastdds::dds;

namespace {

int32_t EffectiveDepth(int32_t depth, const char* owner) {
  CheckQosDepth(depth, owner);
  return depth >= 1 ? depth : 1;
}

// Fields the two kinds of endpoint share, for either profile.
template <class Qos>
void ApplyCommon(Qos& qos, dds::ReliabilityQosPolicyKind reliability, int32_t depth) {
  qos.durability().kind = dds::VOLATILE_DURABILITY_QOS;
  qos.reliability().kind = reliability;
  qos.history().kind = dds::KEEP_LAST_HISTORY_QOS;
  qos.history().depth = depth;
  qos.resource_limits().max_samples = 10 * depth;
  qos.resource_limits().max_samples_per_instance = depth;
  qos.resource_limits().allocated_samples = depth;
  qos.resource_limits().extra_samples = 1;
  qos.endpoint().history_memory_policy =
      eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE;
  qos.data_sharing().off();
}

template <class Qos>
void ApplyRealtimeCommon(Qos& qos) {
  ApplyCommon(qos, dds::BEST_EFFORT_RELIABILITY_QOS, 1);
  qos.reliability().max_blocking_time =
      eprosima::fastrtps::Duration_t(kRtQosMaxBlockingTimeSec, kRtQosMaxBlockingTimeNanosec);
}

}  // namespace

void CheckQosDepth(int32_t depth, const char* owner) {
  if (depth > kMaxQosDepth) {
    throw std::invalid_argument(std::string("[") + owner + "] QoS depth " +
                                std::to_string(depth) + " is above the supported maximum " +
                                std::to_string(kMaxQosDepth));
  }
}

void ApplyDefaultProfile(dds::DataWriterQos& qos, int32_t depth, const char* owner) {
  ApplyCommon(qos, dds::RELIABLE_RELIABILITY_QOS, EffectiveDepth(depth, owner));
  // Written on the caller's thread. The library's asynchronous reliable
  // writer can deadlock when a matched reader goes away while it is sending
  // (seen when a controller disappears in the middle of a call), which would
  // hang the remote call; a synchronous write returns, and reliability still
  // repairs lost fragments.
  qos.publish_mode().kind = dds::SYNCHRONOUS_PUBLISH_MODE;
}

void ApplyDefaultProfile(dds::DataReaderQos& qos, int32_t depth, const char* owner) {
  ApplyCommon(qos, dds::RELIABLE_RELIABILITY_QOS, EffectiveDepth(depth, owner));
}

void ApplyRealtimeSocketProfile(dds::DataWriterQos& qos, bool sync) {
  ApplyRealtimeCommon(qos);
  qos.publish_mode().kind =
      sync ? dds::SYNCHRONOUS_PUBLISH_MODE : dds::ASYNCHRONOUS_PUBLISH_MODE;
}

void ApplyRealtimeSocketProfile(dds::DataReaderQos& qos) { ApplyRealtimeCommon(qos); }

}  // namespace middleware2
}  // namespace quiral
