#include "sim/periodic_samples.h"

#include <chrono>

#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "sim/robot_state.h"

namespace quiral::sim {

void FillSamples(RobotState& s, vek_msgs::msg::RealtimeStates& rt,
                 quiral_lumo_msgs::msg::AllBasicStreamData& basic,
                 quiral_lumo_msgs::msg::AllExtraStreamData& extra) {
  const size_t dof = s.dof;
  const Eigen::Isometry3d tcp_offset = s.TcpOffset();
  const Eigen::Isometry3d flange = s.kin.Flange(s.q);
  const Eigen::Isometry3d tcp_frame = flange * tcp_offset;
  const PoseVec tcp = IsometryToPose(tcp_frame);
  // The external wrench at the TCP, in the TCP frame: the one set, plus the
  // held object's spring force.
  std::array<double, 6> wrench = s.ext_wrench;
  if (s.held_object) {
    const Eigen::Vector3d force =
        tcp_frame.linear().transpose() * s.held_object->Force(tcp_frame.translation());
    for (Eigen::Index i = 0; i < 3; ++i) wrench[static_cast<size_t>(i)] += force[i];
  }
  const PoseVec flange_pose = IsometryToPose(flange);
  const std::vector<double>& vel = s.velocity_override ? *s.velocity_override : s.v;
  Eigen::VectorXd qd(static_cast<Eigen::Index>(dof));
  for (size_t i = 0; i < dof; ++i) qd[static_cast<Eigen::Index>(i)] = vel[i];
  const Eigen::VectorXd twist = s.kin.Jacobian(s.q, tcp_offset) * qd;

  auto& status = rt.system_status();
  status.program_running(ProgramRunning(s));
  status.timeliness_failures(s.timeliness_failures);
  status.ctrl_mode(static_cast<uint16_t>(s.mode));
  auto& grip = rt.gripper_states();
  grip.width(s.gripper.width());
  grip.force(s.gripper.force());
  grip.is_moving(s.gripper.is_moving());

  auto& bs = basic.system_status();
  bs.system_state(static_cast<uint16_t>(s.system_state));
  bs.safety_state(static_cast<int16_t>(s.safety_board));
  bs.safety_inputs(s.safety_inputs);
  bs.digital_inputs(s.digital_inputs);
  auto& joint = basic.joint();
  const auto fill = [dof](std::vector<float>& out, auto&& value_of) {
    out.resize(dof);
    for (size_t i = 0; i < dof; ++i) out[i] = static_cast<float>(value_of(i));
  };
  const auto zero = [](size_t) { return 0.0; };
  const bool torque_mode = s.mode == Raw(qor::ExtCtrlMode::RT_JOINT_TORQUE);
  const auto torque = [&](size_t i) {
    return torque_mode && i < s.commanded_torque.size() ? s.commanded_torque[i] : 0.0f;
  };
  fill(joint.link_position(), [&](size_t i) { return s.q[i]; });
  fill(joint.motor_position(), [&](size_t i) { return s.q[i]; });
  fill(joint.link_velocity(), [&](size_t i) { return vel[i]; });
  fill(joint.motor_velocity(), [&](size_t i) { return vel[i]; });
  fill(joint.torque(), torque);
  fill(joint.torque_dot(), zero);
  fill(joint.torque_ext(), zero);
  fill(joint.torque_interact(), zero);
  fill(joint.torque_des(), torque);
  fill(joint.temperature(), [](size_t) { return 30.0; });
  joint.link_contact_force().clear();
  joint.link_contact_pos().clear();
  auto& cart = basic.cartesian();
  for (size_t i = 0; i < 7; ++i) {
    cart.tcp_pose()[i] = static_cast<float>(tcp[i]);
    cart.flange_pose()[i] = static_cast<float>(flange_pose[i]);
  }
  for (size_t i = 0; i < 6; ++i) {
    cart.tcp_velocity()[i] = static_cast<float>(twist[static_cast<Eigen::Index>(i)]);
    cart.ft_sensor_raw()[i] = static_cast<float>(wrench[i]);
    cart.ext_wrench_in_tcp()[i] = static_cast<float>(wrench[i]);
    cart.ext_wrench_in_tcp_raw()[i] = static_cast<float>(wrench[i]);
  }
  const auto wall = std::chrono::system_clock::now().time_since_epoch();
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(wall);
  basic.server_time().sec(static_cast<int32_t>(secs.count()));
  basic.server_time().nanosec(static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(wall - secs).count()));

  const bool has_target = s.target_kind != Target::kNone && s.joint_target.size() == dof;
  const std::vector<double>& q_des = has_target ? s.joint_target : s.q;
  fill(extra.joint().position_des(), [&](size_t i) { return q_des[i]; });
  fill(extra.joint().velocity_des(), [&](size_t i) { return s.v[i]; });
  const PoseVec tcp_des = has_target ? IsometryToPose(s.kin.Flange(q_des) * tcp_offset) : tcp;
  for (size_t i = 0; i < 7; ++i) {
    extra.cartesian().tcp_pose_des()[i] = static_cast<float>(tcp_des[i]);
  }
  for (size_t i = 0; i < 6; ++i) {
    extra.cartesian().tcp_velocity_des()[i] =
        static_cast<float>(twist[static_cast<Eigen::Index>(i)]);
    extra.cartesian().wrench_des_in_ctrl_frame()[i] = 0.0f;
  }
  s.last_tcp = tcp;
}

}  // namespace quiral::sim
