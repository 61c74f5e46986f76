// The numbers of the controller's remote procedures, as the simulator knows
// them. The simulator keeps its own table instead of sharing the client's,
// so that a wrong number on either side shows up as a refused call rather
// than hiding behind one shared constant.
#pragma once

#include <cstdint>

namespace quiral::sim {

// Procedures of the operations service.
enum class ProcedureId : uint16_t {
  kEnable = 1,
  kClearFault = 2,
  kServerVersion = 3,
  kDownloadUrdf = 5,
  kRobotInfo = 6,
  kSwitchMode = 7,
  kDigitalOutputs = 8,
  kBrake = 9,
  kReachability = 10,
  kGlobalVariables = 11,
  kSetGlobalVariables = 12,
  kLockExternalAxes = 13,
  kSyncWithPositioner = 14,
  kVelocityScale = 20,
  kExecutePrimitive = 21,
  kExecutePlan = 22,
  kPlanList = 23,
  kPausePlan = 24,
  kResumePlan = 25,
  kStopPlan = 26,
  kBreakpointMode = 27,
  kStepBreakpoint = 28,
  kActiveTool = 34,
  kToolByName = 35,
  kPayloadCalibration = 37,
  kDeviceList = 40,
  kEnableDevice = 41,
  kCommandDevice = 42,
  kDeviceParamNames = 43,
  kDeviceParamValue = 44,
  kDeviceStatus = 45,
  kWorkCoordPose = 53,
  kTrajectoryFileList = 60,
  kUploadTrajectoryFile = 61,
  kDownloadTrajectoryFile = 62,
  kProjectList = 63,
  kUploadProjectFile = 64,
  kDownloadProjectFile = 65,
  kDownloadCollisionMesh = 66,
  kCartesianImpedance = 70,
  kJointImpedance = 71,
  kMaxContactWrench = 72,
  kNullSpacePosture = 73,
  kNullSpaceObjectives = 74,
  kJointInertiaScale = 75,
  kMaxContactTorque = 76,
  kForceControlAxis = 80,
  kForceControlFrame = 81,
  kPassiveForceControl = 82,
};

// Requests of the data service.
enum class DataRequestId : uint16_t {
  kVersion = 1,
  kPrimitiveStates = 2,
  kPlanInfo = 3,
  kManipulability = 8,
};

}  // namespace quiral::sim
