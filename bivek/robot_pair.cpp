// quiral::bivek::RobotPair: construction, queries, the sequential commands,
// Stop and RunAutoRecovery, and the public forwarders.

#include "bivek/robot_pair.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "bivek/per_arm.h"
#include "bivek/robot_pair_impl.h"
#include "vek/serial_number.h"

namespace quiral::bivek {

const std::string kBIVEKVersion = "v1.2.3";

namespace {

using detail::RunConcurrent;
using detail::RunConcurrentSelected;
using detail::RunSequential;
using detail::RunSequentialSelected;
using detail::TagFailures;
using detail::TagInputStateAndFailures;
using detail::TagStateAndFailures;
using vek::Robot;
using RobotImpl = vek::Robot::Impl;

constexpr const char* kClassName = "[quiral::bivek::RobotPair]";
constexpr detail::Untagged kUntagged;

}  // namespace

// ------------------------------------------------------------------ Impl: lifetime

RobotPair::Impl::~Impl() {
  spdlog::info(">>>>> Quiral BIVEK exited <<<<<");
  robots.second.reset();
  robots.first.reset();
}

std::string RobotPair::Impl::Name(const char* operation) {
  return std::string("[quiral::bivek::RobotPair::") + operation + "]";
}

void RobotPair::Impl::ToWorld(std::array<double, 7>& pose,
                              const std::array<double, 3>& translation) {
  for (std::size_t i = 0; i < 3; ++i) pose[i] += translation[i];
}

void RobotPair::Impl::ToBase(std::array<double, 7>& pose,
                             const std::array<double, 3>& translation) {
  for (std::size_t i = 0; i < 3; ++i) pose[i] -= translation[i];
}

void RobotPair::Impl::Init(const PerArm<std::string>& robots_sn,
                           const PerArm<std::array<double, 3>>& translations,
                           const std::vector<std::string>& network_interface_whitelist) {
  spdlog::info("| | | | | | | | | |  Quiral BIVEK {}  | | | | | | | | | |", kBIVEKVersion);

  // A non-finite base position would turn every reported and every commanded
  // Cartesian position into NaN or infinity.
  for (const auto* translation : {&translations.first, &translations.second}) {
    for (const double value : *translation) {
      if (!std::isfinite(value)) {
        throw std::invalid_argument(
            std::string(kClassName) +
            " Input parameter [translations_in_world] contains non-finite value");
      }
    }
  }
  // Two links to one controller would command one arm twice and leave the
  // other without a link. A serial number without the right form is left
  // to its arm to report.
  const auto first_serial = vek::NormalisedSerialNumber(robots_sn.first);
  if (first_serial && first_serial == vek::NormalisedSerialNumber(robots_sn.second)) {
    throw std::invalid_argument(std::string(kClassName) + " Serial numbers [" + robots_sn.first +
                                "] and [" + robots_sn.second + "] name the same robot");
  }

  spdlog::info("{} Connecting to robot pair [{}]-[{}] ...", kClassName, robots_sn.first,
               robots_sn.second);
  RunConcurrent(
      TagInputStateAndFailures(kClassName),
      [&] {
        robots.first = std::make_shared<vek::Robot>(robots_sn.first, network_interface_whitelist,
                                                    false, false);
      },
      [&] {
        robots.second = std::make_shared<vek::Robot>(robots_sn.second, network_interface_whitelist,
                                                     false, false);
      });
  translations_in_world = translations;
}

// ------------------------------------------------------------------ Impl: queries

bool RobotPair::Impl::connected() const {
  return robots.first->connected() && robots.second->connected();
}
bool RobotPair::Impl::stopped() const {
  return robots.first->stopped() && robots.second->stopped();
}
bool RobotPair::Impl::operational() const {
  return robots.first->operational() && robots.second->operational();
}
bool RobotPair::Impl::busy() const { return robots.first->busy() || robots.second->busy(); }
bool RobotPair::Impl::fault() const { return robots.first->fault() || robots.second->fault(); }

RobotPair::Impl::PerArm<vek::Mode> RobotPair::Impl::mode() const {
  return RunSequential(kUntagged, robots, &Robot::mode);
}
RobotPair::Impl::PerArm<vek::OperationalStatus> RobotPair::Impl::operational_status() const {
  return RunSequential(kUntagged, robots, &Robot::operational_status);
}
RobotPair::Impl::PerArm<bool> RobotPair::Impl::which_busy() const {
  return RunSequential(kUntagged, robots, &Robot::busy);
}
RobotPair::Impl::PerArm<bool> RobotPair::Impl::which_fault() const {
  return RunSequential(kUntagged, robots, &Robot::fault);
}
RobotPair::Impl::PerArm<bool> RobotPair::Impl::reduced() const {
  return RunSequential(kUntagged, robots, &Robot::reduced);
}
RobotPair::Impl::PerArm<bool> RobotPair::Impl::recovery() const {
  return RunSequential(kUntagged, robots, &Robot::recovery);
}
RobotPair::Impl::PerArm<bool> RobotPair::Impl::estop_released() const {
  return RunSequential(kUntagged, robots, &Robot::estop_released);
}
RobotPair::Impl::PerArm<bool> RobotPair::Impl::enabling_button_pressed() const {
  return RunSequential(kUntagged, robots, &Robot::enabling_button_pressed);
}
RobotPair::Impl::PerArm<std::array<bool, 18>> RobotPair::Impl::digital_inputs() const {
  return RunSequential(kUntagged, robots, &Robot::digital_inputs);
}
RobotPair::Impl::PerArm<std::vector<vek::RobotEvent>> RobotPair::Impl::event_log() const {
  return RunSequential(kUntagged, robots, &Robot::event_log);
}
RobotPair::Impl::PerArm<vek::RobotInfo> RobotPair::Impl::info() const {
  return RunSequential(kUntagged, robots, &Robot::info);
}

RobotPair::Impl::PerArm<vek::RobotStates> RobotPair::Impl::states() const {
  PerArm<vek::RobotStates> states = RunSequential(kUntagged, robots, &Robot::states);
  ToWorld(states.first.tcp_pose, translations_in_world.first);
  ToWorld(states.first.flange_pose, translations_in_world.first);
  ToWorld(states.second.tcp_pose, translations_in_world.second);
  ToWorld(states.second.flange_pose, translations_in_world.second);
  return states;
}

RobotPair::Impl::PerArm<vek::RobotActions> RobotPair::Impl::actions() const {
  PerArm<vek::RobotActions> actions = RunSequential(kUntagged, robots, &Robot::actions);
  ToWorld(actions.first.tcp_pose_des, translations_in_world.first);
  ToWorld(actions.second.tcp_pose_des, translations_in_world.second);
  return actions;
}

RobotPair::Impl::PerArm<std::shared_ptr<vek::Robot>> RobotPair::Impl::instances() const {
  return robots;
}

// ------------------------------------------------------------------ Impl: sequential

RobotPair::Impl::PerArm<vek::PlanInfo> RobotPair::Impl::plan_info() const {
  return RunSequential(TagStateAndFailures(Name("plan_info")), robots, &Robot::plan_info);
}

RobotPair::Impl::PerArm<std::vector<std::string>> RobotPair::Impl::plan_list() const {
  return RunSequential(TagFailures(Name("plan_list")), robots, &Robot::plan_list);
}

void RobotPair::Impl::Enable() {
  RunSequential(TagStateAndFailures(Name("Enable")), robots, &Robot::Enable);
}

void RobotPair::Impl::Brake(bool engage) {
  RunSequential(TagStateAndFailures(Name("Brake")), robots, &Robot::Brake, engage);
}

void RobotPair::Impl::SetBreakpointMode(PerArm<bool> is_enabled) {
  RunSequential(TagStateAndFailures(Name("SetBreakpointMode")), robots, &Robot::SetBreakpointMode,
                is_enabled);
}

void RobotPair::Impl::StepBreakpoint(PerArm<bool> selected) {
  RunSequentialSelected(TagStateAndFailures(Name("StepBreakpoint")), selected, robots,
                        &Robot::StepBreakpoint);
}

void RobotPair::Impl::SetVelocityScale(PerArm<unsigned int> velocity_scale) {
  RunSequential(TagInputStateAndFailures(Name("SetVelocityScale")), robots,
                Checked(&RobotImpl::CheckSetVelocityScale, &Robot::SetVelocityScale),
                velocity_scale);
}

void RobotPair::Impl::StreamJointTorque(const PerArm<std::vector<double>>& torques,
                                        PerArm<bool> enable_gravity_comp,
                                        PerArm<bool> enable_soft_limits,
                                        PerArm<double> friction_comp_scale) {
  RunSequential(TagInputStateAndFailures(Name("StreamJointTorque")), robots,
                Checked(&RobotImpl::CheckStreamJointTorque, &Robot::StreamJointTorque), torques,
                enable_gravity_comp, enable_soft_limits, friction_comp_scale);
}

void RobotPair::Impl::StreamJointPosition(const PerArm<std::vector<double>>& positions,
                                          const PerArm<std::vector<double>>& velocities,
                                          const PerArm<std::vector<double>>& accelerations) {
  RunSequential(TagInputStateAndFailures(Name("StreamJointPosition")), robots,
                Checked(&RobotImpl::CheckStreamJointPosition, &Robot::StreamJointPosition),
                positions, velocities, accelerations);
}

void RobotPair::Impl::StreamCartesianMotionForce(
    const PerArm<std::array<double, 7>>& poses, const PerArm<std::array<double, 6>>& wrenches,
    const PerArm<std::array<double, 6>>& velocities,
    const PerArm<std::array<double, 6>>& accelerations) {
  PerArm<std::array<double, 7>> base_poses = poses;
  ToBase(base_poses.first, translations_in_world.first);
  ToBase(base_poses.second, translations_in_world.second);
  RunSequential(
      TagStateAndFailures(Name("StreamCartesianMotionForce")), robots,
      Checked(&RobotImpl::CheckStreamCartesianMotionForce, &Robot::StreamCartesianMotionForce),
      base_poses, wrenches, velocities, accelerations);
}

void RobotPair::Impl::LockExternalAxes(PerArm<bool> lock) {
  RunSequential(TagFailures(Name("LockExternalAxes")), robots, &Robot::LockExternalAxes, lock);
}

void RobotPair::Impl::SyncWithPositioner(PerArm<bool> sync) {
  RunSequential(TagFailures(Name("SyncWithPositioner")), robots, &Robot::SyncWithPositioner, sync);
}

// ------------------------------------------------------------------ Impl: Stop, recovery

void RobotPair::Impl::Stop(PerArm<bool> selected) {
  RunConcurrentSelected(detail::FixedRuntimeError(Name("Stop"), " Failed to stop the robot"),
                        selected, robots, &Robot::SwitchMode, vek::Mode::IDLE);
}

void RobotPair::Impl::RunAutoRecovery() {
  RunConcurrent(TagFailures(Name("RunAutoRecovery")), robots, &Robot::RunAutoRecovery);
}

// ------------------------------------------------------------------ RobotPair

RobotPair::RobotPair(
    const std::pair<std::string, std::string>& robots_sn,
    const std::pair<std::array<double, 3>, std::array<double, 3>>& translations_in_world,
    const std::vector<std::string>& network_interface_whitelist)
    : impl_(std::make_unique<Impl>()) {
  impl_->Init(robots_sn, translations_in_world, network_interface_whitelist);
}

RobotPair::~RobotPair() = default;

bool RobotPair::connected() const { return impl_->connected(); }
bool RobotPair::stopped() const { return impl_->stopped(); }
bool RobotPair::operational() const { return impl_->operational(); }
bool RobotPair::busy() const { return impl_->busy(); }
bool RobotPair::fault() const { return impl_->fault(); }
std::pair<vek::Mode, vek::Mode> RobotPair::mode() const { return impl_->mode(); }
std::pair<vek::OperationalStatus, vek::OperationalStatus> RobotPair::operational_status() const {
  return impl_->operational_status();
}
std::pair<bool, bool> RobotPair::which_busy() const { return impl_->which_busy(); }
std::pair<bool, bool> RobotPair::which_fault() const { return impl_->which_fault(); }
std::pair<bool, bool> RobotPair::reduced() const { return impl_->reduced(); }
std::pair<bool, bool> RobotPair::recovery() const { return impl_->recovery(); }
std::pair<bool, bool> RobotPair::estop_released() const { return impl_->estop_released(); }
std::pair<bool, bool> RobotPair::enabling_button_pressed() const {
  return impl_->enabling_button_pressed();
}
std::pair<std::array<bool, 18>, std::array<bool, 18>> RobotPair::digital_inputs() const {
  return impl_->digital_inputs();
}
std::pair<std::vector<vek::RobotEvent>, std::vector<vek::RobotEvent>> RobotPair::event_log() const {
  return impl_->event_log();
}
std::pair<vek::RobotInfo, vek::RobotInfo> RobotPair::info() const { return impl_->info(); }
std::pair<vek::RobotStates, vek::RobotStates> RobotPair::states() const { return impl_->states(); }
std::pair<vek::RobotActions, vek::RobotActions> RobotPair::actions() const {
  return impl_->actions();
}
std::pair<std::shared_ptr<vek::Robot>, std::shared_ptr<vek::Robot>> RobotPair::instances() const {
  return impl_->instances();
}

std::pair<vek::PlanInfo, vek::PlanInfo> RobotPair::plan_info() const { return impl_->plan_info(); }
std::pair<std::vector<std::string>, std::vector<std::string>> RobotPair::plan_list() const {
  return impl_->plan_list();
}
void RobotPair::Enable() { impl_->Enable(); }
void RobotPair::Brake(bool engage) { impl_->Brake(engage); }
void RobotPair::SetBreakpointMode(std::pair<bool, bool> is_enabled) {
  impl_->SetBreakpointMode(is_enabled);
}
void RobotPair::StepBreakpoint(std::pair<bool, bool> selected) { impl_->StepBreakpoint(selected); }
void RobotPair::SetVelocityScale(std::pair<unsigned int, unsigned int> velocity_scale) {
  impl_->SetVelocityScale(velocity_scale);
}
void RobotPair::StreamJointTorque(
    const std::pair<std::vector<double>, std::vector<double>>& torques,
    std::pair<bool, bool> enable_gravity_comp, std::pair<bool, bool> enable_soft_limits,
    std::pair<double, double> friction_comp_scale) {
  impl_->StreamJointTorque(torques, enable_gravity_comp, enable_soft_limits, friction_comp_scale);
}
void RobotPair::StreamJointPosition(
    const std::pair<std::vector<double>, std::vector<double>>& positions,
    const std::pair<std::vector<double>, std::vector<double>>& velocities,
    const std::pair<std::vector<double>, std::vector<double>>& accelerations) {
  impl_->StreamJointPosition(positions, velocities, accelerations);
}
void RobotPair::StreamCartesianMotionForce(
    const std::pair<std::array<double, 7>, std::array<double, 7>>& poses,
    const std::pair<std::array<double, 6>, std::array<double, 6>>& wrenches,
    const std::pair<std::array<double, 6>, std::array<double, 6>>& velocities,
    const std::pair<std::array<double, 6>, std::array<double, 6>>& accelerations) {
  impl_->StreamCartesianMotionForce(poses, wrenches, velocities, accelerations);
}
void RobotPair::LockExternalAxes(std::pair<bool, bool> lock) { impl_->LockExternalAxes(lock); }
void RobotPair::SyncWithPositioner(std::pair<bool, bool> sync) { impl_->SyncWithPositioner(sync); }

void RobotPair::Stop(std::pair<bool, bool> selected) { impl_->Stop(selected); }
void RobotPair::Stop() { impl_->Stop({true, true}); }
void RobotPair::RunAutoRecovery() { impl_->RunAutoRecovery(); }

std::pair<bool, bool> RobotPair::ClearFault(unsigned int timeout_sec) {
  return impl_->ClearFault(timeout_sec);
}
std::pair<std::map<std::string, vek::ParamVariant>, std::map<std::string, vek::ParamVariant>>
RobotPair::global_variables() const {
  return impl_->global_variables();
}
std::pair<std::map<std::string, vek::ParamVariant>, std::map<std::string, vek::ParamVariant>>
RobotPair::primitive_states() const {
  return impl_->primitive_states();
}
void RobotPair::SwitchMode(const std::pair<vek::Mode, vek::Mode>& modes) {
  impl_->SwitchMode(modes);
}
void RobotPair::SwitchMode(vek::Mode mode) { impl_->SwitchMode({mode, mode}); }
void RobotPair::SetNullSpacePosture(
    const std::pair<std::vector<double>, std::vector<double>>& ref_positions) {
  impl_->SetNullSpacePosture(ref_positions);
}
void RobotPair::SetMaxContactTorque(
    const std::pair<std::vector<double>, std::vector<double>>& max_torques) {
  impl_->SetMaxContactTorque(max_torques);
}
void RobotPair::SetDigitalOutputs(
    const std::pair<std::map<unsigned int, bool>, std::map<unsigned int, bool>>& digital_outputs) {
  impl_->SetDigitalOutputs(digital_outputs);
}
void RobotPair::SetMaxContactWrench(
    const std::pair<std::array<double, 6>, std::array<double, 6>>& max_wrench) {
  impl_->SetMaxContactWrench(max_wrench);
}
void RobotPair::SetPassiveForceControl(std::pair<bool, bool> is_enabled) {
  impl_->SetPassiveForceControl(is_enabled);
}
void RobotPair::SetJointInertiaScale(
    const std::pair<std::vector<double>, std::vector<double>>& inertia_scales) {
  impl_->SetJointInertiaScale(inertia_scales);
}
void RobotPair::PausePlan(std::pair<bool, bool> pause) { impl_->PausePlan(pause); }
void RobotPair::StopPlan(std::pair<bool, bool> selected) { impl_->StopPlan(selected); }
void RobotPair::StopPlan() { impl_->StopPlan({true, true}); }
void RobotPair::SetGlobalVariables(
    const std::pair<std::map<std::string, vek::ParamVariant>,
                    std::map<std::string, vek::ParamVariant>>& global_vars) {
  impl_->SetGlobalVariables(global_vars);
}
void RobotPair::SetCartesianImpedance(
    const std::pair<std::array<double, 6>, std::array<double, 6>>& K_x,
    const std::pair<std::array<double, 6>, std::array<double, 6>>& Z_x) {
  impl_->SetCartesianImpedance(K_x, Z_x);
}
void RobotPair::SetNullSpaceObjectives(std::pair<double, double> linear_manipulability,
                                       std::pair<double, double> angular_manipulability,
                                       std::pair<double, double> ref_positions_tracking) {
  impl_->SetNullSpaceObjectives(linear_manipulability, angular_manipulability,
                                ref_positions_tracking);
}
void RobotPair::ExecutePlan(std::pair<unsigned int, unsigned int> indices, bool continue_exec,
                            bool block_until_started) {
  impl_->ExecutePlan(indices, continue_exec, block_until_started);
}
void RobotPair::ExecutePlan(const std::pair<std::string, std::string>& names, bool continue_exec,
                            bool block_until_started) {
  impl_->ExecutePlan(names, continue_exec, block_until_started);
}
void RobotPair::SendMultiCartesianMotionForce(
    const std::pair<std::vector<vek::NrtCartesianCmd>, std::vector<vek::NrtCartesianCmd>>&
        cart_cmds,
    const std::pair<std::vector<std::vector<double>>, std::vector<std::vector<double>>>&
        joint_pos) {
  impl_->SendMultiCartesianMotionForce(cart_cmds, joint_pos);
}
void RobotPair::SetForceControlFrame(
    std::pair<vek::CoordType, vek::CoordType> root_coord,
    const std::pair<std::array<double, 7>, std::array<double, 7>>& T_in_root) {
  impl_->SetForceControlFrame(root_coord, T_in_root);
}
void RobotPair::SetJointImpedance(const std::pair<std::vector<double>, std::vector<double>>& K_q,
                                  const std::pair<std::vector<double>, std::vector<double>>& Z_q) {
  impl_->SetJointImpedance(K_q, Z_q);
}
void RobotPair::ExecutePrimitive(
    const std::pair<std::string, std::string>& primitive_names,
    const std::pair<std::map<std::string, vek::ParamVariant>,
                    std::map<std::string, vek::ParamVariant>>& input_params,
    bool block_until_started) {
  impl_->ExecutePrimitive(primitive_names, input_params, block_until_started);
}
void RobotPair::SetForceControlAxis(
    const std::pair<std::array<bool, 6>, std::array<bool, 6>>& enabled_axes,
    const std::pair<std::array<double, 3>, std::array<double, 3>>& max_linear_vel) {
  impl_->SetForceControlAxis(enabled_axes, max_linear_vel);
}
void RobotPair::SendJointPosition(
    const std::pair<std::vector<double>, std::vector<double>>& positions,
    const std::pair<std::vector<double>, std::vector<double>>& velocities,
    const std::pair<std::vector<double>, std::vector<double>>& max_vel,
    const std::pair<std::vector<double>, std::vector<double>>& max_acc) {
  impl_->SendJointPosition(positions, velocities, max_vel, max_acc);
}
void RobotPair::SendCartesianMotionForce(
    const std::pair<std::array<double, 7>, std::array<double, 7>>& poses,
    const std::pair<std::array<double, 6>, std::array<double, 6>>& wrenches,
    const std::pair<std::array<double, 6>, std::array<double, 6>>& velocities,
    std::pair<double, double> max_linear_vel, std::pair<double, double> max_angular_vel,
    std::pair<double, double> max_linear_acc, std::pair<double, double> max_angular_acc) {
  impl_->SendCartesianMotionForce(poses, wrenches, velocities, max_linear_vel, max_angular_vel,
                                  max_linear_acc, max_angular_acc);
}

}  // namespace quiral::bivek
