// Value types, enumerations and name tables of the single-robot API
// (namespace quiral::vek). They sit below the link, which fills them from
// the controller's replies and samples; the API re-exports them through
// vek/data_types.h.
//
// The records are plain values: every field is public, a default-built
// record holds zeros, empty texts and empty vectors, and the API hands them
// out by copy. The name tables are namespace-scope constants, one object
// each for the whole program.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

// A public header (installed as quiral/...): it includes other public headers
// only, by relative path.
#include "controller_states.h"

namespace quiral::vek {

// Description of the connected robot, fetched once at construction.
struct RobotInfo {
  std::string serial_number;  // normalised: blanks removed, "_" -> "-"
  std::string server_text;
  std::string model_name;
  std::size_t DoF_e = 0;  // external-axis joints
  std::size_t DoF_m = 0;  // arm joints
  std::size_t DoF = 0;    // DoF_e + DoF_m
  std::array<double, 6> K_x_max = {};
  std::vector<double> K_q_max;
  std::vector<double> q_min;
  std::vector<double> q_max;
  std::vector<double> joint_limit_3;
  std::vector<double> tau_max;
  bool reply_flag = false;
};

// Measured state of the robot. Poses are [x, y, z, qw, qx, qy, qz],
// wrenches [fx, fy, fz, mx, my, mz].
struct RobotStates {
  std::array<int32_t, 2> timestamp = {};  // seconds, nanoseconds
  std::vector<double> link_position;
  std::vector<double> motor_position;
  std::vector<double> link_velocity;
  std::vector<double> motor_velocity;
  std::vector<double> torque;
  std::vector<double> torque_dot;
  std::vector<double> torque_ext;
  std::vector<double> torque_interact;
  std::vector<double> temperature;
  std::array<double, 7> tcp_pose = {};
  std::array<double, 6> tcp_velocity = {};
  std::array<double, 7> flange_pose = {};
  std::array<double, 6> ft_sensor_raw = {};
  std::array<double, 6> ext_wrench_in_tcp = {};
  std::array<double, 6> ext_wrench_in_world = {};
  std::array<double, 6> ext_wrench_in_tcp_raw = {};
  std::array<double, 6> ext_wrench_in_world_raw = {};
};

// The controller's desired values.
struct RobotActions {
  std::vector<double> position_des;
  std::vector<double> velocity_des;
  std::vector<double> torque_des;
  std::array<double, 7> tcp_pose_des = {};
  std::array<double, 6> tcp_velocity_des = {};
  std::array<double, 6> wrench_des_in_ctrl_frame = {};
};

// Information on the running plan.
struct PlanInfo {
  std::string item_0;
  std::string item_1;
  std::string item_2;
  std::string item_3;
  std::string item_4;
  std::string item_5;
  double item_6 = 0.0;
  bool item_7 = false;
};

// One entry of the robot's event log.
struct RobotEvent {
  int32_t level = 0;  // 1 info, 2 warning, 3 error, 4 critical
  int32_t id = 0;
  std::string description;
  std::string consequences;
  std::string probable_causes;
  std::string recommended_actions;
  std::chrono::system_clock::time_point timestamp;  // when it was received
};

// A Cartesian coordinate as a parameter value: 3 + 3 + 2 + 7 + 6 items.
struct Coord {
  std::array<double, 3> position = {};
  std::array<double, 3> orientation = {};
  std::array<std::string, 2> ref_frame = {};
  std::array<double, 7> ref_q_m = {};  // all zero: none given
  std::array<double, 6> ref_q_e = {};  // all zero: none given
};

// A joint position as a parameter value.
struct JPos {
  std::array<double, 7> q_m = {};
  std::array<double, 6> q_e = {};
};

// One waypoint of a non-real-time multi-waypoint Cartesian command.
struct NrtCartesianCmd {
  std::array<double, 7> pose = {};
  std::array<double, 6> wrench = {};
  std::array<double, 6> velocity = {};
  double max_linear_vel = 0.0;
  double max_angular_vel = 0.0;
  double max_linear_acc = 0.0;
  double max_angular_acc = 0.0;
};

// Mass properties and tool centre point of a mounted tool.
struct ToolParams {
  double mass = 0.0;
  std::array<double, 3> CoM = {};
  std::array<double, 6> inertia = {};  // Ixx, Iyy, Izz, Ixy, Ixz, Iyz
  std::array<double, 7> tcp_location = {};
};

// Working ranges of an enabled gripper, as the controller reports them.
struct GripperParams {
  std::string name;
  double min_width = 0.0;
  double max_width = 0.0;
  double min_vel = 0.0;
  double max_vel = 0.0;
  double min_force = 0.0;
  double max_force = 0.0;
};

// The gripper part of the latest real-time state.
struct GripperStates {
  double width = 0.0;
  double force = 0.0;
  bool is_moving = false;
};

// A value of a primitive parameter, primitive state or global variable.
using ParamVariant =
    std::variant<int, double, std::string, JPos, Coord, std::vector<int>,
                 std::vector<double>, std::vector<std::string>,
                 std::vector<JPos>, std::vector<Coord>>;

enum class Mode : int32_t {
  UNKNOWN = 0,
  IDLE = 1,
  RT_JOINT_TORQUE = 2,
  RT_JOINT_IMPEDANCE = 3,
  NRT_JOINT_IMPEDANCE = 4,
  RT_JOINT_POSITION = 5,
  NRT_JOINT_POSITION = 6,
  NRT_PLAN_EXECUTION = 7,
  NRT_PRIMITIVE_EXECUTION = 8,
  RT_CARTESIAN_MOTION_FORCE = 9,
  NRT_CARTESIAN_MOTION_FORCE = 10,
  NRT_SUPER_PRIMITIVE = 11,
  AUTO_RECOVERY = 12,
};

enum class OperationalStatus : int32_t {
  UNKNOWN = 0,
  READY = 1,
  BOOTING = 2,
  ESTOP_NOT_RELEASED = 3,
  NOT_ENABLED = 4,
  RELEASING_BRAKE = 5,
  MINOR_FAULT = 6,
  CRITICAL_FAULT = 7,
  IN_REDUCED_STATE = 8,
  IN_RECOVERY_STATE = 9,
  IN_MANUAL_MODE = 10,
  IN_AUTO_MODE = 11,
};

enum class CoordType : int32_t {
  WORLD = 0,
  TCP = 1,
};

// Names of the control modes, indexed by Mode.
inline const std::array<std::string, 13> kModeNames = {
    "UNKNOWN",
    "IDLE",
    "RT_JOINT_TORQUE",
    "RT_JOINT_IMPEDANCE",
    "NRT_JOINT_IMPEDANCE",
    "RT_JOINT_POSITION",
    "NRT_JOINT_POSITION",
    "NRT_PLAN_EXECUTION",
    "NRT_PRIMITIVE_EXECUTION",
    "RT_CARTESIAN_MOTION_FORCE",
    "NRT_CARTESIAN_MOTION_FORCE",
    "NRT_SUPER_PRIMITIVE",
    "AUTO_RECOVERY",
};

// The same names without AUTO_RECOVERY.
inline const std::array<std::string, 12> kModeNamesWithoutRecovery = {
    "UNKNOWN",
    "IDLE",
    "RT_JOINT_TORQUE",
    "RT_JOINT_IMPEDANCE",
    "NRT_JOINT_IMPEDANCE",
    "RT_JOINT_POSITION",
    "NRT_JOINT_POSITION",
    "NRT_PLAN_EXECUTION",
    "NRT_PRIMITIVE_EXECUTION",
    "RT_CARTESIAN_MOTION_FORCE",
    "NRT_CARTESIAN_MOTION_FORCE",
    "NRT_SUPER_PRIMITIVE",
};

// Display texts of the operational statuses, indexed by OperationalStatus.
inline const std::array<std::string, 12> kOperationalStatusTexts = {
    "Unknown status",
    "Ready",
    "System booting",
    "E-Stop not released",
    "Not enabled",
    "Releasing brakes",
    "Minor fault occurred",
    "Critical fault occurred",
    "In reduced state",
    "In recovery state",
    "In Manual mode",
    "In regular Auto mode",
};

inline const std::unordered_map<qor::SystemState, std::string> kSystemStateNames = {
    {qor::SystemState::UNKNOWN, "UNKNOWN"},
    {qor::SystemState::INIT, "INIT"},
    {qor::SystemState::STOPPED_MANUAL, "STOPPED_MANUAL"},
    {qor::SystemState::STOPPED_AUTO, "STOPPED_AUTO"},
    {qor::SystemState::STOPPED_EXTERNAL_AUTO, "STOPPED_EXTERNAL_AUTO"},
    {qor::SystemState::WORKING_EXTERNAL_AUTO, "WORKING_EXTERNAL_AUTO"},
    {qor::SystemState::WORKING_MANUAL_EXECUTE, "WORKING_MANUAL_EXECUTE"},
    {qor::SystemState::WORKING_AUTO_EXECUTE, "WORKING_AUTO_EXECUTE"},
    {qor::SystemState::REWIND_EXTERNAL_AUTO, "REWIND_EXTERNAL_AUTO"},
    {qor::SystemState::REWIND_MANUAL, "REWIND_MANUAL"},
    {qor::SystemState::REWIND_AUTO, "REWIND_AUTO"},
    {qor::SystemState::FREEDRIVE_MANUAL, "FREEDRIVE_MANUAL"},
    {qor::SystemState::FREEDRIVE_AUTO, "FREEDRIVE_AUTO"},
    {qor::SystemState::FAULT_MANUAL, "FAULT_MANUAL"},
    {qor::SystemState::FAULT_AUTO, "FAULT_AUTO"},
    {qor::SystemState::FAULT_EXTERNAL_AUTO, "FAULT_EXTERNAL_AUTO"},
    {qor::SystemState::RECOVERY_MANUAL, "RECOVERY_MANUAL"},
    {qor::SystemState::RECOVERY_AUTO, "RECOVERY_AUTO"},
    {qor::SystemState::RECOVERY_EXTERNAL_AUTO, "RECOVERY_EXTERNAL_AUTO"},
};

inline const std::map<qor::SafetyBoardState, std::string> kSafetyBoardStateNames = {
    {qor::SafetyBoardState::UNKNOWN, "UNKNOWN"},
    {qor::SafetyBoardState::STARTUP, "STARTUP"},
    {qor::SafetyBoardState::SYNC, "SYNC"},
    {qor::SafetyBoardState::RECOVERY, "RECOVERY"},
    {qor::SafetyBoardState::REDUCED, "REDUCED"},
    {qor::SafetyBoardState::NORMAL, "NORMAL"},
    {qor::SafetyBoardState::TRANSITION, "TRANSITION"},
    {qor::SafetyBoardState::RELEASE_BRAKE, "RELEASE_BRAKE"},
    {qor::SafetyBoardState::CAT_0_STOP, "CAT_0_STOP"},
    {qor::SafetyBoardState::CAT_1_STOP, "CAT_1_STOP"},
    {qor::SafetyBoardState::CAT_2_STOP, "CAT_2_STOP"},
};

// Version of this client, required of the robot's server.
inline const std::string kVEKVersion = "v1.9.3";
// Data-service version required of the robot.
inline const std::string kLUMOVersion = "v1.4";

// Upper limits of joint stiffness per robot model.
inline const std::vector<double> kMaxJointStiffnessVarno4 = {6000, 6000, 4200, 4200,
                                                             1500, 1500, 1500};
inline const std::vector<double> kMaxJointStiffnessVarno10 = {12000, 12000, 10000, 10000,
                                                              5000,  5000,  5000};
inline const std::vector<double> kMaxJointStiffnessStarfloat = {6000, 6000, 6000};
// A copy made at load time; defined after the table it copies, so it is
// initialised after it.
inline const std::vector<double> kMaxJointStiffnessOmbriskL = kMaxJointStiffnessVarno4;

}  // namespace quiral::vek
