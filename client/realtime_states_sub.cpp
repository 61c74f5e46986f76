#include "client/realtime_states_sub.h"

#include "client/snapshot_subscriber_impl.h"
#include "middleware/realtime_udp_node.h"

namespace quiral {
namespace vek_impl {

template class SnapshotSubscriber<vek_msgs::msg::RealtimeStatesPubSubType>;

namespace {

using vek_msgs::msg::RealtimeStates;

const std::string kRtStatesTopicPrefix = "quiral_vek/rt_states/";

}  // namespace

QorState RealtimeStatesSub::Init(const middleware2::RealtimeUdpNode& node,
                                 const std::string& topic_suffix) {
  states_.Init(node.participant, kRtStatesTopicPrefix + topic_suffix,
               SubscriberProfile::kRealtime);
  return _MakeQorState(QorGeneralState::OK);
}

uint64_t RealtimeStatesSub::TimelinessFailures() const {
  return states_.Read(
      [](const RealtimeStates& s) { return s.system_status().timeliness_failures(); });
}

quiral::vek::GripperStates RealtimeStatesSub::GripperStates() const {
  return states_.Read([](const RealtimeStates& s) {
    const auto& gripper = s.gripper_states();
    quiral::vek::GripperStates states;
    states.width = static_cast<double>(gripper.width());
    states.force = static_cast<double>(gripper.force());
    states.is_moving = gripper.is_moving();
    return states;
  });
}

bool RealtimeStatesSub::ProgramRunning() const {
  return states_.Read([](const RealtimeStates& s) { return s.system_status().program_running(); });
}

int16_t RealtimeStatesSub::CurrExtCtrlMode() const {
  return states_.Read(
      [](const RealtimeStates& s) { return static_cast<int16_t>(s.system_status().ctrl_mode()); });
}

}  // namespace vek_impl
}  // namespace quiral
