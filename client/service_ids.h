// Ids of the robot's two request/reply services. Each travels as a 16-bit
// unsigned integer: a procedure id in the operations service's requests,
// a request id in the data service's. Every enumerator is named after the
// operation that sends it.
#pragma once

#include <cstdint>

namespace quiral {
namespace vek_impl {

// Procedures of the operations service (OperationsRPC).
enum class ProcedureId : uint16_t {
  Enable = 1,
  ClearFault = 2,
  RequestServerVersion = 3,
  GetUrdfContent = 5,
  RequestRobotInfo = 6,
  SwitchCtrlMode = 7,
  SetDigitalOutputs = 8,
  Brake = 9,
  RequestReachability = 10,
  global_variables = 11,
  SetGlobalVariables = 12,
  LockExternalAxes = 13,
  SyncWithPositioner = 14,
  SetVelocityScale = 20,
  ExecutePrimitive = 21,
  ExecutePlan = 22,
  plan_list = 23,
  PausePlan = 24,
  ResumePlan = 25,
  StopPlan = 26,
  SetBreakpointMode = 27,
  StepBreakpoint = 28,
  RequestActiveToolParams = 34,
  RequestToolParams = 35,
  RequestToolPayloadCaliResult = 37,
  RequestDeviceList = 40,
  EnableDevice = 41,
  CommandDevice = 42,
  RequestDeviceParams = 43,
  RequestDeviceParamValues = 44,
  RequestDeviceStatus = 45,
  RequestWorkCoordPose = 53,
  traj_files_list = 60,
  UploadTrajFile = 61,
  DownloadTrajFile = 62,
  projects_list = 63,
  UploadProject = 64,
  DownloadProject = 65,
  DownloadCollisionMesh = 66,
  SetCartesianImpedance = 70,
  SetJointImpedance = 71,
  SetMaxContactWrench = 72,
  SetNullSpacePosture = 73,
  SetNullSpaceObjectives = 74,
  SetJointInertiaScale = 75,
  SetMaxContactTorque = 76,
  SetForceControlAxis = 80,
  SetForceControlFrame = 81,
  SetPassiveForceControl = 82,
};

// Requests of the data service (LUMODataRpc).
enum class LUMORequestId : uint16_t {
  RequestLUMOVersion = 1,
  RequestPtStates = 2,
  RequestPlanInfo = 3,
  RequestManipulability = 8,
};

}  // namespace vek_impl
}  // namespace quiral
