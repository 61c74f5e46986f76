#include "client/lumo_log_event.h"

#include <chrono>
#include <thread>

#include <spdlog/spdlog.h>

#include "middleware/dds_timing.h"
#include "middleware/default_node.h"
#include "middleware/fast_dds_subscriber.h"
#include "middleware/qos_profiles.h"

namespace quiral {
namespace vek_impl {
namespace {

const std::string kRobotLogTopicPrefix = "quiral_lumo/robot_log/";

}  // namespace

LUMOLogEvent::~LUMOLogEvent() { subscriber_.reset(); }

QorState LUMOLogEvent::Init(const middleware2::DefaultNode& node,
                            const std::string& topic_suffix) {
  const std::string topic = kRobotLogTopicPrefix + topic_suffix;
  spdlog::debug("[quiral::vek::Robot] Creating subscriber on topic: {}", topic);
  subscriber_.reset();
  auto subscriber =
      std::make_shared<middleware2::FastDDSSubscriber<quiral_lumo_msgs::msg::EventLogPubSubType>>(
          node.participant, topic, [this] { SubCallback(); }, &buffer_, 1);
  subscriber->InitializeDefaultProfile(middleware2::kDefaultQosDepth);
  std::this_thread::sleep_for(middleware2::kEndpointSettleDelay);
  subscriber_ = std::move(subscriber);
  return _MakeQorState(QorGeneralState::OK);
}

void LUMOLogEvent::SubCallback() {
  quiral::vek::RobotEvent event;
  event.level = static_cast<int32_t>(buffer_.level());
  event.id = buffer_.id();
  event.description = buffer_.description();
  event.consequences = buffer_.consequences();
  event.probable_causes = buffer_.probable_causes();
  event.recommended_actions = buffer_.recommended_actions();
  event.timestamp = std::chrono::system_clock::now();
  {
    std::lock_guard<std::mutex> lock(mutex);
    event_list.push_back(event);
  }
  switch (buffer_.level()) {
    case 1:
      spdlog::info("[Event Log] [{}] {}", event.id, event.description);
      break;
    case 2:
      spdlog::warn("[Event Log] [{}] {}", event.id, event.description);
      break;
    case 3:
      spdlog::error("[Event Log] [{}] {}", event.id, event.description);
      break;
    case 4:
      spdlog::critical("[Event Log] [{}] {}", event.id, event.description);
      break;
    default:
      break;
  }
}

}  // namespace vek_impl
}  // namespace quiral
