// Everything one simulated controller knows, and the rules that the request
// handlers, the simulation step and the control channel share. RobotSim
// (sim/robot_sim.h) owns one RobotState and holds its lock around every use;
// nothing here locks.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Geometry>
#include <nlohmann/json.hpp>

#include "base/controller_states.h"
#include "sim/file_store.h"
#include "sim/gripper.h"
#include "sim/held_object.h"
#include "sim/kinematics.h"
#include "sim/program_runner.h"

namespace quiral::sim {

using Clock = std::chrono::steady_clock;

struct RobotConfig {
  std::string serial;
  size_t dof_m = 7;
  size_t dof_e = 0;
  // "disabled", "ready", "estop", "fault", "booting" or "recovery".
  std::string initial_state = "disabled";
  int enable_delay_ms = 300;
  int clear_fault_delay_ms = 300;
};

// The raw value of a controller state, as the wire and the control channel
// carry it.
template <class Enum>
constexpr int Raw(Enum value) {
  return static_cast<int>(value);
}

constexpr int kIdle = Raw(qor::ExtCtrlMode::IDLE);
constexpr size_t kEstopInput = 7;
constexpr size_t kEnablingButtonInput = 5;

inline bool IsFaultState(int system_state) { return system_state >= 13 && system_state <= 15; }

struct Tool {
  std::string name;
  float mass = 0;
  std::array<float, 3> com{};
  std::array<float, 6> inertia{};
  std::array<float, 7> tcp{0, 0, 0, 1, 0, 0, 0};
};

struct Device {
  std::string name;
  bool enabled = false;
  bool connected = true;
  // Parameter name -> value as JSON: integer, float, string, or arrays of
  // them; null marks a parameter whose value the controller refuses.
  std::vector<std::pair<std::string, nlohmann::json>> params;
};

enum class Fault { kNone, kMinor, kCritical };
enum class Target { kNone, kJoint, kCartesian, kWaypoints };

struct RobotState {
  // Builds the defaults (limits, plans, tools, devices, files) and applies
  // the initial state; throws std::invalid_argument on a bad configuration.
  explicit RobotState(const RobotConfig& config);

  // Same rule as the client's operational status: READY or IN_REDUCED_STATE.
  bool Operational() const;
  // Drops every motion target; the arm decelerates to rest.
  void StopMotion();
  // Ends any program and motion, then switches the mode.
  void ChangeMode(int new_mode);
  // Follows `q` (joints beyond its end keep their place) within the limits,
  // at `max_vel` where given and positive, scaled by `scale`.
  void SetJointTarget(const std::vector<double>& q, const std::vector<double>* max_vel,
                      double scale);
  // Runs `action` `delay_ms` after the latest simulation step.
  void Schedule(int delay_ms, std::function<void()> action);
  // Runs the actions due at `now`, in time order.
  void RunScheduled(Clock::time_point now);
  // The active tool's TCP relative to the flange.
  Eigen::Isometry3d TcpOffset() const;
  const Tool* FindTool(const std::string& name) const;
  Device* FindDevice(const std::string& name);

  RobotConfig config;
  const size_t dof;
  const ArmKinematics kin;

  Clock::time_point last_step{};
  bool stepped = false;
  std::vector<std::pair<Clock::time_point, std::function<void()>>> scheduled;

  // Controller status.
  int mode = kIdle;
  int safety_board = Raw(qor::SafetyBoardState::CAT_1_STOP);
  int system_state = Raw(qor::SystemState::STOPPED_EXTERNAL_AUTO);
  std::array<bool, 8> safety_inputs{};
  std::array<bool, 18> digital_inputs{};
  std::array<int, 18> digital_outputs{};
  Fault fault = Fault::kNone;
  bool fault_clearable = true;
  std::optional<bool> program_running_override;
  uint64_t timeliness_failures = 0;
  bool brakes_engaged = false;
  int velocity_scale = 100;
  bool breakpoint_mode = false;
  bool external_axes_locked = false;
  bool synced_with_positioner = false;
  bool passive_force_control = false;
  // The last accepted setting per procedure id: its floats (70 to 81), and
  // its int_args, float_args and string_args (8 and 70 to 82).
  std::map<int, std::vector<float>> setting_floats;
  std::map<int, nlohmann::json> setting_args;

  // Arm.
  std::vector<double> q, v;
  std::vector<double> q_min, q_max, joint_limit_3, tau_max, v_limit;
  double a_limit = 10.0;
  std::vector<double> home;
  Target target_kind = Target::kNone;
  std::vector<double> joint_target, target_vmax;
  Eigen::Isometry3d cart_target = Eigen::Isometry3d::Identity();
  bool cart_target_new = false;
  std::deque<std::vector<double>> waypoints;
  std::vector<float> commanded_torque;
  std::optional<std::vector<double>> velocity_override;
  std::array<double, 6> ext_wrench{};
  // An object held with a partner arm; its spring force adds to ext_wrench.
  std::optional<HeldObject> held_object;
  PoseVec last_tcp{};
  uint64_t motion_applied = 0;
  uint64_t motion_ignored = 0;
  // The next this many motion commands are lost on the way: recorded, never
  // applied (a best-effort sample the network dropped).
  uint64_t lose_motion_commands = 0;

  SimGripper gripper;
  std::string gripper_device = "SimGripper";

  // What the services report.
  std::string server_version = "v1.9.3";
  std::string lumo_version = "LUMO:v1.4";
  std::string server_text;
  int64_t info_dof_e, info_dof_m, info_dof;
  int32_t reply_flag = 1;
  std::optional<std::vector<float>> info_floats_override;
  std::map<std::string, std::string> global_variables;
  std::vector<Task> plans;
  std::map<std::string, Task> primitives;
  std::optional<Program> program;
  std::optional<std::vector<std::string>> primitive_states_override;
  std::optional<std::vector<std::string>> plan_info_override;
  std::optional<std::vector<float>> manipulability_override;
  std::optional<std::pair<bool, std::vector<double>>> reachability_override;
  std::vector<Tool> tools;
  std::string active_tool = "Flange";
  Tool payload_result;
  std::vector<Device> devices;
  std::map<std::string, std::array<float, 7>> work_coords;
  FileStore files;

 private:
  void BuildDefaults();
  void ApplyInitialState(const std::string& name);
};

}  // namespace quiral::sim
