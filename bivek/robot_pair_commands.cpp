// quiral::bivek::RobotPair: the commands that run both arms at once, one
// task per arm (bivek/per_arm.h). Each command that takes arguments checks
// both arms' arguments with the arm's own checks before either arm is
// commanded; what the arms then report (their state, the robot's replies)
// fails the arm it came from, as a per-arm error.

#include "bivek/per_arm.h"
#include "bivek/robot_pair_impl.h"

namespace quiral::bivek {
namespace {

using detail::RunConcurrent;
using detail::RunConcurrentSelected;
using detail::TagFailures;
using detail::TagInputAndFailures;
using detail::TagInputAndState;
using detail::TagInputStateAndFailures;
using detail::TagOversizeInputAndFailures;
using detail::TagOversizeStateAndFailures;
using detail::TagStateAndFailures;
using vek::Robot;
using RobotImpl = vek::Robot::Impl;

}  // namespace

RobotPair::Impl::PerArm<bool> RobotPair::Impl::ClearFault(unsigned int timeout_sec) {
  return RunConcurrent(TagFailures(Name("ClearFault")), robots, &Robot::ClearFault, timeout_sec);
}

RobotPair::Impl::PerArm<RobotPair::Impl::ParamMap> RobotPair::Impl::global_variables() const {
  return RunConcurrent(TagFailures(Name("global_variables")), robots, &Robot::global_variables);
}

RobotPair::Impl::PerArm<RobotPair::Impl::ParamMap> RobotPair::Impl::primitive_states() const {
  return RunConcurrent(TagFailures(Name("primitive_states")), robots, &Robot::primitive_states);
}

void RobotPair::Impl::SwitchMode(const PerArm<vek::Mode>& modes) {
  RunConcurrent(TagInputStateAndFailures(Name("SwitchMode")), robots,
                Checked(&RobotImpl::CheckSwitchMode, &Robot::SwitchMode), modes);
}

void RobotPair::Impl::SetNullSpacePosture(const PerArm<std::vector<double>>& ref_positions) {
  RunConcurrent(TagInputStateAndFailures(Name("SetNullSpacePosture")), robots,
                Checked(&RobotImpl::CheckSetNullSpacePosture, &Robot::SetNullSpacePosture),
                ref_positions);
}

void RobotPair::Impl::SetMaxContactTorque(const PerArm<std::vector<double>>& max_torques) {
  RunConcurrent(TagInputStateAndFailures(Name("SetMaxContactTorque")), robots,
                Checked(&RobotImpl::CheckSetMaxContactTorque, &Robot::SetMaxContactTorque),
                max_torques);
}

void RobotPair::Impl::SetDigitalOutputs(
    const PerArm<std::map<unsigned int, bool>>& digital_outputs) {
  RunConcurrent(TagInputAndFailures(Name("SetDigitalOutputs")), robots,
                Checked(&RobotImpl::CheckSetDigitalOutputs, &Robot::SetDigitalOutputs),
                digital_outputs);
}

void RobotPair::Impl::SetMaxContactWrench(const PerArm<std::array<double, 6>>& max_wrench) {
  RunConcurrent(TagInputStateAndFailures(Name("SetMaxContactWrench")), robots,
                Checked(&RobotImpl::CheckSetMaxContactWrench, &Robot::SetMaxContactWrench),
                max_wrench);
}

void RobotPair::Impl::SetPassiveForceControl(PerArm<bool> is_enabled) {
  RunConcurrent(TagStateAndFailures(Name("SetPassiveForceControl")), robots,
                &Robot::SetPassiveForceControl, is_enabled);
}

void RobotPair::Impl::SetJointInertiaScale(const PerArm<std::vector<double>>& inertia_scales) {
  RunConcurrent(TagInputStateAndFailures(Name("SetJointInertiaScale")), robots,
                Checked(&RobotImpl::CheckSetJointInertiaScale, &Robot::SetJointInertiaScale),
                inertia_scales);
}

void RobotPair::Impl::PausePlan(PerArm<bool> pause) {
  RunConcurrent(TagStateAndFailures(Name("PausePlan")), robots, &Robot::PausePlan, pause);
}

void RobotPair::Impl::StopPlan(PerArm<bool> selected) {
  RunConcurrentSelected(TagStateAndFailures(Name("StopPlan")), selected, robots, &Robot::StopPlan);
}

void RobotPair::Impl::SetGlobalVariables(const PerArm<ParamMap>& global_vars) {
  RunConcurrent(TagOversizeInputAndFailures(Name("SetGlobalVariables")), robots,
                Checked(&RobotImpl::CheckSetGlobalVariables, &Robot::SetGlobalVariables),
                global_vars);
}

void RobotPair::Impl::SetCartesianImpedance(const PerArm<std::array<double, 6>>& K_x,
                                            const PerArm<std::array<double, 6>>& Z_x) {
  RunConcurrent(TagInputStateAndFailures(Name("SetCartesianImpedance")), robots,
                Checked(&RobotImpl::CheckSetCartesianImpedance, &Robot::SetCartesianImpedance), K_x,
                Z_x);
}

void RobotPair::Impl::SetNullSpaceObjectives(PerArm<double> linear_manipulability,
                                             PerArm<double> angular_manipulability,
                                             PerArm<double> ref_positions_tracking) {
  RunConcurrent(TagInputStateAndFailures(Name("SetNullSpaceObjectives")), robots,
                Checked(&RobotImpl::CheckSetNullSpaceObjectives, &Robot::SetNullSpaceObjectives),
                linear_manipulability, angular_manipulability, ref_positions_tracking);
}

void RobotPair::Impl::ExecutePlan(PerArm<unsigned int> indices, bool continue_exec,
                                  bool block_until_started) {
  void (Robot::*const by_index)(unsigned int, bool, bool) = &Robot::ExecutePlan;
  RunConcurrent(TagInputStateAndFailures(Name("ExecutePlan")), robots, by_index, indices,
                continue_exec, block_until_started);
}

void RobotPair::Impl::ExecutePlan(const PerArm<std::string>& names, bool continue_exec,
                                  bool block_until_started) {
  void (Robot::*const by_name)(const std::string&, bool, bool) = &Robot::ExecutePlan;
  RunConcurrent(TagInputStateAndFailures(Name("ExecutePlan")), robots,
                Checked(&RobotImpl::CheckExecutePlan, by_name), names, continue_exec,
                block_until_started);
}

void RobotPair::Impl::SendMultiCartesianMotionForce(
    const PerArm<std::vector<vek::NrtCartesianCmd>>& cart_cmds,
    const PerArm<std::vector<std::vector<double>>>& joint_pos) {
  PerArm<std::vector<vek::NrtCartesianCmd>> base_cmds = cart_cmds;
  for (vek::NrtCartesianCmd& cmd : base_cmds.first) ToBase(cmd.pose, translations_in_world.first);
  for (vek::NrtCartesianCmd& cmd : base_cmds.second) {
    ToBase(cmd.pose, translations_in_world.second);
  }
  RunConcurrent(TagInputStateAndFailures(Name("SendMultiCartesianMotionForce")), robots,
                Checked(&RobotImpl::CheckSendMultiCartesianMotionForce,
                        &Robot::SendMultiCartesianMotionForce),
                base_cmds, joint_pos);
}

void RobotPair::Impl::SetForceControlFrame(PerArm<vek::CoordType> root_coord,
                                           const PerArm<std::array<double, 7>>& T_in_root) {
  RunConcurrent(TagStateAndFailures(Name("SetForceControlFrame")), robots,
                Checked(&RobotImpl::CheckSetForceControlFrame, &Robot::SetForceControlFrame),
                root_coord, T_in_root);
}

void RobotPair::Impl::SetJointImpedance(const PerArm<std::vector<double>>& K_q,
                                        const PerArm<std::vector<double>>& Z_q) {
  RunConcurrent(TagInputStateAndFailures(Name("SetJointImpedance")), robots,
                Checked(&RobotImpl::CheckSetJointImpedance, &Robot::SetJointImpedance), K_q, Z_q);
}

void RobotPair::Impl::ExecutePrimitive(const PerArm<std::string>& primitive_names,
                                       const PerArm<ParamMap>& input_params,
                                       bool block_until_started) {
  RunConcurrent(TagOversizeStateAndFailures(Name("ExecutePrimitive")), robots,
                Checked(&RobotImpl::CheckExecutePrimitive, &Robot::ExecutePrimitive),
                primitive_names, input_params, block_until_started);
}

void RobotPair::Impl::SetForceControlAxis(const PerArm<std::array<bool, 6>>& enabled_axes,
                                          const PerArm<std::array<double, 3>>& max_linear_vel) {
  RunConcurrent(TagInputStateAndFailures(Name("SetForceControlAxis")), robots,
                Checked(&RobotImpl::CheckSetForceControlAxis, &Robot::SetForceControlAxis),
                enabled_axes, max_linear_vel);
}

void RobotPair::Impl::SendJointPosition(const PerArm<std::vector<double>>& positions,
                                        const PerArm<std::vector<double>>& velocities,
                                        const PerArm<std::vector<double>>& max_vel,
                                        const PerArm<std::vector<double>>& max_acc) {
  RunConcurrent(TagInputAndState(Name("SendJointPosition")), robots,
                Checked(&RobotImpl::CheckSendJointPosition, &Robot::SendJointPosition), positions,
                velocities, max_vel, max_acc);
}

void RobotPair::Impl::SendCartesianMotionForce(
    const PerArm<std::array<double, 7>>& poses, const PerArm<std::array<double, 6>>& wrenches,
    const PerArm<std::array<double, 6>>& velocities, PerArm<double> max_linear_vel,
    PerArm<double> max_angular_vel, PerArm<double> max_linear_acc, PerArm<double> max_angular_acc) {
  PerArm<std::array<double, 7>> base_poses = poses;
  ToBase(base_poses.first, translations_in_world.first);
  ToBase(base_poses.second, translations_in_world.second);
  RunConcurrent(
      TagInputAndState(Name("SendCartesianMotionForce")), robots,
      Checked(&RobotImpl::CheckSendCartesianMotionForce, &Robot::SendCartesianMotionForce),
      base_poses, wrenches, velocities, max_linear_vel, max_angular_vel, max_linear_acc,
      max_angular_acc);
}

}  // namespace quiral::bivek
