// Internal: the implementation behind quiral::vek::Robot. Included by the
// Robot's own sources and by vek/robot_access.h. Not part of the public
// API.
//
// Sources: robot.cpp (construction, status queries and the shared helpers
// below), robot_modes.cpp (enabling, faults, control modes, recovery),
// robot_params.cpp (global variables, primitive states). Plans and
// primitives, motion commands and settings live in robot_plans.cpp,
// robot_motion.cpp and robot_settings.cpp; each operation is a member of
// Impl declared here, and the public Robot member only forwards to it.
//
// Rules every operation follows:
// - Order of checks: operational gate (RequireOperational) where it
//   applies, then the control mode (CurrentMode), then the arguments, then
//   the one remote call or motion command. Nothing is sent when a check
//   fails, and a failed remote call is not repeated.
// - The argument checks of a command that takes arguments are a const
//   member Check<Operation> with the command's parameters: it throws what
//   the command throws for these arguments (against this robot's
//   description and fixed ranges), reads nothing from the robot and sends
//   nothing. The command calls it in its place in the order above; the
//   dual-arm layer calls it on both arms before either arm is commanded
//   (reached through vek/robot_access.h).
// - Error texts begin with Prefix(operation), e.g.
//   "[quiral::vek::Robot::Enable]", then a blank.
// - Range checks are written so that NaN fails them: InRange(x, lo, hi), or
//   a test of the form !(lo <= x && x <= hi); never "x < lo || x > hi".
// - Every text argument that goes on the wire is checked with RequireNoNul
//   first: the transport cuts a text at its first '\0', so the call would
//   report success for a text the robot never saw.
// - A lost robot (Lost()) is one whose newest samples are old news: its
//   status is UNKNOWN, so the operational gate refuses it, and a command
//   that decides from its states refuses it too (RequireConnected). A wait
//   on the robot's states judges only samples newer than the request it
//   waits for (StoppedSince, StreamSampleCount) and fails with
//   LostConnection once the robot is lost, or, in the short waits of a
//   mode switch and of a start, when no newer sample came at all.
//
// Motion commands and threads. One Robot may be used from two threads at
// once: Stop called from one thread while another streams commands.
// motion_mutex guards, as one unit,
//   (a) motion_cmd_counter,
//   (b) the held command of client->motion_commands_pub (its setters, Clear
//       and Publish).
// A motion command increments the counter, sets the held command with the
// new value and publishes it, all under one hold of motion_mutex: use
// PublishJointCommand, PublishCartesianCommand or
// PublishCartesianMultiCommand for every motion command, never the
// publisher directly. A mode switch resets the counter and clears the held
// command under the same mutex (ResetMotionCommands). So a command is
// either published entirely before a reset or carries a sequence number of
// the new series, and no published command is a half-cleared one. Never
// make a remote call or sleep while holding motion_mutex.
//
// Mode switches and stops. A switch to IDLE is a stop (Stop, and the
// pair's stop, are such switches); a switch to any other mode is a switch.
// - A stop is never held back by a switch: it holds stop_mutex for its
//   whole run, which a switch takes only for moments (never across a remote
//   call or a wait), and its IDLE request is urgent on the link (see
//   vek_impl::LinkTurns): it waits at most for the one request of a switch
//   already on the wire, never for that request's further attempts, the
//   switch's waits or its second request.
// - A stop is never undone by a switch under way: each stop counts itself
//   in stop_count on entry, and a switch that sees the count change ends
//   with " Interrupted by a stop" without sending another request. A
//   switch records the mode it requests (last_requested_mode) before the
//   request goes out, under stop_mutex and only while no stop came, so a
//   stop sees that request and asks for IDLE after it.
// - Switches are serialised by mode_switch_mutex, held for a whole switch
//   and around the mode request of RunAutoRecovery; stops are serialised by
//   stop_mutex. A switch that starts while a stop runs waits for it.
// Lock order: mode_switch_mutex, stop_mutex, motion_mutex; streaming takes
// only motion_mutex.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/qor_state.h"
#include "vek/data_types.h"
#include "vek/robot.h"

