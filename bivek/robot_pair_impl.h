// Internal: the implementation behind quiral::bivek::RobotPair. Not part of
// the public API.
//
// Code built on a pair reaches it through bivek/robot_pair_access.h.
//
// Sources: robot_pair.cpp (construction, queries, sequential commands, Stop,
// RunAutoRecovery and the public forwarders), robot_pair_commands.cpp (the
// commands that run both arms at once). Every operation is a member of Impl
// of the same name and signature as the public one, which only forwards.
// Every operation runs its arm calls through bivek/per_arm.h, naming the
// quiral::vek::Robot member and the per-arm arguments. An operation with
// arguments names the member with its argument check, Checked(check,
// member): both arms' arguments are checked before either arm is commanded,
// so an argument that is wrong for one arm leaves both arms untouched. The
// check comes first here, before the arm's own gate and mode checks; the
// arm's state (its control mode, whether it is operational, what it has
// stored) is still found wrong by the arm's own operation.
//
// The Impl holds the two arms and their base positions in the world frame,
// nothing else: no lock, no thread, no cached state. After construction it
// is only read.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bivek/per_arm.h"
#include "bivek/robot_pair.h"
#include "vek/robot_access.h"

namespace quiral::bivek {

class RobotPair::Impl {
 public:
  using ParamMap = std::map<std::string, vek::ParamVariant>;
  template <class T>
  using PerArm = std::pair<T, T>;

  Impl() = default;
  // Logs the exit message, then releases the second arm, then the first.
  virtual ~Impl();

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  // The body of construction: connects both arms at once and stores the
  // translations once both are connected.
  void Init(const PerArm<std::string>& robots_sn,
            const PerArm<std::array<double, 3>>& translations_in_world,
            const std::vector<std::string>& network_interface_whitelist);

  // "[quiral::bivek::RobotPair::" + operation + "]".
  static std::string Name(const char* operation);

  // A quiral::vek::Robot command with its argument check, a const member
  // Check<Operation> of vek::Robot::Impl with the command's parameters, for
  // the per-arm runner.
  template <class Check, class Command>
  static auto Checked(Check check, Command command) {
    return detail::CheckedMember{vek::detail::RobotAccess::ArgumentCheck(check), command};
  }

  // World frame <-> an arm's base frame: x, y, z of a pose shifted by the
  // arm's translation; the orientation is left alone.
  static void ToWorld(std::array<double, 7>& pose, const std::array<double, 3>& translation);
  static void ToBase(std::array<double, 7>& pose, const std::array<double, 3>& translation);

  // Queries.
  bool connected() const;
  bool stopped() const;
  bool operational() const;
  bool busy() const;
  bool fault() const;
  PerArm<vek::Mode> mode() const;
  PerArm<vek::OperationalStatus> operational_status() const;
  PerArm<bool> which_busy() const;
  PerArm<bool> which_fault() const;
  PerArm<bool> reduced() const;
  PerArm<bool> recovery() const;
  PerArm<bool> estop_released() const;
  PerArm<bool> enabling_button_pressed() const;
  PerArm<std::array<bool, 18>> digital_inputs() const;
  PerArm<std::vector<vek::RobotEvent>> event_log() const;
  PerArm<vek::RobotInfo> info() const;
  PerArm<vek::RobotStates> states() const;
  PerArm<vek::RobotActions> actions() const;
  PerArm<std::shared_ptr<vek::Robot>> instances() const;

