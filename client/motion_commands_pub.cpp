#include "client/motion_commands_pub.h"

#include <thread>

#include <spdlog/spdlog.h>

#include "middleware/dds_timing.h"
#include "middleware/fast_dds_publisher.h"
#include "middleware/realtime_udp_node.h"

namespace quiral {
namespace vek_impl {
namespace {

const std::string kMotionCommandsTopicPrefix = "quiral_vek/motion_commands/";

}  // namespace

MotionCommandsPub::~MotionCommandsPub() { publisher_.reset(); }

QorState MotionCommandsPub::Init(const middleware2::RealtimeUdpNode& node,
                                 const std::string& topic_suffix) {
  const std::string topic = kMotionCommandsTopicPrefix + topic_suffix;
  spdlog::debug("[quiral::vek::Robot] Creating publisher on topic: {}", topic);
  auto publisher =
      std::make_shared<middleware2::FastDDSPublisher<vek_msgs::msg::MotionCommandsPubSubType>>(
          node.participant, topic);
  publisher->InitializeRealtimeSocketProfile(true);
  std::this_thread::sleep_for(middleware2::kEndpointSettleDelay);
  std::lock_guard<std::mutex> lock(mutex_);
  publisher_ = std::move(publisher);
  return _MakeQorState(QorGeneralState::OK);
}

void MotionCommandsPub::SetJointCommands(const vek_msgs::msg::JointCommands& commands,
                                         uint64_t sequence_num) {
  std::lock_guard<std::mutex> lock(mutex_);
  message_.sequence_num(sequence_num);
  message_.joint_commands(commands);
}

void MotionCommandsPub::SetCartesianCommands(const vek_msgs::msg::CartesianCommands& commands,
                                             uint64_t sequence_num) {
  std::lock_guard<std::mutex> lock(mutex_);
  message_.sequence_num(sequence_num);
  message_.cartesian_commands(commands);
  message_.cartesian_multi_commands().clear();
  message_.joint_multi_positions().clear();
}

void MotionCommandsPub::SetCartesianMultiCommands(
    const std::vector<vek_msgs::msg::CartesianCommands>& commands,
    const std::vector<std::vector<float>>& joint_positions, uint64_t sequence_num) {
  std::lock_guard<std::mutex> lock(mutex_);
  message_.sequence_num(sequence_num);
  message_.cartesian_commands(vek_msgs::msg::CartesianCommands());
  message_.cartesian_multi_commands(commands);
  message_.joint_multi_positions(joint_positions);
}

void MotionCommandsPub::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  message_ = vek_msgs::msg::MotionCommands();
}

QorState MotionCommandsPub::Publish() {
  bool written = false;
  {
    // The write is synchronous and best effort (it blocks for at most
    // 50 µs), so holding the lock across it stays cheap.
    std::lock_guard<std::mutex> lock(mutex_);
    written = publisher_ != nullptr && publisher_->Publish(message_);
  }
  if (!written) {
    spdlog::error("[quiral::vek::Robot] Failed to publish motion commands message");
    return _MakeQorState(QorGeneralState::FAULT);
  }
  return _MakeQorState(QorGeneralState::OK);
}

}  // namespace vek_impl
}  // namespace quiral
