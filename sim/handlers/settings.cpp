// Settings: digital outputs, impedance, contact limits, null space and
// force control. The controller checks their argument counts; an accepted
// setting is kept, as the control channel reports it.
#include <algorithm>

#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "sim/handler_registry.h"
#include "sim/handlers/families.h"
#include "sim/message_args.h"
#include "sim/robot_state.h"

namespace quiral::sim {

namespace {

namespace vek = vek_msgs::msg;
using Accepts = bool (*)(RobotState&, const vek::RPCRequest&);

bool Floats(const vek::RPCRequest& request, size_t count) {
  return request.float_args().size() == count && AllFinite(request.float_args());
}

// Keeps an accepted setting's arguments and, with `keep_floats`, its floats.
OpsHandler Setting(Accepts accepts, bool keep_floats = true) {
  return [accepts, keep_floats](RobotState& s, const vek::RPCRequest& request, vek::RPCReply&) {
    if (!accepts(s, request)) return false;
    const int id = request.procedure_id();
    if (keep_floats) s.setting_floats[id] = request.float_args();
    s.setting_args[id] = {{"int_args", request.int_args()},
                          {"float_args", request.float_args()},
                          {"string_args", request.string_args()}};
    return true;
  };
}

// 18 slots of -1 (leave), 0 or 1.
bool DigitalOutputs(RobotState& s, const vek::RPCRequest& request) {
  const auto& ints = request.int_args();
  if (ints.size() != s.digital_outputs.size() ||
      !std::all_of(ints.begin(), ints.end(), [](int v) { return v >= -1 && v <= 1; })) {
    return false;
  }
  for (size_t i = 0; i < ints.size(); ++i) {
    if (ints[i] >= 0) s.digital_outputs[i] = ints[i];
  }
  return true;
}

// K_x(6) then Z_x(6).
bool CartesianImpedance(RobotState&, const vek::RPCRequest& r) { return Floats(r, 12); }
// K_q(DoF) then Z_q(DoF).
bool JointImpedance(RobotState& s, const vek::RPCRequest& r) { return Floats(r, 2 * s.dof); }
bool SixFloats(RobotState&, const vek::RPCRequest& r) { return Floats(r, 6); }
bool JointFloats(RobotState& s, const vek::RPCRequest& r) { return Floats(r, s.dof); }
bool NullSpaceObjectives(RobotState&, const vek::RPCRequest& r) { return Floats(r, 3); }
// 6 axis flags and 3 maximum linear velocities.
bool ForceControlAxis(RobotState&, const vek::RPCRequest& r) {
  return r.int_args().size() == 6 && Floats(r, 3);
}
// {"WORLD" or "TCP"} and a pose(7).
bool ForceControlFrame(RobotState&, const vek::RPCRequest& r) {
  const auto& frame = r.string_args();
  return frame.size() == 1 && (frame[0] == "WORLD" || frame[0] == "TCP") && Floats(r, 7);
}
// {1 or 0}, in IDLE only.
bool PassiveForceControl(RobotState& s, const vek::RPCRequest& r) {
  if (r.int_args().size() != 1 || s.mode != kIdle) return false;
  s.passive_force_control = r.int_args()[0] != 0;
  return true;
}

}  // namespace

void AddSettingHandlers(HandlerRegistry& registry) {
  registry.AddOperation(ProcedureId::kDigitalOutputs, Setting(DigitalOutputs, false));
  registry.AddOperation(ProcedureId::kCartesianImpedance, Setting(CartesianImpedance));
  registry.AddOperation(ProcedureId::kJointImpedance, Setting(JointImpedance));
  registry.AddOperation(ProcedureId::kMaxContactWrench, Setting(SixFloats));
  registry.AddOperation(ProcedureId::kNullSpacePosture, Setting(JointFloats));
  registry.AddOperation(ProcedureId::kNullSpaceObjectives, Setting(NullSpaceObjectives));
  registry.AddOperation(ProcedureId::kJointInertiaScale, Setting(JointFloats));
  registry.AddOperation(ProcedureId::kMaxContactTorque, Setting(JointFloats));
  registry.AddOperation(ProcedureId::kForceControlAxis, Setting(ForceControlAxis));
  registry.AddOperation(ProcedureId::kForceControlFrame, Setting(ForceControlFrame));
  registry.AddOperation(ProcedureId::kPassiveForceControl, Setting(PassiveForceControl, false));
}

}  // namespace quiral::sim
