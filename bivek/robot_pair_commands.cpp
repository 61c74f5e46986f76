// quiral::bivek::RobotPair: the commands that run both arms at once, one
// task per arm (bivek/per_arm.h). No argument is checked here: each arm's
// own operation checks what it is given, so an argument that is wrong for
// one arm fails that arm only.

#include <stdexcept>

#include "bivek/per_arm.h"
#include "bivek/robot_pair_impl.h"

namespace quiral::bivek {
namespace {

using detail::RunConcurrent;
using detail::RunConcurrentSelected;

using RE = detail::Retag<std::runtime_error>;
using LE_RE = detail::Retag<std::logic_error, std::runtime_error>;
using IA_RE = detail::Retag<std::invalid_argument, std::runtime_error>;
using IA_LE = detail::Retag<std::invalid_argument, std::logic_error>;
using IA_LE_RE = detail::Retag<std::invalid_argument, std::logic_error, std::runtime_error>;
using LN_IA_RE = detail::Retag<std::length_error, std::invalid_argument, std::runtime_error>;
using LN_LE_RE = detail::Retag<std::length_error, std::logic_error, std::runtime_error>;

}  // namespace

RobotPair::Impl::PerArm<bool> RobotPair::Impl::ClearFault(unsigned int timeout_sec) {
  return RunConcurrent(
      RE(Name("ClearFault")), [&] { return robots.first->ClearFault(timeout_sec); },
      [&] { return robots.second->ClearFault(timeout_sec); });
}

RobotPair::Impl::PerArm<RobotPair::Impl::ParamMap> RobotPair::Impl::global_variables() const {
  return RunConcurrent(
      RE(Name("global_variables")), [&] { return robots.first->global_variables(); },
      [&] { return robots.second->global_variables(); });
}

RobotPair::Impl::PerArm<RobotPair::Impl::ParamMap> RobotPair::Impl::primitive_states() const {
  return RunConcurrent(
      RE(Name("primitive_states")), [&] { return robots.first->primitive_states(); },
      [&] { return robots.second->primitive_states(); });
}

void RobotPair::Impl::SwitchMode(const PerArm<vek::Mode>& modes) {
  RunConcurrent(
      IA_LE_RE(Name("SwitchMode")), [&] { robots.first->SwitchMode(modes.first); },
      [&] { robots.second->SwitchMode(modes.second); });
}

void RobotPair::Impl::SetNullSpacePosture(const PerArm<std::vector<double>>& ref_positions) {
  RunConcurrent(
      IA_LE_RE(Name("SetNullSpacePosture")),
      [&] { robots.first->SetNullSpacePosture(ref_positions.first); },
      [&] { robots.second->SetNullSpacePosture(ref_positions.second); });
}

void RobotPair::Impl::SetMaxContactTorque(const PerArm<std::vector<double>>& max_torques) {
  RunConcurrent(
      IA_LE_RE(Name("SetMaxContactTorque")),
      [&] { robots.first->SetMaxContactTorque(max_torques.first); },
      [&] { robots.second->SetMaxContactTorque(max_torques.second); });
}

void RobotPair::Impl::SetDigitalOutputs(
    const PerArm<std::map<unsigned int, bool>>& digital_outputs) {
  RunConcurrent(
      IA_RE(Name("SetDigitalOutputs")),
      [&] { robots.first->SetDigitalOutputs(digital_outputs.first); },
      [&] { robots.second->SetDigitalOutputs(digital_outputs.second); });
}

void RobotPair::Impl::SetMaxContactWrench(const PerArm<std::array<double, 6>>& max_wrench) {
  RunConcurrent(
      IA_LE_RE(Name("SetMaxContactWrench")),
      [&] { robots.first->SetMaxContactWrench(max_wrench.first); },
      [&] { robots.second->SetMaxContactWrench(max_wrench.second); });
}

void RobotPair::Impl::SetPassiveForceControl(PerArm<bool> is_enabled) {
  RunConcurrent(
      LE_RE(Name("SetPassiveForceControl")),
      [&] { robots.first->SetPassiveForceControl(is_enabled.first); },
      [&] { robots.second->SetPassiveForceControl(is_enabled.second); });
}

void RobotPair::Impl::SetJointInertiaScale(const PerArm<std::vector<double>>& inertia_scales) {
  RunConcurrent(
      IA_LE_RE(Name("SetJointInertiaScale")),
      [&] { robots.first->SetJointInertiaScale(inertia_scales.first); },
      [&] { robots.second->SetJointInertiaScale(inertia_scales.second); });
}

void RobotPair::Impl::PausePlan(PerArm<bool> pause) {
  RunConcurrent(
      LE_RE(Name("PausePlan")), [&] { robots.first->PausePlan(pause.first); },
      [&] { robots.second->PausePlan(pause.second); });
}

void RobotPair::Impl::StopPlan(PerArm<bool> selected) {
  RunConcurrentSelected(
      LE_RE(Name("StopPlan")), selected, [&] { robots.first->StopPlan(); },
      [&] { robots.second->StopPlan(); });
}

void RobotPair::Impl::SetGlobalVariables(const PerArm<ParamMap>& global_vars) {
  RunConcurrent(
      LN_IA_RE(Name("SetGlobalVariables")),
      [&] { robots.first->SetGlobalVariables(global_vars.first); },
      [&] { robots.second->SetGlobalVariables(global_vars.second); });
}

void RobotPair::Impl::SetCartesianImpedance(const PerArm<std::array<double, 6>>& K_x,
                                            const PerArm<std::array<double, 6>>& Z_x) {
  RunConcurrent(
      IA_LE_RE(Name("SetCartesianImpedance")),
      [&] { robots.first->SetCartesianImpedance(K_x.first, Z_x.first); },
      [&] { robots.second->SetCartesianImpedance(K_x.second, Z_x.second); });
}

void RobotPair::Impl::SetNullSpaceObjectives(PerArm<double> linear_manipulability,
                                             PerArm<double> angular_manipulability,
                                             PerArm<double> ref_positions_tracking) {
  RunConcurrent(
      IA_LE_RE(Name("SetNullSpaceObjectives")),
      [&] {
        robots.first->SetNullSpaceObjectives(linear_manipulability.first,
                                             angular_manipulability.first,
                                             ref_positions_tracking.first);
      },
      [&] {
        robots.second->SetNullSpaceObjectives(linear_manipulability.second,
                                              angular_manipulability.second,
                                              ref_positions_tracking.second);
      });
}

void RobotPair::Impl::ExecutePlan(PerArm<unsigned int> indices, bool continue_exec,
                                  bool block_until_started) {
  RunConcurrent(
      IA_LE_RE(Name("ExecutePlan")),
      [&] { robots.first->ExecutePlan(indices.first, continue_exec, block_until_started); },
      [&] { robots.second->ExecutePlan(indices.second, continue_exec, block_until_started); });
}

void RobotPair::Impl::ExecutePlan(const PerArm<std::string>& names, bool continue_exec,
                                  bool block_until_started) {
  RunConcurrent(
      IA_LE_RE(Name("ExecutePlan")),
      [&] { robots.first->ExecutePlan(names.first, continue_exec, block_until_started); },
      [&] { robots.second->ExecutePlan(names.second, continue_exec, block_until_started); });
}

void RobotPair::Impl::SendMultiCartesianMotionForce(
    const PerArm<std::vector<vek::NrtCartesianCmd>>& cart_cmds,
    const PerArm<std::vector<std::vector<double>>>& joint_pos) {
  PerArm<std::vector<vek::NrtCartesianCmd>> base_cmds = cart_cmds;
  for (vek::NrtCartesianCmd& cmd : base_cmds.first) ToBase(cmd.pose, translations_in_world.first);
  for (vek::NrtCartesianCmd& cmd : base_cmds.second) {
    ToBase(cmd.pose, translations_in_world.second);
  }
  RunConcurrent(
      IA_LE_RE(Name("SendMultiCartesianMotionForce")),
      [&] { robots.first->SendMultiCartesianMotionForce(base_cmds.first, joint_pos.first); },
      [&] { robots.second->SendMultiCartesianMotionForce(base_cmds.second, joint_pos.second); });
}

void RobotPair::Impl::SetForceControlFrame(PerArm<vek::CoordType> root_coord,
                                           const PerArm<std::array<double, 7>>& T_in_root) {
  RunConcurrent(
      LE_RE(Name("SetForceControlFrame")),
      [&] { robots.first->SetForceControlFrame(root_coord.first, T_in_root.first); },
      [&] { robots.second->SetForceControlFrame(root_coord.second, T_in_root.second); });
}

void RobotPair::Impl::SetJointImpedance(const PerArm<std::vector<double>>& K_q,
                                        const PerArm<std::vector<double>>& Z_q) {
  RunConcurrent(
      IA_LE_RE(Name("SetJointImpedance")),
      [&] { robots.first->SetJointImpedance(K_q.first, Z_q.first); },
      [&] { robots.second->SetJointImpedance(K_q.second, Z_q.second); });
}

void RobotPair::Impl::ExecutePrimitive(const PerArm<std::string>& primitive_names,
                                       const PerArm<ParamMap>& input_params,
                                       bool block_until_started) {
  RunConcurrent(
      LN_LE_RE(Name("ExecutePrimitive")),
      [&] {
        robots.first->ExecutePrimitive(primitive_names.first, input_params.first,
                                       block_until_started);
      },
      [&] {
        robots.second->ExecutePrimitive(primitive_names.second, input_params.second,
                                        block_until_started);
      });
}

void RobotPair::Impl::SetForceControlAxis(const PerArm<std::array<bool, 6>>& enabled_axes,
                                          const PerArm<std::array<double, 3>>& max_linear_vel) {
  RunConcurrent(
      IA_LE_RE(Name("SetForceControlAxis")),
      [&] { robots.first->SetForceControlAxis(enabled_axes.first, max_linear_vel.first); },
      [&] { robots.second->SetForceControlAxis(enabled_axes.second, max_linear_vel.second); });
}

void RobotPair::Impl::SendJointPosition(const PerArm<std::vector<double>>& positions,
                                        const PerArm<std::vector<double>>& velocities,
                                        const PerArm<std::vector<double>>& max_vel,
                                        const PerArm<std::vector<double>>& max_acc) {
  RunConcurrent(
      IA_LE(Name("SendJointPosition")),
      [&] {
        robots.first->SendJointPosition(positions.first, velocities.first, max_vel.first,
                                        max_acc.first);
      },
      [&] {
        robots.second->SendJointPosition(positions.second, velocities.second, max_vel.second,
                                         max_acc.second);
      });
}

void RobotPair::Impl::SendCartesianMotionForce(
    const PerArm<std::array<double, 7>>& poses, const PerArm<std::array<double, 6>>& wrenches,
    const PerArm<std::array<double, 6>>& velocities, PerArm<double> max_linear_vel,
    PerArm<double> max_angular_vel, PerArm<double> max_linear_acc, PerArm<double> max_angular_acc) {
  PerArm<std::array<double, 7>> base_poses = poses;
  ToBase(base_poses.first, translations_in_world.first);
  ToBase(base_poses.second, translations_in_world.second);
  RunConcurrent(
      IA_LE(Name("SendCartesianMotionForce")),
      [&] {
        robots.first->SendCartesianMotionForce(base_poses.first, wrenches.first, velocities.first,
                                               max_linear_vel.first, max_angular_vel.first,
                                               max_linear_acc.first, max_angular_acc.first);
      },
      [&] {
        robots.second->SendCartesianMotionForce(
            base_poses.second, wrenches.second, velocities.second, max_linear_vel.second,
            max_angular_vel.second, max_linear_acc.second, max_angular_acc.second);
      });
}

}  // namespace quiral::bivek
