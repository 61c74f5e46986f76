// Tool parameters: the active tool, a tool by name, and the result of the
// payload calibration.
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "sim/handler_registry.h"
#include "sim/handlers/families.h"
#include "sim/robot_state.h"

namespace quiral::sim {

namespace {

namespace vek = vek_msgs::msg;

bool ReplyTool(const Tool* tool, vek::RPCReply& reply) {
  if (!tool) return false;
  auto& tp = reply.tool_params();
  tp.name(tool->name);
  tp.mass(tool->mass);
  tp.CoM(tool->com);
  tp.inertia(tool->inertia);
  tp.tcp_location(tool->tcp);
  return true;
}

bool ActiveTool(RobotState& s, const vek::RPCRequest&, vek::RPCReply& reply) {
  return ReplyTool(s.FindTool(s.active_tool), reply);
}

bool ToolByName(RobotState& s, const vek::RPCRequest& request, vek::RPCReply& reply) {
  return ReplyTool(s.FindTool(request.tool_params().name()), reply);
}

// Mass, centre of mass and inertia; the TCP is not part of the result.
bool PayloadCalibration(RobotState& s, const vek::RPCRequest&, vek::RPCReply& reply) {
  auto& tp = reply.tool_params();
  tp.name(s.payload_result.name);
  tp.mass(s.payload_result.mass);
  tp.CoM(s.payload_result.com);
  tp.inertia(s.payload_result.inertia);
  return true;
}

}  // namespace

void AddToolHandlers(HandlerRegistry& registry) {
  registry.AddOperation(ProcedureId::kActiveTool, ActiveTool);
  registry.AddOperation(ProcedureId::kToolByName, ToolByName);
  registry.AddOperation(ProcedureId::kPayloadCalibration, PayloadCalibration);
}

}  // namespace quiral::sim
