// quiral::bivek::RobotPair: two robot arms driven as one dual-arm setup.
//
// The pair owns two quiral::vek::Robot objects, one per serial number, and
// gives every operation a per-arm form: each argument and each result that
// differs by arm is a std::pair whose `first` belongs to the first (left) arm
// and whose `second` to the second (right) arm.
//
// World frame. Each arm's base frame is the common world frame shifted by
// that arm's entry of `translations_in_world` (no rotation). The pair adds
// the arm's translation to x, y, z of the TCP, flange and desired TCP poses
// it reports, and subtracts it from x, y, z of every Cartesian target it
// sends. Orientations, velocities, wrenches and joint values pass unchanged.
//
// Execution. Queries read both arms on the calling thread. Sequential
// commands call the first arm, then the second; the second is not called
// once the first has failed. Concurrent commands run one task per arm on a
// thread of its own and return (or throw) only after every task they started
// has ended; such a call takes about as long as the slower arm. A command
// that takes arguments first checks both arms' arguments as each arm's own
// operation would (against that arm's joint count and limits), on the
// calling thread, and commands neither arm when one is wrong; what depends on
// an arm's state (its mode, its readiness, the robot's reply) is found by
// that arm's own operation.
//
// Errors. An arm's error leaves a pair operation as a new exception of the
// first class of that operation's re-tag list that the error derives from;
// its text is the operation's bracketed name, the arm tag "(first)" or
// "(second)", then the arm's text after its first "]", for example
//   "[quiral::bivek::RobotPair::Enable](first) E-stop is not released".
// An error that matches no class of the list leaves unchanged. When both
// arms of a concurrent command fail, only the first arm's error leaves.
//
// The pair holds no lock: calls from several threads reach the arms as
// independent callers (quiral::vek::Robot serves that).
#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// A public header (installed as quiral/...): it includes other public headers
// only, by relative path.
#include "../vek/data_types.h"
#include "../vek/robot.h"

namespace quiral::bivek {

namespace detail {
struct RobotPairAccess;
}  // namespace detail

// The text after the first "]" of `msg`, to its end; `msg` whole when it
// holds no "]". Turns "[quiral::vek::Robot::Enable] E-stop is not released"
// into " E-stop is not released".
std::string _ExtractExceptMsg(const std::string& msg);

class RobotPair {
 public:
  // Connects both arms at once (no verbose output, no lite instance) and
  // stores the arms' base positions [x, y, z] in the world frame, in the
  // arms' own Cartesian length unit. Throws std::invalid_argument for a
  // non-finite translation or two serial numbers of one robot, and what the
  // arms' construction throws, tagged "[quiral::bivek::RobotPair](first)" or
  // "(second)".
  RobotPair(const std::pair<std::string, std::string>& robots_sn,
            const std::pair<std::array<double, 3>, std::array<double, 3>>& translations_in_world,
            const std::vector<std::string>& network_interface_whitelist);
  virtual ~RobotPair();

  RobotPair(const RobotPair&) = delete;
  RobotPair& operator=(const RobotPair&) = delete;

  // ----------------------------------------------------------- queries
  // Local data only; nothing is sent and nothing is re-tagged.

  // Both arms (the second is not asked once the first answers false).
  bool connected() const;
  bool stopped() const;
  bool operational() const;
  // Either arm (the second is not asked once the first answers true).
  bool busy() const;
  bool fault() const;

  std::pair<vek::Mode, vek::Mode> mode() const;
  std::pair<vek::OperationalStatus, vek::OperationalStatus> operational_status() const;
  std::pair<bool, bool> which_busy() const;
  std::pair<bool, bool> which_fault() const;
  std::pair<bool, bool> reduced() const;
  std::pair<bool, bool> recovery() const;
  std::pair<bool, bool> estop_released() const;
  std::pair<bool, bool> enabling_button_pressed() const;
  std::pair<std::array<bool, 18>, std::array<bool, 18>> digital_inputs() const;
  std::pair<std::vector<vek::RobotEvent>, std::vector<vek::RobotEvent>> event_log() const;
  std::pair<vek::RobotInfo, vek::RobotInfo> info() const;
  // TCP and flange poses in the world frame.
  std::pair<vek::RobotStates, vek::RobotStates> states() const;
  // Desired TCP pose in the world frame.
  std::pair<vek::RobotActions, vek::RobotActions> actions() const;
  // The two arms, for single-arm use; a handle keeps its arm alive (and
  // connected) after the pair is gone.
  std::pair<std::shared_ptr<vek::Robot>, std::shared_ptr<vek::Robot>> instances() const;

  // ------------------------------------------------ sequential commands
  // First arm, then second; the second is not called once the first fails.

  std::pair<vek::PlanInfo, vek::PlanInfo> plan_info() const;
  std::pair<std::vector<std::string>, std::vector<std::string>> plan_list() const;
  void Enable();
  // One flag for both arms: true engages, false releases the brakes.
  void Brake(bool engage);
  // One flag per arm.
  void SetBreakpointMode(std::pair<bool, bool> is_enabled);
  // Selector: only the arms whose flag is true step.
  void StepBreakpoint(std::pair<bool, bool> selected);
  void SetVelocityScale(std::pair<unsigned int, unsigned int> velocity_scale);
  void StreamJointTorque(const std::pair<std::vector<double>, std::vector<double>>& torques,
                         std::pair<bool, bool> enable_gravity_comp,
                         std::pair<bool, bool> enable_soft_limits,
                         std::pair<double, double> friction_comp_scale);
  void StreamJointPosition(
      const std::pair<std::vector<double>, std::vector<double>>& positions,
      const std::pair<std::vector<double>, std::vector<double>>& velocities,
      const std::pair<std::vector<double>, std::vector<double>>& accelerations);
  // Poses in the world frame.
  void StreamCartesianMotionForce(
      const std::pair<std::array<double, 7>, std::array<double, 7>>& poses,
      const std::pair<std::array<double, 6>, std::array<double, 6>>& wrenches,
      const std::pair<std::array<double, 6>, std::array<double, 6>>& velocities,
      const std::pair<std::array<double, 6>, std::array<double, 6>>& accelerations);
  void LockExternalAxes(std::pair<bool, bool> lock);
  void SyncWithPositioner(std::pair<bool, bool> sync);

