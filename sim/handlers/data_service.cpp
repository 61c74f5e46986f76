// The data service: its version, the running primitive's states, the
// running plan's information and the arm's manipulability.
#include <algorithm>
#include <cmath>
#include <sstream>

#include <Eigen/SVD>

#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "sim/handler_registry.h"
#include "sim/handlers/families.h"
#include "sim/robot_state.h"

namespace quiral::sim {

namespace {

namespace lumo = quiral_lumo_msgs::msg;

std::string Text(double v) {
  std::ostringstream out;
  out << v;
  return out.str();
}

void Version(const RobotState& s, lumo::RPCReply& reply) {
  reply.string_container({s.lumo_version});
}

// "reachedTarget = 0/1", "terminated = 0/1", "timePeriod = s" once a
// primitive was started; nothing otherwise.
void PrimitiveStates(const RobotState& s, lumo::RPCReply& reply) {
  if (s.primitive_states_override) {
    reply.string_container(*s.primitive_states_override);
    return;
  }
  if (!s.program || s.program->is_plan) {
    reply.string_container({});
    return;
  }
  const std::string done = s.program->finished ? "1" : "0";
  reply.string_container({"reachedTarget = " + done, "terminated = " + done,
                          "timePeriod = " + Text(s.program->elapsed_s)});
}

// Plan name, node name, node path, elapsed time, node number, plan name,
// velocity scale as a fraction, waiting-for-step flag.
void PlanInfo(const RobotState& s, lumo::RPCReply& reply) {
  if (s.plan_info_override) {
    reply.string_container(*s.plan_info_override);
    return;
  }
  const std::string scale = Text(s.velocity_scale / 100.0);
  const Program* p = s.program ? &*s.program : nullptr;
  if (!p || !p->is_plan || p->finished) {
    reply.string_container({"", "", "", "0", "0", "", scale, "0"});
    return;
  }
  const int node = 1 + static_cast<int>(p->elapsed_s / kPlanNodeSeconds + 1e-9);
  reply.string_container({p->name, "Node" + std::to_string(node),
                          "Start/Node" + std::to_string(node), Text(p->elapsed_s),
                          std::to_string(node), p->name, scale, p->at_breakpoint ? "1" : "0"});
}

// Translational and rotational manipulability, then the three singular
// values of the translational Jacobian and the three of the rotational one.
void Manipulability(const RobotState& s, lumo::RPCReply& reply) {
  if (s.manipulability_override) {
    reply.float_container(*s.manipulability_override);
    return;
  }
  const Eigen::MatrixXd jac = s.kin.Jacobian(s.q, s.TcpOffset());
  const Eigen::MatrixXd jv = jac.topRows<3>();
  const Eigen::MatrixXd jw = jac.bottomRows<3>();
  const Eigen::JacobiSVD<Eigen::MatrixXd> sv(jv), sw(jw);
  const double mv = std::sqrt(std::max(0.0, (jv * jv.transpose()).determinant()));
  const double mw = std::sqrt(std::max(0.0, (jw * jw.transpose()).determinant()));
  std::vector<float> out{static_cast<float>(mv), static_cast<float>(mw)};
  for (int i = 0; i < 3; ++i) out.push_back(static_cast<float>(sv.singularValues()[i]));
  for (int i = 0; i < 3; ++i) out.push_back(static_cast<float>(sw.singularValues()[i]));
  reply.float_container(std::move(out));
}

}  // namespace

void AddDataServiceHandlers(HandlerRegistry& registry) {
  registry.AddDataRequest(DataRequestId::kVersion, Version);
  registry.AddDataRequest(DataRequestId::kPrimitiveStates, PrimitiveStates);
  registry.AddDataRequest(DataRequestId::kPlanInfo, PlanInfo);
  registry.AddDataRequest(DataRequestId::kManipulability, Manipulability);
}

}  // namespace quiral::sim
