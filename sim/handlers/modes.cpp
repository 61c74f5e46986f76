// Enabling, fault clearing, control modes, brakes and external axes: the
// controller's state machine as the operations service drives it.
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "sim/handler_registry.h"
#include "sim/handlers/families.h"
#include "sim/robot_state.h"

namespace quiral::sim {

namespace {

namespace vek = vek_msgs::msg;
using Board = qor::SafetyBoardState;
using Sys = qor::SystemState;

// Refused with the e-stop or a fault; nothing to do when already enabled;
// from a stop the brakes are released at once and the robot is ready after
// the enable delay (unless the e-stop came in between).
bool Enable(RobotState& s, const vek::RPCRequest&, vek::RPCReply&) {
  if (s.safety_inputs[kEstopInput] || s.fault != Fault::kNone || IsFaultState(s.system_state)) {
    return false;
  }
  if (s.safety_board == Raw(Board::NORMAL) || s.safety_board == Raw(Board::REDUCED)) return true;
  if (s.safety_board != Raw(Board::CAT_1_STOP) && s.safety_board != Raw(Board::CAT_2_STOP) &&
      s.safety_board != Raw(Board::RELEASE_BRAKE)) {
    return false;
  }
  s.safety_board = Raw(Board::RELEASE_BRAKE);
  s.Schedule(s.config.enable_delay_ms, [&s] {
    if (s.safety_board == Raw(Board::RELEASE_BRAKE) && !s.safety_inputs[kEstopInput]) {
      s.safety_board = Raw(Board::NORMAL);
      s.system_state = Raw(Sys::STOPPED_EXTERNAL_AUTO);
    }
  });
  return true;
}

// Always accepted; a clearable fault is gone after the clear-fault delay (a
// critical one leaves the safety board stopped).
bool ClearFault(RobotState& s, const vek::RPCRequest&, vek::RPCReply&) {
  if (s.fault != Fault::kNone && s.fault_clearable) {
    s.Schedule(s.config.clear_fault_delay_ms, [&s] {
      if (s.fault == Fault::kCritical) s.safety_board = Raw(Board::CAT_1_STOP);
      if (s.fault != Fault::kNone) {
        s.fault = Fault::kNone;
        s.system_state = Raw(Sys::STOPPED_EXTERNAL_AUTO);
      }
    });
  }
  return true;
}

// IDLE always; automatic recovery only in the recovery state; the modes in
// between only when operational.
bool SwitchMode(RobotState& s, const vek::RPCRequest& request, vek::RPCReply&) {
  const auto& ints = request.int_args();
  if (ints.size() != 1) return false;
  const int mode = ints[0];
  const int recovery = Raw(qor::ExtCtrlMode::AUTO_RECOVERY);
  bool ok = false;
  if (mode == kIdle) {
    ok = true;
  } else if (mode == recovery) {
    ok = s.safety_board == Raw(Board::RECOVERY);
  } else if (mode > kIdle && mode < recovery) {
    ok = s.Operational();
  }
  if (ok) s.ChangeMode(mode);
  return ok;
}

// A {1 or 0} switch, accepted only in IDLE when `idle_only`.
OpsHandler Switch(bool RobotState::*flag, bool idle_only) {
  return [flag, idle_only](RobotState& s, const vek::RPCRequest& request, vek::RPCReply&) {
    const auto& ints = request.int_args();
    if (ints.size() != 1 || (idle_only && s.mode != kIdle)) return false;
    s.*flag = ints[0] != 0;
    return true;
  };
}

}  // namespace

void AddModeHandlers(HandlerRegistry& registry) {
  registry.AddOperation(ProcedureId::kEnable, Enable);
  registry.AddOperation(ProcedureId::kClearFault, ClearFault);
  registry.AddOperation(ProcedureId::kSwitchMode, SwitchMode);
  registry.AddOperation(ProcedureId::kBrake, Switch(&RobotState::brakes_engaged, false));
  registry.AddOperation(ProcedureId::kLockExternalAxes,
                        Switch(&RobotState::external_axes_locked, true));
  registry.AddOperation(ProcedureId::kSyncWithPositioner,
                        Switch(&RobotState::synced_with_positioner, false));
}

}  // namespace quiral::sim