  // Sequential commands.
  PerArm<vek::PlanInfo> plan_info() const;
  PerArm<std::vector<std::string>> plan_list() const;
  void Enable();
  void Brake(bool engage);
  void SetBreakpointMode(PerArm<bool> is_enabled);
  void StepBreakpoint(PerArm<bool> selected);
  void SetVelocityScale(PerArm<unsigned int> velocity_scale);
  void StreamJointTorque(const PerArm<std::vector<double>>& torques,
                         PerArm<bool> enable_gravity_comp, PerArm<bool> enable_soft_limits,
                         PerArm<double> friction_comp_scale);
  void StreamJointPosition(const PerArm<std::vector<double>>& positions,
                           const PerArm<std::vector<double>>& velocities,
                           const PerArm<std::vector<double>>& accelerations);
  void StreamCartesianMotionForce(const PerArm<std::array<double, 7>>& poses,
                                  const PerArm<std::array<double, 6>>& wrenches,
                                  const PerArm<std::array<double, 6>>& velocities,
                                  const PerArm<std::array<double, 6>>& accelerations);
  void LockExternalAxes(PerArm<bool> lock);
  void SyncWithPositioner(PerArm<bool> sync);

  // Concurrent commands.
  void Stop(PerArm<bool> selected);
  void RunAutoRecovery();
  PerArm<bool> ClearFault(unsigned int timeout_sec);
  PerArm<ParamMap> global_variables() const;
  PerArm<ParamMap> primitive_states() const;
  void SwitchMode(const PerArm<vek::Mode>& modes);
  void SetNullSpacePosture(const PerArm<std::vector<double>>& ref_positions);
  void SetMaxContactTorque(const PerArm<std::vector<double>>& max_torques);
  void SetDigitalOutputs(const PerArm<std::map<unsigned int, bool>>& digital_outputs);
  void SetMaxContactWrench(const PerArm<std::array<double, 6>>& max_wrench);
  void SetPassiveForceControl(PerArm<bool> is_enabled);
  void SetJointInertiaScale(const PerArm<std::vector<double>>& inertia_scales);
  void PausePlan(PerArm<bool> pause);
  void StopPlan(PerArm<bool> selected);
  void SetGlobalVariables(const PerArm<ParamMap>& global_vars);
  void SetCartesianImpedance(const PerArm<std::array<double, 6>>& K_x,
                             const PerArm<std::array<double, 6>>& Z_x);
  void SetNullSpaceObjectives(PerArm<double> linear_manipulability,
                              PerArm<double> angular_manipulability,
                              PerArm<double> ref_positions_tracking);
  void ExecutePlan(PerArm<unsigned int> indices, bool continue_exec, bool block_until_started);
  void ExecutePlan(const PerArm<std::string>& names, bool continue_exec, bool block_until_started);
  void SendMultiCartesianMotionForce(const PerArm<std::vector<vek::NrtCartesianCmd>>& cart_cmds,
                                     const PerArm<std::vector<std::vector<double>>>& joint_pos);
  void SetForceControlFrame(PerArm<vek::CoordType> root_coord,
                            const PerArm<std::array<double, 7>>& T_in_root);
  void SetJointImpedance(const PerArm<std::vector<double>>& K_q,
                         const PerArm<std::vector<double>>& Z_q);
  void ExecutePrimitive(const PerArm<std::string>& primitive_names,
                        const PerArm<ParamMap>& input_params, bool block_until_started);
  void SetForceControlAxis(const PerArm<std::array<bool, 6>>& enabled_axes,
                           const PerArm<std::array<double, 3>>& max_linear_vel);
  void SendJointPosition(const PerArm<std::vector<double>>& positions,
                         const PerArm<std::vector<double>>& velocities,
                         const PerArm<std::vector<double>>& max_vel,
                         const PerArm<std::vector<double>>& max_acc);
  void SendCartesianMotionForce(const PerArm<std::array<double, 7>>& poses,
                                const PerArm<std::array<double, 6>>& wrenches,
                                const PerArm<std::array<double, 6>>& velocities,
                                PerArm<double> max_linear_vel, PerArm<double> max_angular_vel,
                                PerArm<double> max_linear_acc, PerArm<double> max_angular_acc);

  // The two arms: first from robots_sn.first, second from robots_sn.second.
  PerArm<std::shared_ptr<vek::Robot>> robots;
  // Each arm's base position [x, y, z] in the world frame; zero until both
  // arms are connected.
  PerArm<std::array<double, 3>> translations_in_world = {};
};

}  // namespace quiral::bivek
