#include "client/lumo_log_event.h"

#include <chrono>
#include <utility>

#include <spdlog/spdlog.h>

#include "client/snapshot_subscriber_impl.h"
#include "middleware/default_node.h"

namespace quiral {
namespace vek_impl {

template class SnapshotSubscriber<quiral_lumo_msgs::msg::EventLogPubSubType, AppendEvents>;

namespace {

using quiral_lumo_msgs::msg::EventLog;

const std::string kRobotLogTopicPrefix = "quiral_lumo/robot_log/";

void Print(const EventLog& sample) {
  switch (sample.level()) {
    case 1:
      spdlog::info("[Event Log] [{}] {}", sample.id(), sample.description());
      break;
    case 2:
      spdlog::warn("[Event Log] [{}] {}", sample.id(), sample.description());
      break;
    case 3:
      spdlog::error("[Event Log] [{}] {}", sample.id(), sample.description());
      break;
    case 4:
      spdlog::critical("[Event Log] [{}] {}", sample.id(), sample.description());
      break;
    default:
      break;  // kept, not printed
  }
}

}  // namespace

void AppendEvents::Store(State& events, const EventLog& sample) {
  quiral::vek::RobotEvent event;
  event.level = static_cast<int32_t>(sample.level());
  event.id = sample.id();
  event.description = sample.description();
  event.consequences = sample.consequences();
  event.probable_causes = sample.probable_causes();
  event.recommended_actions = sample.recommended_actions();
  event.timestamp = std::chrono::system_clock::now();
  events.push_back(std::move(event));  // all or nothing
}

QorState LUMOLogEvent::Init(const middleware2::DefaultNode& node,
                            const std::string& topic_suffix) {
  log_.Init(node.participant, kRobotLogTopicPrefix + topic_suffix, SubscriberProfile::kReliable,
            &Print);
  return _MakeQorState(QorGeneralState::OK);
}

}  // namespace vek_impl
}  // namespace quiral
