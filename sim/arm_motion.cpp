#include "sim/arm_motion.h"

#include <algorithm>
#include <cmath>

#include "msgs/vek_msgs/motion_commands.h"
#include "sim/message_args.h"
#include "sim/robot_state.h"

namespace quiral::sim {

namespace {

using Mode = qor::ExtCtrlMode;

constexpr double kPositionGain = 50.0;  // 1/s, joint position tracking

}  // namespace

void StepArm(RobotState& s, double dt) {
  if (s.target_kind == Target::kCartesian && s.cart_target_new) {
    std::vector<double> goal = s.q;
    // Followed to a micrometre, so that steps far below a millimetre move
    // the arm too.
    s.kin.SolveIk(s.cart_target, s.TcpOffset(), s.q_min, s.q_max, false, 30, goal, 1e-6);
    s.joint_target = goal;
    s.target_vmax = s.v_limit;
    s.cart_target_new = false;
  }
  const size_t dof = s.dof;
  if (s.target_kind == Target::kWaypoints) {
    bool reached = s.joint_target.size() == dof;
    for (size_t i = 0; reached && i < dof; ++i) {
      reached = std::abs(s.joint_target[i] - s.q[i]) < 1e-3 && std::abs(s.v[i]) < 0.017;
    }
    if ((reached || s.joint_target.size() != dof) && !s.waypoints.empty()) {
      s.joint_target = s.waypoints.front();
      s.waypoints.pop_front();
      s.target_vmax = s.v_limit;
    }
  }
  const bool has_target = s.target_kind != Target::kNone && s.joint_target.size() == dof &&
                          s.target_vmax.size() == dof;
  for (size_t i = 0; i < dof; ++i) {
    double vdes = 0.0;
    if (has_target) {
      const double err = s.joint_target[i] - s.q[i];
      const double mag = std::min({s.target_vmax[i], std::sqrt(2.0 * s.a_limit * std::abs(err)),
                                   kPositionGain * std::abs(err)});
      vdes = std::copysign(mag, err);
    }
    const double dv = std::clamp(vdes - s.v[i], -s.a_limit * dt, s.a_limit * dt);
    s.v[i] += dv;
    double next = s.q[i] + s.v[i] * dt;
    if (has_target && (s.joint_target[i] - s.q[i]) * (s.joint_target[i] - next) < 0) {
      next = s.joint_target[i];
      s.v[i] = 0.0;
    }
    const bool inside = s.q[i] >= s.q_min[i] && s.q[i] <= s.q_max[i];
    if (inside && (next < s.q_min[i] || next > s.q_max[i])) {
      next = std::clamp(next, s.q_min[i], s.q_max[i]);
      s.v[i] = 0.0;
    }
    s.q[i] = next;
  }
}

namespace {

bool ApplyByMode(RobotState& s, const vek_msgs::msg::MotionCommands& command) {
  const auto& jc = command.joint_commands();
  const auto& cc = command.cartesian_commands();
  switch (static_cast<Mode>(s.mode)) {
    case Mode::RT_JOINT_TORQUE:
      if (jc.torque().size() != s.dof || !AllFinite(jc.torque())) return false;
      s.commanded_torque = jc.torque();
      return true;
    case Mode::RT_JOINT_IMPEDANCE:
    case Mode::RT_JOINT_POSITION:
      if (jc.position().size() != s.dof || !AllFinite(jc.position())) return false;
      s.SetJointTarget(ToDoubles(jc.position()), nullptr, 1.0);
      return true;
    case Mode::NRT_JOINT_IMPEDANCE:
    case Mode::NRT_JOINT_POSITION:
    case Mode::AUTO_RECOVERY: {
      if (jc.position().size() != s.dof || jc.max_vel().size() != s.dof ||
          !AllFinite(jc.position()) || !AllFinite(jc.max_vel())) {
        return false;
      }
      const auto max_vel = ToDoubles(jc.max_vel());
      s.SetJointTarget(ToDoubles(jc.position()), &max_vel, 1.0);
      return true;
    }
    case Mode::RT_CARTESIAN_MOTION_FORCE:
    case Mode::NRT_CARTESIAN_MOTION_FORCE:
    case Mode::NRT_SUPER_PRIMITIVE: {
      const auto& multi = command.cartesian_multi_commands();
      const auto& positions = command.joint_multi_positions();
      if (s.mode == Raw(Mode::NRT_SUPER_PRIMITIVE) && !multi.empty()) {
        // Waypoints, one joint position per Cartesian command.
        bool ok = positions.size() == multi.size();
        for (const auto& p : positions) ok = ok && p.size() == s.dof && AllFinite(p);
        if (!ok) return false;
        s.StopMotion();
        for (const auto& p : positions) s.waypoints.push_back(ToDoubles(p));
        s.target_kind = Target::kWaypoints;
        return true;
      }
      if (!AllFinite(cc.pose())) return false;
      PoseVec pose;
      for (size_t i = 0; i < 7; ++i) pose[i] = cc.pose()[i];
      const double qn =
          std::sqrt(pose[3] * pose[3] + pose[4] * pose[4] + pose[5] * pose[5] + pose[6] * pose[6]);
      if (qn <= 1e-6) return false;
      s.cart_target = PoseToIsometry(pose);
      s.cart_target_new = true;
      s.target_kind = Target::kCartesian;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

bool ApplyMotionCommand(RobotState& s, const vek_msgs::msg::MotionCommands& command) {
  if (s.lose_motion_commands > 0) {
    --s.lose_motion_commands;
    ++s.motion_ignored;
    return false;
  }
  const bool applied =
      (s.Operational() || s.mode == Raw(Mode::AUTO_RECOVERY)) && ApplyByMode(s, command);
  ++(applied ? s.motion_applied : s.motion_ignored);
  return applied;
}

}  // namespace quiral::sim
