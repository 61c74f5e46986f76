// quiral::vek::Robot: one robot arm, connected to its controller by serial
// number.
//
// Construction connects to the controller and fetches the robot's
// description; every failure throws, so a constructed Robot is always
// connected to one controller for its whole life. Queries without a remote
// call read the newest locally received data and never throw; commands send
// one request (or one motion command) and throw on failure:
//   std::invalid_argument  bad input (sizes, ranges, formats);
//   std::logic_error       wrong state (not connected, wrong control mode);
//   std::runtime_error     a failed remote call, or the robot not operational.
// Every error text begins with the operation's full name in square brackets,
// e.g. "[quiral::vek::Robot::Enable] E-stop is not released".
#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

// A public header (installed as quiral/...): it includes other public headers
// only, by relative path.
#include "data_types.h"

namespace quiral::vek {

namespace detail {
struct RobotAccess;
}  // namespace detail

class Robot {
 public:
  // Connects to the robot with serial number `robot_sn` (model name, one "-"
  // or "_", then the number), using only the listed network interfaces (IPv4
  // addresses; empty means all). `verbose` logs progress; a `lite` instance
  // has no heartbeat, motion commands, data streams, event log or monitors.
  Robot(const std::string& robot_sn,
        const std::vector<std::string>& network_interface_whitelist = {},
        bool verbose = true, bool lite = false);
  virtual ~Robot();

  Robot(const Robot&) = delete;
  Robot& operator=(const Robot&) = delete;

  // Construction and description.
  bool lite() const;
  RobotInfo info() const;

  // Status queries.
  bool connected() const;
  Mode mode() const;
  RobotStates states() const;
  RobotActions actions() const;
  bool stopped() const;
  bool operational() const;
  OperationalStatus operational_status() const;
  bool busy() const;
  bool fault() const;
  bool reduced() const;
  bool recovery() const;
  bool estop_released() const;
  bool enabling_button_pressed() const;
  bool reached_timeliness_failure_limit() const;
  void SetTimelinessFailureLimit(double percentage);
  std::vector<RobotEvent> event_log() const;
  PlanInfo plan_info() const;
  std::vector<std::string> plan_list() const;
  std::map<std::string, ParamVariant> primitive_states() const;
  std::map<std::string, ParamVariant> global_variables() const;
  std::array<bool, 18> digital_inputs() const;

  // Control modes, enabling and recovery.
  void Enable();
  bool ClearFault(unsigned int timeout_sec);
  void SwitchMode(Mode mode);
  void Stop();
  void RunAutoRecovery();
  void Brake(bool engage);
  void LockExternalAxes(bool lock);
  void SyncWithPositioner(bool sync);

  // Plans, primitives and global variables.
  void ExecutePlan(unsigned int index, bool continue_exec, bool block_until_started);
  void ExecutePlan(const std::string& plan_name, bool continue_exec, bool block_until_started);
  void PausePlan(bool pause);
  void StopPlan();
  void SetBreakpointMode(bool is_enabled);
  void StepBreakpoint();
  void SetVelocityScale(unsigned int velocity_scale);
  void ExecutePrimitive(const std::string& primitive_name,
                        const std::map<std::string, ParamVariant>& input_params,
                        bool block_until_started);
  void SetGlobalVariables(const std::map<std::string, ParamVariant>& global_vars);

  // Motion commands. Poses are [x, y, z, qw, qx, qy, qz] in the robot's base
  // frame; wrenches, velocities and accelerations are linear then angular.
  void StreamJointTorque(const std::vector<double>& torques, bool enable_gravity_comp,
                         bool enable_soft_limits, double friction_comp_scale);
  void StreamJointPosition(const std::vector<double>& positions,
                           const std::vector<double>& velocities,
                           const std::vector<double>& accelerations);
  void SendJointPosition(const std::vector<double>& positions,
                         const std::vector<double>& velocities,
                         const std::vector<double>& max_vel,
                         const std::vector<double>& max_acc);
  void StreamCartesianMotionForce(const std::array<double, 7>& pose,
                                  const std::array<double, 6>& wrench,
                                  const std::array<double, 6>& velocity,
                                  const std::array<double, 6>& acceleration);
  void SendCartesianMotionForce(const std::array<double, 7>& pose,
                                const std::array<double, 6>& wrench,
                                const std::array<double, 6>& velocity, double max_linear_vel,
                                double max_angular_vel, double max_linear_acc,
                                double max_angular_acc);
  void SendMultiCartesianMotionForce(const std::vector<NrtCartesianCmd>& cart_cmds,
                                     const std::vector<std::vector<double>>& joint_pos);

  // Impedance, force-control and I/O settings.
  void SetJointImpedance(const std::vector<double>& K_q, const std::vector<double>& Z_q);
  void SetCartesianImpedance(const std::array<double, 6>& K_x, const std::array<double, 6>& Z_x);
  void SetMaxContactWrench(const std::array<double, 6>& max_wrench);
  void SetMaxContactTorque(const std::vector<double>& max_torques);
  void SetJointInertiaScale(const std::vector<double>& inertia_scales);
  void SetNullSpacePosture(const std::vector<double>& ref_positions);
  void SetNullSpaceObjectives(double linear_manipulability, double angular_manipulability,
                              double ref_positions_tracking);
  void SetForceControlAxis(const std::array<bool, 6>& enabled_axes,
                           const std::array<double, 3>& max_linear_vel);
  void SetForceControlFrame(CoordType root_coord, const std::array<double, 7>& T_in_root);
  void SetPassiveForceControl(bool is_enabled);
  void SetDigitalOutputs(const std::map<unsigned int, bool>& digital_outputs);

  class Impl;

 private:
  // Code of this library beside Robot reaches the implementation, the link
  // client and the robot model through this internal accessor
  // (vek/robot_access.h).
  friend struct detail::RobotAccess;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quiral::vek
