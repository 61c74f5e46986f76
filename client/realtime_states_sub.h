// The controller's real-time states: the latest sample as a locked snapshot
// and a count of the samples received.
#pragma once

#include <cstdint>
#include <string>

#include "base/qor_state.h"
#include "base/vek_types.h"
#include "client/snapshot_subscriber.h"
#include "msgs/vek_msgs/realtime_states.h"

namespace quiral {
namespace middleware2 {
class RealtimeUdpNode;
}  // namespace middleware2

namespace vek_impl {

// Receives vek_msgs::msg::RealtimeStates on the real-time participant. The
// accessors read the newest sample under its lock; the connection monitor
// decides from the count alone whether the robot is connected.
class RealtimeStatesSub {
 public:
  RealtimeStatesSub() = default;
  virtual ~RealtimeStatesSub() = default;

  RealtimeStatesSub(const RealtimeStatesSub&) = delete;
  RealtimeStatesSub& operator=(const RealtimeStatesSub&) = delete;

  // Subscribes to "quiral_vek/rt_states/" + suffix with the real-time
  // profile and pauses 100 ms. Always OK; DDS creation failures throw.
  QorState Init(const middleware2::RealtimeUdpNode& node, const std::string& topic_suffix);

  // The controller's running count of real-time commands that came late.
  uint64_t TimelinessFailures() const;
  quiral::vek::GripperStates GripperStates() const;
  bool ProgramRunning() const;
  // The control mode with the wire's 16 bits read as a signed value.
  int16_t CurrExtCtrlMode() const;

  // Samples received since construction; never reset.
  uint64_t SampleCount() const { return states_.SampleCount(); }

 private:
  SnapshotSubscriber<vek_msgs::msg::RealtimeStatesPubSubType> states_;
};

}  // namespace vek_impl
}  // namespace quiral