namespace quiral::vek_impl {
class VEKClient;
}  // namespace quiral::vek_impl

namespace vek_msgs::msg {
class JointCommands;
class CartesianCommands;
}  // namespace vek_msgs::msg

namespace quiral::vek {

class Robot::Impl {
 public:
  // Robot models, equal to their index in model_names.
  enum RobotModel : int32_t {
    UNKNOWN_MODEL = 0,
    VARNO4 = 1,
    VARNO4S = 2,
    VARNO4R = 3,
    VARNO4SR = 4,
    VARNO4M = 5,
    VARNO10 = 6,
    VARNO10S = 7,
    VARNO10R = 8,
    STARFLOAT = 9,
    OMBRISK_L = 10,
    OMBRISK_H = 11,
  };

  // Checks the serial number, connects to the robot and fetches its
  // description; every failure throws (see Robot::Robot).
  Impl(const std::string& robot_sn, const std::vector<std::string>& network_interface_whitelist,
       bool verbose, bool lite);
  virtual ~Impl();

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  // ---------------------------------------------------------------------
  // Construction steps, usable without a robot.

  // The model-name table, indexed by RobotModel.
  static const std::array<std::string, 12>& ModelNames();
  // Throws std::invalid_argument unless `robot_sn` is non-empty, holds no
  // '\0' and has exactly one separator ("-" or "_"); returns it with blanks
  // removed and "_" replaced by "-".
  static std::string NormaliseSerial(const std::string& robot_sn);
  // The model named before the "-" of a normalised serial; throws
  // std::logic_error for an unlisted name or "Unknown".
  static RobotModel ModelFromSerial(const std::string& normalised_serial);
  // Cartesian stiffness limits of a model; throws std::logic_error
  // "Unsupported robot model" for models without limits.
  static std::array<double, 6> CartesianStiffnessLimits(RobotModel model);
  // Joint stiffness limits, one per joint, aligned with the joints: +inf
  // for each external axis, then the model's table entry of each arm joint.
  // An arm joint beyond the end of the table gets the smallest entry of the
  // table. Throws like CartesianStiffnessLimits.
  static std::vector<double> JointStiffnessLimits(RobotModel model, std::size_t dof_e,
                                                  std::size_t dof_m);
  // Throws std::logic_error unless q_min, q_max, joint_limit_3 and tau_max
  // each hold DoF values of magnitude at least the double epsilon (NaN
  // fails).
  static void CheckJointLimits(const RobotInfo& info);

  // ---------------------------------------------------------------------
  // Shared helpers (robot.cpp).

  // "[quiral::vek::Robot::" + operation + "]".
  static std::string Prefix(std::string_view operation);
  // False for NaN.
  static bool InRange(double x, double lo, double hi) { return lo <= x && x <= hi; }
  // Throws std::invalid_argument Prefix(operation) + " Input parameter [" +
  // argument + "] contains a null character" when `text` holds a '\0'.
  static void RequireNoNul(const std::string& text, std::string_view operation,
                           std::string_view argument);

  // Standstill: every motor velocity at most 0.017 in magnitude (NaN counts
  // as moving); an empty vector counts as stopped.
  static bool IsStandstill(const RobotStates& states);
  // The standstill test on the newest data-stream sample.
  bool Stopped() const;
  // True once a data-stream sample has arrived (never on a lite robot).
  bool HasStreamSample() const;
  // Data-stream samples received so far.
  uint64_t StreamSampleCount() const;
  // The standstill test, passed only by a data-stream sample newer than
  // `since` (a StreamSampleCount). A lite robot has no data stream: the
  // plain test.
  bool StoppedSince(uint64_t since) const;

  // True while a non-lite robot's real-time states have stopped arriving.
  // Construction waits for the connection, so such a robot was connected
  // and has been lost; a lite robot has no connection monitor and is never
  // lost.
  bool Lost() const;
  // Throws LostConnection(operation) when the robot is lost.
  void RequireConnected(std::string_view operation) const;
  // std::runtime_error Prefix(operation) + " Lost connection to the robot":
  // the failure of a command that the loss of the link keeps from deciding
  // on the robot's states, before or while it waits on them. A runtime
  // error, as every other failure of the link, so that a pair tags it with
  // its arm.
  static std::runtime_error LostConnection(std::string_view operation);

