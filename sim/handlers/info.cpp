// What the controller reports about itself and its arm: the server version,
// the robot information, reachability of a pose and work coordinates.
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "sim/handler_registry.h"
#include "sim/handlers/families.h"
#include "sim/message_args.h"
#include "sim/robot_state.h"

namespace quiral::sim {

namespace {

namespace vek = vek_msgs::msg;

bool ServerVersion(RobotState& s, const vek::RPCRequest&, vek::RPCReply& reply) {
  reply.string_container({s.server_version});
  return true;
}

// {server text}, {DoF_e, DoF_m, DoF, reply flag}, then the four limit
// blocks q_max, q_min, joint_limit_3, tau_max of DoF floats each.
bool RobotInfo(RobotState& s, const vek::RPCRequest&, vek::RPCReply& reply) {
  reply.string_container({s.server_text});
  reply.int_container({static_cast<int32_t>(s.info_dof_e), static_cast<int32_t>(s.info_dof_m),
                       static_cast<int32_t>(s.info_dof), s.reply_flag});
  if (s.info_floats_override) {
    reply.float_container(*s.info_floats_override);
  } else {
    std::vector<float> floats;
    for (const auto* block : {&s.q_max, &s.q_min, &s.joint_limit_3, &s.tau_max}) {
      for (double x : *block) floats.push_back(static_cast<float>(x));
    }
    reply.float_container(std::move(floats));
  }
  return true;
}

// {free orientation}, pose(7) + seed(DoF) -> {reachable}, DoF joint
// positions from inverse kinematics started at the seed.
bool Reachability(RobotState& s, const vek::RPCRequest& request, vek::RPCReply& reply) {
  const auto& f = request.float_args();
  if (request.int_args().size() != 1 || f.size() != 7 + s.dof || !AllFinite(f)) return false;
  bool reachable = false;
  std::vector<double> solution(f.begin() + 7, f.end());
  if (s.reachability_override) {
    reachable = s.reachability_override->first;
    if (s.reachability_override->second.size() == s.dof) {
      solution = s.reachability_override->second;
    }
  } else {
    PoseVec pose;
    for (size_t i = 0; i < 7; ++i) pose[i] = f[i];
    reachable = s.kin.SolveIk(PoseToIsometry(pose), s.TcpOffset(), s.q_min, s.q_max,
                              request.int_args()[0] != 0, 300, solution);
  }
  reply.int_container({reachable ? 1 : 0});
  reply.float_container(std::vector<float>(solution.begin(), solution.end()));
  return true;
}

bool WorkCoordPose(RobotState& s, const vek::RPCRequest& request, vek::RPCReply& reply) {
  const auto& names = request.string_args();
  if (names.size() != 1) return false;
  const auto it = s.work_coords.find(names[0]);
  if (it == s.work_coords.end()) return false;
  reply.float_container(std::vector<float>(it->second.begin(), it->second.end()));
  return true;
}

}  // namespace

void AddInfoHandlers(HandlerRegistry& registry) {
  registry.AddOperation(ProcedureId::kServerVersion, ServerVersion);
  registry.AddOperation(ProcedureId::kRobotInfo, RobotInfo);
  registry.AddOperation(ProcedureId::kReachability, Reachability);
  registry.AddOperation(ProcedureId::kWorkCoordPose, WorkCoordPose);
}

}  // namespace quiral::sim
