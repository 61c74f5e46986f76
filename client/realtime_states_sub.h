// The controller's real-time states: the latest sample as a locked snapshot
// and a count of the samples received.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/qor_state.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "base/vek_types.h"

namespace quiral {
namespace middleware2 {
class RealtimeUdpNode;
template <class T>
class FastDDSSubscriber;
}  // namespace middleware2

namespace vek_impl {

// Receives vek_msgs::msg::RealtimeStates on the real-time participant. The
// DDS listener thread copies each sample into the snapshot under the mutex
// and then counts it; the accessors read the snapshot under the mutex. The
// connection monitor decides from the count alone whether the robot is
// connected.
class RealtimeStatesSub {
 public:
  RealtimeStatesSub() = default;
  // Releases the subscriber first, so that no callback runs into the
  // snapshot while it goes away.
  virtual ~RealtimeStatesSub();

  RealtimeStatesSub(const RealtimeStatesSub&) = delete;
  RealtimeStatesSub& operator=(const RealtimeStatesSub&) = delete;

  // Subscribes to "quiral_vek/rt_states/" + suffix with the real-time
  // profile and pauses 100 ms. Always OK; DDS creation failures throw.
  QorState Init(const middleware2::RealtimeUdpNode& node, const std::string& topic_suffix);

  // The subscriber's callback: runs on the DDS listener thread.
  void SubCallback();

  // The controller's running count of real-time commands that came late.
  uint64_t TimelinessFailures() const;
  quiral::vek::GripperStates GripperStates() const;
  bool ProgramRunning() const;
  // The control mode with the wire's 16 bits read as a signed value.
  int16_t CurrExtCtrlMode() const;

  // Samples received since construction; never reset.
  uint64_t SampleCount() const { return sample_count_.load(); }

 private:
  vek_msgs::msg::RealtimeStates buffer_;  // the listener thread's
  vek_msgs::msg::RealtimeStates snapshot_;
  std::shared_ptr<middleware2::FastDDSSubscriber<vek_msgs::msg::RealtimeStatesPubSubType>>
      subscriber_;
  mutable std::mutex mutex_;  // guards snapshot_
  std::atomic<uint64_t> sample_count_{0};
};

}  // namespace vek_impl
}  // namespace quiral
