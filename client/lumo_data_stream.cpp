#include "client/lumo_data_stream.h"

#include <cmath>

#include "client/snapshot_subscriber_impl.h"
#include "middleware/realtime_udp_node.h"

namespace quiral {
namespace vek_impl {

template class SnapshotSubscriber<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>;
template class SnapshotSubscriber<quiral_lumo_msgs::msg::AllExtraStreamDataPubSubType>;

namespace {

using quiral_lumo_msgs::msg::AllBasicStreamData;
using quiral_lumo_msgs::msg::AllExtraStreamData;

const std::string kBasicStreamTopicPrefix = "quiral_lumo/basic_stream_data/";
const std::string kExtraStreamTopicPrefix = "quiral_lumo/extra_stream_data/";

void Widen(const std::vector<float>& from, std::vector<double>& to) {
  to.assign(from.begin(), from.end());
}

template <size_t N>
void Widen(const std::array<float, N>& from, std::array<double, N>& to) {
  for (size_t i = 0; i < N; ++i) {
    to[i] = static_cast<double>(from[i]);
  }
}

// R · v for the rotation of the unit quaternion (w, x, y, z).
std::array<double, 3> Rotate(double w, double x, double y, double z, double vx, double vy,
                             double vz) {
  const double r00 = 1 - 2 * (y * y + z * z), r01 = 2 * (x * y - w * z), r02 = 2 * (x * z + w * y);
  const double r10 = 2 * (x * y + w * z), r11 = 1 - 2 * (x * x + z * z), r12 = 2 * (y * z - w * x);
  const double r20 = 2 * (x * z - w * y), r21 = 2 * (y * z + w * x), r22 = 1 - 2 * (x * x + y * y);
  return {r00 * vx + r01 * vy + r02 * vz, r10 * vx + r11 * vy + r12 * vz,
          r20 * vx + r21 * vy + r22 * vz};
}

}  // namespace

QorState LUMODataStream::Init(const middleware2::RealtimeUdpNode& node,
                              const std::string& topic_suffix) {
  basic_.Init(node.participant, kBasicStreamTopicPrefix + topic_suffix,
              SubscriberProfile::kRealtime);
  extra_.Init(node.participant, kExtraStreamTopicPrefix + topic_suffix,
              SubscriberProfile::kRealtime);
  return _MakeQorState(QorGeneralState::OK);
}

qor::SystemState LUMODataStream::GetSystemState() const {
  return basic_.Read([](const AllBasicStreamData& s) {
    return static_cast<qor::SystemState>(static_cast<int32_t>(s.system_status().system_state()));
  });
}

qor::SafetyBoardState LUMODataStream::SafetyBoardState() const {
  return basic_.Read([](const AllBasicStreamData& s) {
    return static_cast<qor::SafetyBoardState>(
        static_cast<int32_t>(s.system_status().safety_state()));
  });
}

std::array<bool, 8> LUMODataStream::SafetyInputs() const {
  return basic_.Read([](const AllBasicStreamData& s) { return s.system_status().safety_inputs(); });
}

std::array<bool, 18> LUMODataStream::GetDigitalInput() const {
  return basic_.Read(
      [](const AllBasicStreamData& s) { return s.system_status().digital_inputs(); });
}

quiral::vek::RobotStates LUMODataStream::GetRobotStates() const {
  quiral::vek::RobotStates states;
  basic_.Read([&states](const AllBasicStreamData& sample) {
    const auto& time = sample.server_time();
    states.timestamp = {time.sec(), static_cast<int32_t>(time.nanosec())};
    const auto& joint = sample.joint();
    Widen(joint.link_position(), states.link_position);
    Widen(joint.motor_position(), states.motor_position);
    Widen(joint.link_velocity(), states.link_velocity);
    Widen(joint.motor_velocity(), states.motor_velocity);
    Widen(joint.torque(), states.torque);
    Widen(joint.torque_dot(), states.torque_dot);
    Widen(joint.torque_ext(), states.torque_ext);
    Widen(joint.torque_interact(), states.torque_interact);
    Widen(joint.temperature(), states.temperature);
    const auto& cartesian = sample.cartesian();
    Widen(cartesian.tcp_pose(), states.tcp_pose);
    Widen(cartesian.tcp_velocity(), states.tcp_velocity);
    Widen(cartesian.flange_pose(), states.flange_pose);
    Widen(cartesian.ft_sensor_raw(), states.ft_sensor_raw);
    Widen(cartesian.ext_wrench_in_tcp(), states.ext_wrench_in_tcp);
    Widen(cartesian.ext_wrench_in_tcp_raw(), states.ext_wrench_in_tcp_raw);
  });
  // The rotation runs outside the lock.
  SetExtWrenchInWorld(states);
  return states;
}

void LUMODataStream::SetExtWrenchInWorld(quiral::vek::RobotStates& states) const {
  double w = states.tcp_pose[3], x = states.tcp_pose[4], y = states.tcp_pose[5],
         z = states.tcp_pose[6];
  const double s = w * w + x * x + y * y + z * z;
  if (s > 0) {
    const double norm = std::sqrt(s);
    w /= norm;
    x /= norm;
    y /= norm;
    z /= norm;
  }
  auto to_world = [&](const std::array<double, 6>& in_tcp, std::array<double, 6>& in_world) {
    const auto force = Rotate(w, x, y, z, in_tcp[0], in_tcp[1], in_tcp[2]);
    const auto moment = Rotate(w, x, y, z, in_tcp[3], in_tcp[4], in_tcp[5]);
    in_world = {force[0], force[1], force[2], moment[0], moment[1], moment[2]};
  };
  to_world(states.ext_wrench_in_tcp, states.ext_wrench_in_world);
  to_world(states.ext_wrench_in_tcp_raw, states.ext_wrench_in_world_raw);
}

quiral::vek::RobotActions LUMODataStream::GetRobotActions() const {
  quiral::vek::RobotActions actions;
  basic_.Read([&actions](const AllBasicStreamData& sample) {
    Widen(sample.joint().torque_des(), actions.torque_des);
  });
  extra_.Read([&actions](const AllExtraStreamData& sample) {
    Widen(sample.joint().position_des(), actions.position_des);
    Widen(sample.joint().velocity_des(), actions.velocity_des);
    Widen(sample.cartesian().tcp_pose_des(), actions.tcp_pose_des);
    Widen(sample.cartesian().tcp_velocity_des(), actions.tcp_velocity_des);
    Widen(sample.cartesian().wrench_des_in_ctrl_frame(), actions.wrench_des_in_ctrl_frame);
  });
  return actions;
}

std::vector<float> LUMODataStream::GetMultiContactForces() const {
  return basic_.Read([](const AllBasicStreamData& s) { return s.joint().link_contact_force(); });
}

std::vector<float> LUMODataStream::GetMultiContactPos() const {
  return basic_.Read([](const AllBasicStreamData& s) { return s.joint().link_contact_pos(); });
}

}  // namespace vek_impl
}  // namespace quiral