  // ------------------------------------------------ concurrent commands
  // One task per arm; the call ends when every task has ended.

  // Selector: switches each selected arm to IDLE. Any failure becomes a
  // std::runtime_error "[quiral::bivek::RobotPair::Stop](first) Failed to
  // stop the robot" (or "(second)").
  void Stop(std::pair<bool, bool> selected);
  // Both arms.
  void Stop();
  void RunAutoRecovery();

  // Each arm's result: true when its fault was cleared within timeout_sec.
  std::pair<bool, bool> ClearFault(unsigned int timeout_sec);
  std::pair<std::map<std::string, vek::ParamVariant>, std::map<std::string, vek::ParamVariant>>
  global_variables() const;
  std::pair<std::map<std::string, vek::ParamVariant>, std::map<std::string, vek::ParamVariant>>
  primitive_states() const;
  void SwitchMode(const std::pair<vek::Mode, vek::Mode>& modes);
  // The same mode for both arms.
  void SwitchMode(vek::Mode mode);
  void SetNullSpacePosture(
      const std::pair<std::vector<double>, std::vector<double>>& ref_positions);
  void SetMaxContactTorque(const std::pair<std::vector<double>, std::vector<double>>& max_torques);
  void SetDigitalOutputs(
      const std::pair<std::map<unsigned int, bool>, std::map<unsigned int, bool>>& digital_outputs);
  void SetMaxContactWrench(
      const std::pair<std::array<double, 6>, std::array<double, 6>>& max_wrench);
  void SetPassiveForceControl(std::pair<bool, bool> is_enabled);
  void SetJointInertiaScale(
      const std::pair<std::vector<double>, std::vector<double>>& inertia_scales);
  // One flag per arm: true pauses, false resumes that arm's plan.
  void PausePlan(std::pair<bool, bool> pause);
  // Selector: stops the plans of the selected arms only.
  void StopPlan(std::pair<bool, bool> selected);
  // Both arms.
  void StopPlan();
  void SetGlobalVariables(const std::pair<std::map<std::string, vek::ParamVariant>,
                                          std::map<std::string, vek::ParamVariant>>& global_vars);
  void SetCartesianImpedance(const std::pair<std::array<double, 6>, std::array<double, 6>>& K_x,
                             const std::pair<std::array<double, 6>, std::array<double, 6>>& Z_x);
  void SetNullSpaceObjectives(std::pair<double, double> linear_manipulability,
                              std::pair<double, double> angular_manipulability,
                              std::pair<double, double> ref_positions_tracking);
  void ExecutePlan(std::pair<unsigned int, unsigned int> indices, bool continue_exec,
                   bool block_until_started);
  void ExecutePlan(const std::pair<std::string, std::string>& names, bool continue_exec,
                   bool block_until_started);
  // Waypoint poses in the world frame.
  void SendMultiCartesianMotionForce(const std::pair<std::vector<vek::NrtCartesianCmd>,
                                                     std::vector<vek::NrtCartesianCmd>>& cart_cmds,
                                     const std::pair<std::vector<std::vector<double>>,
                                                     std::vector<std::vector<double>>>& joint_pos);
  void SetForceControlFrame(
      std::pair<vek::CoordType, vek::CoordType> root_coord,
      const std::pair<std::array<double, 7>, std::array<double, 7>>& T_in_root);
  void SetJointImpedance(const std::pair<std::vector<double>, std::vector<double>>& K_q,
                         const std::pair<std::vector<double>, std::vector<double>>& Z_q);
  void ExecutePrimitive(const std::pair<std::string, std::string>& primitive_names,
                        const std::pair<std::map<std::string, vek::ParamVariant>,
                                        std::map<std::string, vek::ParamVariant>>& input_params,
                        bool block_until_started);
  void SetForceControlAxis(
      const std::pair<std::array<bool, 6>, std::array<bool, 6>>& enabled_axes,
      const std::pair<std::array<double, 3>, std::array<double, 3>>& max_linear_vel);
  void SendJointPosition(const std::pair<std::vector<double>, std::vector<double>>& positions,
                         const std::pair<std::vector<double>, std::vector<double>>& velocities,
                         const std::pair<std::vector<double>, std::vector<double>>& max_vel,
                         const std::pair<std::vector<double>, std::vector<double>>& max_acc);
  // Poses in the world frame.
  void SendCartesianMotionForce(
      const std::pair<std::array<double, 7>, std::array<double, 7>>& poses,
      const std::pair<std::array<double, 6>, std::array<double, 6>>& wrenches,
      const std::pair<std::array<double, 6>, std::array<double, 6>>& velocities,
      std::pair<double, double> max_linear_vel, std::pair<double, double> max_angular_vel,
      std::pair<double, double> max_linear_acc, std::pair<double, double> max_angular_acc);

  class Impl;

 private:
  // Code of this library that builds on a pair reaches its implementation
  // through this internal accessor (bivek/robot_pair_access.h).
  friend struct detail::RobotPairAccess;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quiral::bivek
