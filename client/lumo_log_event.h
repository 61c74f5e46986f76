// The robot's event log: every entry kept in arrival order, and those of
// the four known levels printed to the process-wide logger.
#pragma once

#include <string>
#include <vector>

#include "base/qor_state.h"
#include "base/vek_types.h"
#include "client/snapshot_subscriber.h"
#include "msgs/quiral_lumo_msgs/event_log.h"

namespace quiral {
namespace middleware2 {
class DefaultNode;
}  // namespace middleware2

namespace vek_impl {

// Keeps every event-log sample, in arrival order, as an entry stamped with
// the system clock at its receipt; the list is never shortened.
struct AppendEvents {
  using State = std::vector<quiral::vek::RobotEvent>;
  static void Store(State& events, const quiral_lumo_msgs::msg::EventLog& sample);
};

class LUMOLogEvent {
 public:
  LUMOLogEvent() = default;
  virtual ~LUMOLogEvent() = default;

  LUMOLogEvent(const LUMOLogEvent&) = delete;
  LUMOLogEvent& operator=(const LUMOLogEvent&) = delete;

  // Subscribes to "quiral_lumo/robot_log/" + suffix with the reliable
  // profile (depth 10) and pauses 100 ms. Always OK; DDS creation failures
  // throw. Each entry of levels 1 to 4 is printed "[Event Log] [id]
  // description" at info, warn, error or critical level once it is stored.
  QorState Init(const middleware2::DefaultNode& node, const std::string& topic_suffix);

  // A copy of every entry received so far, in arrival order.
  std::vector<quiral::vek::RobotEvent> events() const { return log_.Snapshot(); }

 private:
  SnapshotSubscriber<quiral_lumo_msgs::msg::EventLogPubSubType, AppendEvents> log_;
};

}  // namespace vek_impl
}  // namespace quiral
