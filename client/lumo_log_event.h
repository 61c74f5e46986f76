// The robot's event log: every entry kept in arrival order, and those of
// the four known levels printed to the process-wide logger.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/qor_state.h"
#include "msgs/quiral_lumo_msgs/event_log.h"
#include "base/vek_types.h"

namespace quiral {
namespace middleware2 {
class DefaultNode;
template <class T>
class FastDDSSubscriber;
}  // namespace middleware2

namespace vek_impl {

class LUMOLogEvent {
 public:
  LUMOLogEvent() = default;
  // Releases the subscriber first: its destruction waits for a callback in
  // progress, and no callback runs afterwards, so the event list is never
  // written while (or after) it is destroyed.
  virtual ~LUMOLogEvent();

  LUMOLogEvent(const LUMOLogEvent&) = delete;
  LUMOLogEvent& operator=(const LUMOLogEvent&) = delete;

  // Subscribes to "quiral_lumo/robot_log/" + suffix with the reliable
  // profile (depth 10) and pauses 100 ms. Always OK; DDS creation failures
  // throw.
  QorState Init(const middleware2::DefaultNode& node, const std::string& topic_suffix);

  // The subscriber's callback: runs on the DDS listener thread. Appends the
  // entry stamped with the system clock, then prints levels 1 to 4.
  void SubCallback();

  // Every entry received, in arrival order; read it (copy it) only while
  // holding `mutex`.
  std::vector<quiral::vek::RobotEvent> event_list;
  std::mutex mutex;

 private:
  quiral_lumo_msgs::msg::EventLog buffer_;  // the listener thread's
  std::shared_ptr<middleware2::FastDDSSubscriber<quiral_lumo_msgs::msg::EventLogPubSubType>>
      subscriber_;
};

}  // namespace vek_impl
}  // namespace quiral