  // The raw control mode of the newest real-time states (0 before any).
  int16_t CurrentMode() const;
  // CurrentMode as a Mode; values outside 0 to 12 give UNKNOWN.
  Mode mode() const;

  // UNKNOWN while the robot is lost.
  OperationalStatus operational_status() const;
  bool operational() const;
  // Prefix(operation) + " Robot is not operational: " + status text.
  std::string NotOperationalText(std::string_view operation) const;
  // The operational gate: throws std::runtime_error NotOperationalText
  // unless the status is READY or IN_REDUCED_STATE.
  void RequireOperational(std::string_view operation) const;

  // Motion commands (see the rule at the top): under motion_mutex,
  // increments motion_cmd_counter, sets the held command with the new value
  // and publishes it. Returns the publisher's status; a failed publish is
  // logged by the publisher.
  QorState PublishJointCommand(const vek_msgs::msg::JointCommands& command);
  QorState PublishCartesianCommand(const vek_msgs::msg::CartesianCommands& command);
  QorState PublishCartesianMultiCommand(
      const std::vector<vek_msgs::msg::CartesianCommands>& commands,
      const std::vector<std::vector<float>>& joint_positions);
  // Under motion_mutex: counter to 0 and the held command cleared, so the
  // next command carries sequence number 1.
  void ResetMotionCommands();
  // The counter, read under motion_mutex.
  uint64_t MotionCommandCounter();

  // ---------------------------------------------------------------------
  // Status queries (robot.cpp).
  bool connected() const;
  RobotStates states() const;
  RobotActions actions() const;
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
  std::array<bool, 18> digital_inputs() const;

  // Control modes, enabling and recovery (robot_modes.cpp).
  void Enable();
  bool ClearFault(unsigned int timeout_sec);
  void SwitchMode(Mode mode);
  void CheckSwitchMode(Mode mode) const;
  void Stop();
  // The two kinds of switch (see the rules at the top).
  void SwitchToIdle();
  void SwitchToMode(Mode mode);
  void RunAutoRecovery();
  void Brake(bool engage);
  void LockExternalAxes(bool lock);
  void SyncWithPositioner(bool sync);

  // Global variables and primitive states (robot_params.cpp).
  std::map<std::string, ParamVariant> primitive_states() const;
  std::map<std::string, ParamVariant> global_variables() const;
  void SetGlobalVariables(const std::map<std::string, ParamVariant>& global_vars);
  // Returns the request text, which the command sends.
  std::string CheckSetGlobalVariables(const std::map<std::string, ParamVariant>& global_vars) const;

  // ---------------------------------------------------------------------
  // State. Everything but motion_cmd_counter is set during construction and
  // not changed afterwards.
  std::array<std::string, 12> model_names;
  std::shared_ptr<vek_impl::VEKClient> client;
  // Sequence stamp of motion commands: incremented before each command,
  // reset to 0 by a successful mode switch. Guarded by motion_mutex (see
  // the rule at the top).
  uint64_t motion_cmd_counter = 0;
  RobotModel robot_model = UNKNOWN_MODEL;
  RobotInfo info;
  bool verbose = false;
  bool lite = false;
  std::mutex motion_mutex;
  std::mutex mode_switch_mutex;
  std::mutex stop_mutex;
  // Stops begun so far; incremented under stop_mutex, read by switches
  // without it.
  std::atomic<uint64_t> stop_count{0};
  // The last control mode this Robot requested (a switch records it just
  // before its request goes out, a stop once the robot acknowledged IDLE);
  // -1 before any. Guarded by stop_mutex. The real-time states show a newly
  // requested mode only with their next sample, so a switch that reads IDLE
  // right after this Robot requested another mode still sends IDLE: a Stop
  // never mistakes a fresh mode for IDLE.
  int16_t last_requested_mode = -1;

 private:
  // Last step of the construction: RobotInfo with stiffness limits, checked.
  void FetchRobotInfo(const std::string& normalised_serial);

