// The simulated robot: the state of one controller and how it answers.
//
// RobotSim knows nothing of DDS. The controller (sim/sim_controller.h) hands
// it every request of the two services, every motion command and a periodic
// tick; RobotSim changes its state as a controller would and fills the
// replies and the outgoing samples. The control channel reads and changes
// the same state through StateJson and Set. One mutex guards everything, so
// every public operation may be called from any thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Geometry>
#include <nlohmann/json.hpp>

#include "base/controller_states.h"
#include "sim/kinematics.h"

namespace vek_msgs::msg {
class RPCRequest;
class RPCReply;
class MotionCommands;
class RealtimeStates;
}  // namespace vek_msgs::msg

namespace quiral_lumo_msgs::msg {
class RPCRequest;
class RPCReply;
class AllBasicStreamData;
class AllExtraStreamData;
}  // namespace quiral_lumo_msgs::msg

namespace quiral::sim {

using Clock = std::chrono::steady_clock;

// Nanoseconds of the monotonic clock (CLOCK_MONOTONIC), comparable between
// processes of the same machine.
uint64_t MonotonicNs(Clock::time_point t);

struct RobotConfig {
  std::string serial;
  size_t dof_m = 7;
  size_t dof_e = 0;
  // "disabled", "ready", "estop", "fault", "booting" or "recovery".
  std::string initial_state = "disabled";
  int enable_delay_ms = 300;
  int clear_fault_delay_ms = 300;
};

class RobotSim {
 public:
  explicit RobotSim(const RobotConfig& config);

  const std::string& serial() const { return config_.serial; }
  size_t dof() const { return dof_; }

  // Advances the simulation to `now` and fills the three periodic samples.
  void Step(Clock::time_point now, vek_msgs::msg::RealtimeStates& rt,
            quiral_lumo_msgs::msg::AllBasicStreamData& basic,
            quiral_lumo_msgs::msg::AllExtraStreamData& extra);

  // Serves one request of the operations service / the data service.
  void HandleOps(const vek_msgs::msg::RPCRequest& request, vek_msgs::msg::RPCReply& reply);
  void HandleData(const quiral_lumo_msgs::msg::RPCRequest& request,
                  quiral_lumo_msgs::msg::RPCReply& reply);

  // Takes one streamed motion command; returns true when it was applied to
  // the motion (false: wrong mode, not operational or malformed).
  bool ApplyMotionCommand(const vek_msgs::msg::MotionCommands& command);

  // Control channel: the current state, and changes to it. Set throws
  // std::invalid_argument (or a JSON type error) on bad input, having
  // changed nothing for the field that failed.
  nlohmann::json StateJson();
  void Set(const nlohmann::json& fields);

  // Stored files of one store ("urdf", "trajectory", "project", "mesh").
  nlohmann::json FilesJson(const std::string& store, bool with_bytes);

 private:
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
  struct Task {
    std::string name;
    double duration_s = 1.0;
    std::optional<std::vector<double>> target;
  };
  struct Program {
    bool is_plan = true;
    std::string name;
    std::string call_text;
    double duration_s = 1.0;
    double elapsed_s = 0.0;
    bool paused = false;
    bool finished = false;
    std::optional<std::vector<double>> target;
    bool continue_exec = false;  // the flag the plan was started with
    bool at_breakpoint = false;  // halted at a node boundary, waiting for a step
    int breakpoint_steps = 0;    // steps taken from breakpoints
  };
  struct StoredFile {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    uint32_t crc = 0;
  };
  enum class Fault { kNone, kMinor, kCritical };
  enum class Target { kNone, kJoint, kCartesian, kWaypoints };

