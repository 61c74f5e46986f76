// States that the robot controller reports in its real-time and stream data.
#pragma once

#include <cstdint>

namespace qor {

// The controller's system state.
enum class SystemState : int32_t {
  UNKNOWN = 0,
  INIT = 1,
  STOPPED_MANUAL = 2,
  STOPPED_AUTO = 3,
  STOPPED_EXTERNAL_AUTO = 4,
  WORKING_EXTERNAL_AUTO = 5,
  WORKING_MANUAL_EXECUTE = 6,
  WORKING_AUTO_EXECUTE = 7,
  REWIND_EXTERNAL_AUTO = 8,
  REWIND_MANUAL = 9,
  REWIND_AUTO = 10,
  FREEDRIVE_MANUAL = 11,
  FREEDRIVE_AUTO = 12,
  FAULT_MANUAL = 13,
  FAULT_AUTO = 14,
  FAULT_EXTERNAL_AUTO = 15,
  RECOVERY_MANUAL = 16,
  RECOVERY_AUTO = 17,
  RECOVERY_EXTERNAL_AUTO = 18,
};

// The safety board's state. The values have gaps; a controller may send a
// value outside this list.
enum class SafetyBoardState : int32_t {
  UNKNOWN = -1,
  STARTUP = 0,
  SYNC = 8,
  RECOVERY = 9,
  REDUCED = 10,
  NORMAL = 12,
  TRANSITION = 14,
  RELEASE_BRAKE = 24,
  CAT_0_STOP = 40,
  CAT_1_STOP = 72,
  CAT_2_STOP = 136,
};

// The controller's control mode as the link carries it; same values as
// quiral::vek::Mode.
enum class ExtCtrlMode : int16_t {
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

}  // namespace qor