  // Steps of the switches (robot_modes.cpp). `interrupted` tells a wait of
  // a switch that a stop overtook it; a stop waits without one.
  enum class ModeRequest { kAcknowledged, kFailed, kInterrupted };
  // Whether a stop began since stop_count was `stops`.
  std::function<bool()> StopSince(uint64_t stops) const;
  // The mode a switch leaves: the operational gate (unless lite), a known
  // mode, and a mode requested but not shown yet. stop_mutex held.
  int16_t ModeToLeave() const;
  // The request for `mode` of a switch that began when stop_count was
  // `stops`, abandoned between its attempts once a stop came; records it
  // in last_requested_mode (see the rules at the top).
  ModeRequest RequestMode(Mode mode, uint64_t stops);
  // In IDLE: sleeps in 10 ms steps until the robot stands still, at most
  // 700 ms. False once interrupted.
  bool WaitForStandstill(const std::function<bool()>& interrupted);
  // Up to 200 ms until the states show `mode`. False once interrupted.
  bool AwaitModeReport(Mode mode, const std::function<bool()>& interrupted);
  // Restarts the motion-command series and logs the switch (verbose).
  void FinishSwitch(Mode mode);

  // =====================================================================
  // Plans and primitives, motion commands and settings.
 public:
  // Plans and primitives (robot_plans.cpp).
  void ExecutePlan(unsigned int index, bool continue_exec, bool block_until_started);
  void ExecutePlan(const std::string& plan_name, bool continue_exec, bool block_until_started);
  void CheckExecutePlan(const std::string& plan_name, bool continue_exec,
                        bool block_until_started) const;
  void PausePlan(bool pause);
  void StopPlan();
  void SetBreakpointMode(bool is_enabled);
  void StepBreakpoint();
  void SetVelocityScale(unsigned int velocity_scale);
  void CheckSetVelocityScale(unsigned int velocity_scale) const;
  void ExecutePrimitive(const std::string& primitive_name,
                        const std::map<std::string, ParamVariant>& input_params,
                        bool block_until_started);
  // Returns the request text, which the command sends.
  std::string CheckExecutePrimitive(const std::string& primitive_name,
                                    const std::map<std::string, ParamVariant>& input_params,
                                    bool block_until_started) const;

  // Motion commands (robot_motion.cpp). Each goes through the operational
  // gate, the control mode and its argument checks, then one of the
  // Publish* helpers.
  void StreamJointTorque(const std::vector<double>& torques, bool enable_gravity_comp,
                         bool enable_soft_limits, double friction_comp_scale);
  void CheckStreamJointTorque(const std::vector<double>& torques, bool enable_gravity_comp,
                              bool enable_soft_limits, double friction_comp_scale) const;
  void StreamJointPosition(const std::vector<double>& positions,
                           const std::vector<double>& velocities,
                           const std::vector<double>& accelerations);
  void CheckStreamJointPosition(const std::vector<double>& positions,
                                const std::vector<double>& velocities,
                                const std::vector<double>& accelerations) const;
  void SendJointPosition(const std::vector<double>& positions,
                         const std::vector<double>& velocities, const std::vector<double>& max_vel,
                         const std::vector<double>& max_acc);
  void CheckSendJointPosition(const std::vector<double>& positions,
                              const std::vector<double>& velocities,
                              const std::vector<double>& max_vel,
                              const std::vector<double>& max_acc) const;
  void StreamCartesianMotionForce(const std::array<double, 7>& pose,
                                  const std::array<double, 6>& wrench,
                                  const std::array<double, 6>& velocity,
                                  const std::array<double, 6>& acceleration);
  void CheckStreamCartesianMotionForce(const std::array<double, 7>& pose,
                                       const std::array<double, 6>& wrench,
                                       const std::array<double, 6>& velocity,
                                       const std::array<double, 6>& acceleration) const;
  void SendCartesianMotionForce(const std::array<double, 7>& pose,
                                const std::array<double, 6>& wrench,
                                const std::array<double, 6>& velocity, double max_linear_vel,
                                double max_angular_vel, double max_linear_acc,
                                double max_angular_acc);
  void CheckSendCartesianMotionForce(const std::array<double, 7>& pose,
                                     const std::array<double, 6>& wrench,
                                     const std::array<double, 6>& velocity, double max_linear_vel,
                                     double max_angular_vel, double max_linear_acc,
                                     double max_angular_acc) const;
  void SendMultiCartesianMotionForce(const std::vector<NrtCartesianCmd>& cart_cmds,
                                     const std::vector<std::vector<double>>& joint_pos);
  void CheckSendMultiCartesianMotionForce(const std::vector<NrtCartesianCmd>& cart_cmds,
                                          const std::vector<std::vector<double>>& joint_pos) const;