  // All private helpers run with mu_ held.
  void ApplyInitialState(const std::string& name);
  void BuildDefaults();
  void StepMotion(double dt);
  void StepProgram(double dt);
  void RunScheduled(Clock::time_point now);
  void Schedule(int delay_ms, std::function<void()> action);
  bool Operational() const;
  void StopMotion();
  void ChangeMode(int mode);
  void StartProgram(Program program);
  void EndProgram();
  // A plan halted at a breakpoint goes on (`step`: counted as a step).
  void ResumeFromBreakpoint(bool step);
  void SetJointTarget(const std::vector<double>& q, const std::vector<double>* max_vel,
                      double scale);
  Eigen::Isometry3d TcpOffset() const;
  const Tool* FindTool(const std::string& name) const;
  Device* FindDevice(const std::string& name);
  void PutFile(const std::string& store, const std::string& name, std::vector<uint8_t> bytes);
  bool ServeFile(const std::string& store, const std::string& name, vek_msgs::msg::RPCReply& reply);
  bool StoreUpload(const std::string& store, const vek_msgs::msg::RPCRequest& request);
  bool SetGlobalVariables(const std::string& text);
  bool ServeDeviceParam(const vek_msgs::msg::RPCRequest& request, vek_msgs::msg::RPCReply& reply);
  bool DeviceCommand(const vek_msgs::msg::RPCRequest& request);
  bool Reachability(const vek_msgs::msg::RPCRequest& request, vek_msgs::msg::RPCReply& reply);
  std::vector<std::string> PrimitiveStateTexts() const;
  std::vector<std::string> PlanInfoTexts() const;
  std::vector<float> ManipulabilityFloats() const;
  void SetOne(const std::string& key, const nlohmann::json& value);

  RobotConfig config_;
  const size_t dof_;
  const ArmKinematics kin_;

  std::mutex mu_;
  Clock::time_point last_step_{};
  bool stepped_ = false;
  std::vector<std::pair<Clock::time_point, std::function<void()>>> scheduled_;

  // Controller status.
  int mode_ = static_cast<int>(qor::ExtCtrlMode::IDLE);
  int safety_board_ = static_cast<int>(qor::SafetyBoardState::CAT_1_STOP);
  int system_state_ = static_cast<int>(qor::SystemState::STOPPED_EXTERNAL_AUTO);
  std::array<bool, 8> safety_inputs_{};
  std::array<bool, 18> digital_inputs_{};
  std::array<int, 18> digital_outputs_{};
  Fault fault_ = Fault::kNone;
  bool fault_clearable_ = true;
  std::optional<bool> program_running_override_;
  uint64_t timeliness_failures_ = 0;
  bool brakes_engaged_ = false;
  int velocity_scale_ = 100;
  bool breakpoint_mode_ = false;
  bool external_axes_locked_ = false;
  bool synced_with_positioner_ = false;
  bool passive_force_control_ = false;
  std::map<int, std::vector<float>> last_settings_;  // procedure id -> floats
  // Procedure id -> {int_args, float_args, string_args} of the last
  // accepted setting (8 and 70 to 82).
  std::map<int, nlohmann::json> last_setting_args_;

  // Arm.
  std::vector<double> q_, v_;
  std::vector<double> q_min_, q_max_, joint_limit_3_, tau_max_, v_limit_;
  double a_limit_ = 10.0;
  std::vector<double> home_;
  Target target_kind_ = Target::kNone;
  std::vector<double> joint_target_, target_vmax_;
  Eigen::Isometry3d cart_target_ = Eigen::Isometry3d::Identity();
  bool cart_target_new_ = false;
  std::deque<std::vector<double>> waypoints_;
  std::vector<float> commanded_torque_;
  std::optional<std::vector<double>> velocity_override_;
  std::array<double, 6> ext_wrench_{};
  PoseVec last_tcp_{};
  uint64_t motion_applied_ = 0;
  uint64_t motion_ignored_ = 0;

  // Gripper.
  float gripper_width_ = 0.05f, gripper_force_ = 0.0f;
  bool gripper_moving_ = false;
  bool gripper_motion_ = false;  // moving on a device command
  float gripper_target_ = 0.05f, gripper_speed_ = 0.05f;
  std::string gripper_device_ = "SimGripper";

  // What the services report.
  std::string server_version_ = "v1.9.3";
  std::string lumo_version_ = "LUMO:v1.4";
  std::string server_text_;
  int64_t info_dof_e_, info_dof_m_, info_dof_;
  int32_t reply_flag_ = 1;
  std::optional<std::vector<float>> info_floats_override_;
  std::map<std::string, std::string> global_variables_;
  std::vector<Task> plans_;
  std::map<std::string, Task> primitives_;
  std::optional<Program> program_;
  std::optional<std::vector<std::string>> primitive_states_override_;
  std::optional<std::vector<std::string>> plan_info_override_;
  std::optional<std::vector<float>> manipulability_override_;
  std::optional<std::pair<bool, std::vector<double>>> reachability_override_;
  std::vector<Tool> tools_;
  std::string active_tool_ = "Flange";
  Tool payload_result_;
  std::vector<Device> devices_;
  std::map<std::string, std::array<float, 7>> work_coords_;
  std::map<std::string, std::map<std::string, StoredFile>> files_;
};

}  // namespace quiral::sim
