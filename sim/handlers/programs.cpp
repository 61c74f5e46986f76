// Plans and primitives (started, paused, stepped through breakpoints,
// stopped), the velocity scale they run at, and the global variables they
// read. How a running program advances is sim/program_runner.cpp.
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

constexpr int kPlanMode = Raw(qor::ExtCtrlMode::NRT_PLAN_EXECUTION);

// Name of a primitive call text "Name(args)"; empty when malformed.
std::string PrimitiveName(const std::string& text) {
  const size_t open = text.find('(');
  if (open == std::string::npos || open == 0 || text.empty() || text.back() != ')') return {};
  return text.substr(0, open);
}

bool GlobalVariables(RobotState& s, const vek::RPCRequest&, vek::RPCReply& reply) {
  for (const auto& [name, value] : s.global_variables) {
    reply.string_container().push_back(name + " = " + value);
  }
  return true;
}

// "a = 1, b = 0 0 1, c = text": items are separated by ", " and each starts
// with a known name followed by " = "; a piece that does not start that way
// continues the value before it. Nothing changes unless every name exists.
bool SetGlobalVariables(RobotState& s, const vek::RPCRequest& request, vek::RPCReply&) {
  const std::string text = LongString(request);
  if (text.empty()) return false;
  std::vector<std::pair<std::string, std::string>> items;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(", ", pos);
    if (end == std::string::npos) end = text.size();
    const std::string piece = text.substr(pos, end - pos);
    const size_t eq = piece.find(" = ");
    const std::string name = eq == std::string::npos ? std::string() : piece.substr(0, eq);
    if (!name.empty() && name.find(' ') == std::string::npos) {
      if (s.global_variables.count(name) == 0) return false;
      items.emplace_back(name, piece.substr(eq + 3));
    } else if (!items.empty()) {
      items.back().second += ", " + piece;
    } else {
      return false;
    }
    pos = end + 2;
  }
  for (auto& [name, value] : items) s.global_variables[name] = value;
  return true;
}

// {0 to 100} percent; a running program goes on at the new speed.
bool VelocityScale(RobotState& s, const vek::RPCRequest& request, vek::RPCReply&) {
  const auto& ints = request.int_args();
  if (ints.size() != 1 || ints[0] < 0 || ints[0] > 100) return false;
  s.velocity_scale = ints[0];
  if (s.program && !s.program->finished) FollowProgramTarget(s);
  return true;
}

bool ExecutePrimitive(RobotState& s, const vek::RPCRequest& request, vek::RPCReply&) {
  const std::string text = LongString(request);
  const std::string name = PrimitiveName(text);
  if (name.empty() || s.mode != Raw(qor::ExtCtrlMode::NRT_PRIMITIVE_EXECUTION) ||
      !s.Operational()) {
    return false;
  }
  Program p;
  p.is_plan = false;
  p.name = name;
  p.call_text = text;
  const auto it = s.primitives.find(name);
  if (it != s.primitives.end()) {
    p.duration_s = it->second.duration_s;
    p.target = it->second.target;
  }
  StartProgram(s, std::move(p));
  return true;
}

// {name} {continue flag}: a known plan, in plan mode, operational.
bool ExecutePlan(RobotState& s, const vek::RPCRequest& request, vek::RPCReply&) {
  const std::string name = LongString(request);
  const auto it = std::find_if(s.plans.begin(), s.plans.end(),
                               [&](const Task& t) { return t.name == name; });
  const auto& ints = request.int_args();
  if (it == s.plans.end() || ints.size() != 1 || s.mode != kPlanMode || !s.Operational()) {
    return false;
  }
  Program p;
  p.name = name;
  p.call_text = name;
  p.duration_s = it->duration_s;
  p.target = it->target;
  p.continue_exec = ints[0] != 0;
  StartProgram(s, std::move(p));
  return true;
}

bool PlanList(RobotState& s, const vek::RPCRequest&, vek::RPCReply& reply) {
  for (const auto& t : s.plans) reply.string_container().push_back(t.name);
  return true;
}

bool RunningPlan(const RobotState& s) {
  return s.program && s.program->is_plan && !s.program->finished;
}

// The plan commands below are accepted in plan mode only, with or without
// a plan running.
OpsHandler PausePlan(bool pause) {
  return [pause](RobotState& s, const vek::RPCRequest&, vek::RPCReply&) {
    if (s.mode != kPlanMode) return false;
    if (RunningPlan(s)) {
      s.program->paused = pause;
      if (pause) {
        s.StopMotion();
      } else if (!s.program->at_breakpoint) {
        FollowProgramTarget(s);
      }
    }
    return true;
  };
}

bool StopPlan(RobotState& s, const vek::RPCRequest&, vek::RPCReply&) {
  if (s.mode != kPlanMode) return false;
  if (s.program && !s.program->finished) EndProgram(s);
  return true;
}

// {1 or 0}; leaving breakpoint mode lets a plan waiting at a breakpoint go on.
bool BreakpointMode(RobotState& s, const vek::RPCRequest& request, vek::RPCReply&) {
  if (request.int_args().size() != 1 || s.mode != kPlanMode) return false;
  s.breakpoint_mode = request.int_args()[0] != 0;
  if (!s.breakpoint_mode) ResumeFromBreakpoint(s, false);
  return true;
}

bool StepBreakpoint(RobotState& s, const vek::RPCRequest&, vek::RPCReply&) {
  if (s.mode != kPlanMode) return false;
  ResumeFromBreakpoint(s, true);
  return true;
}

}  // namespace

void AddProgramHandlers(HandlerRegistry& registry) {
  registry.AddOperation(ProcedureId::kGlobalVariables, GlobalVariables);
  registry.AddOperation(ProcedureId::kSetGlobalVariables, SetGlobalVariables);
  registry.AddOperation(ProcedureId::kVelocityScale, VelocityScale);
  registry.AddOperation(ProcedureId::kExecutePrimitive, ExecutePrimitive);
  registry.AddOperation(ProcedureId::kExecutePlan, ExecutePlan);
  registry.AddOperation(ProcedureId::kPlanList, PlanList);
  registry.AddOperation(ProcedureId::kPausePlan, PausePlan(true));
  registry.AddOperation(ProcedureId::kResumePlan, PausePlan(false));
  registry.AddOperation(ProcedureId::kStopPlan, StopPlan);
  registry.AddOperation(ProcedureId::kBreakpointMode, BreakpointMode);
  registry.AddOperation(ProcedureId::kStepBreakpoint, StepBreakpoint);
}

}  // namespace quiral::sim
