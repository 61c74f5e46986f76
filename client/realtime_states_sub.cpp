#include "client/realtime_states_sub.h"

#include <thread>

#include <spdlog/spdlog.h>

#include "middleware/dds_timing.h"
#include "middleware/fast_dds_subscriber.h"
#include "middleware/realtime_udp_node.h"

namespace quiral {
namespace vek_impl {
namespace {

const std::string kRtStatesTopicPrefix = "quiral_vek/rt_states/";

}  // namespace

RealtimeStatesSub::~RealtimeStatesSub() { subscriber_.reset(); }

QorState RealtimeStatesSub::Init(const middleware2::RealtimeUdpNode& node,
                                 const std::string& topic_suffix) {
  const std::string topic = kRtStatesTopicPrefix + topic_suffix;
  spdlog::debug("[quiral::vek::Robot] Creating subscriber on topic: {}", topic);
  // A previous subscriber stops writing into the buffer before a new one
  // may start.
  subscriber_.reset();
  auto subscriber =
      std::make_shared<middleware2::FastDDSSubscriber<vek_msgs::msg::RealtimeStatesPubSubType>>(
          node.participant, topic, [this] { SubCallback(); }, &buffer_, 1);
  subscriber->InitializeRealtimeSocketProfile();
  std::this_thread::sleep_for(middleware2::kEndpointSettleDelay);
  subscriber_ = std::move(subscriber);
  return _MakeQorState(QorGeneralState::OK);
}

void RealtimeStatesSub::SubCallback() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot_ = buffer_;
  }
  // Counted after the copy: whoever sees the new count finds the new
  // snapshot in place.
  sample_count_.fetch_add(1);
}

uint64_t RealtimeStatesSub::TimelinessFailures() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return snapshot_.system_status().timeliness_failures();
}

quiral::vek::GripperStates RealtimeStatesSub::GripperStates() const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto& gripper = snapshot_.gripper_states();
  quiral::vek::GripperStates states;
  states.width = static_cast<double>(gripper.width());
  states.force = static_cast<double>(gripper.force());
  states.is_moving = gripper.is_moving();
  return states;
}

bool RealtimeStatesSub::ProgramRunning() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return snapshot_.system_status().program_running();
}

int16_t RealtimeStatesSub::CurrExtCtrlMode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int16_t>(snapshot_.system_status().ctrl_mode());
}

}  // namespace vek_impl
}  // namespace quiral