  // Impedance, force-control and I/O settings (robot_settings.cpp).
  void SetJointImpedance(const std::vector<double>& K_q, const std::vector<double>& Z_q);
  void CheckSetJointImpedance(const std::vector<double>& K_q, const std::vector<double>& Z_q) const;
  void SetCartesianImpedance(const std::array<double, 6>& K_x, const std::array<double, 6>& Z_x);
  void CheckSetCartesianImpedance(const std::array<double, 6>& K_x,
                                  const std::array<double, 6>& Z_x) const;
  void SetMaxContactWrench(const std::array<double, 6>& max_wrench);
  void CheckSetMaxContactWrench(const std::array<double, 6>& max_wrench) const;
  void SetMaxContactTorque(const std::vector<double>& max_torques);
  void CheckSetMaxContactTorque(const std::vector<double>& max_torques) const;
  void SetJointInertiaScale(const std::vector<double>& inertia_scales);
  void CheckSetJointInertiaScale(const std::vector<double>& inertia_scales) const;
  void SetNullSpacePosture(const std::vector<double>& ref_positions);
  void CheckSetNullSpacePosture(const std::vector<double>& ref_positions) const;
  void SetNullSpaceObjectives(double linear_manipulability, double angular_manipulability,
                              double ref_positions_tracking);
  void CheckSetNullSpaceObjectives(double linear_manipulability, double angular_manipulability,
                                   double ref_positions_tracking) const;
  void SetForceControlAxis(const std::array<bool, 6>& enabled_axes,
                           const std::array<double, 3>& max_linear_vel);
  void CheckSetForceControlAxis(const std::array<bool, 6>& enabled_axes,
                                const std::array<double, 3>& max_linear_vel) const;
  void SetForceControlFrame(CoordType root_coord, const std::array<double, 7>& T_in_root);
  void CheckSetForceControlFrame(CoordType root_coord,
                                 const std::array<double, 7>& T_in_root) const;
  void SetPassiveForceControl(bool is_enabled);
  void SetDigitalOutputs(const std::map<unsigned int, bool>& digital_outputs);
  void CheckSetDigitalOutputs(const std::map<unsigned int, bool>& digital_outputs) const;

  // Numbers that go on the wire as 32-bit floats (robot_motion.cpp).
  // True when `x` is finite and within the range of a 32-bit float, so
  // that it stays finite on the wire.
  static bool IsWireFloat(double x);
  // Throws std::invalid_argument unless every one of the `count` values
  // passes IsWireFloat: Prefix(operation) + " Input parameter [" + argument
  // + "] contains a non-finite value" for NaN or an infinity, "... contains
  // a value outside the 32-bit float range" for a finite value too large
  // for a float.
  static void RequireWireFloats(const double* values, std::size_t count, std::string_view operation,
                                std::string_view argument);
  // Throws std::invalid_argument unless `pose` [x, y, z, qw, qx, qy, qz]
  // passes RequireWireFloats and its quaternion has a norm of at least the
  // double epsilon (a shorter one counts as zero and cannot be normalised):
  // Prefix(operation) + " Input parameter [" + argument + "] contains an
  // invalid quaternion".
  static void RequirePose(const std::array<double, 7>& pose, std::string_view operation,
                          std::string_view argument);
  // Entry `i` of a per-joint limit table, NaN when the table is shorter:
  // a range check against it then fails instead of reading past the end.
  static double LimitAt(const std::vector<double>& table, std::size_t i);
};

}  // namespace quiral::vek
