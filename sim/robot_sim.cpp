#include "sim/robot_sim.h"

#include <algorithm>
#include <stdexcept>

#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "sim/arm_motion.h"
#include "sim/field_setters.h"
#include "sim/handler_registry.h"
#include "sim/periodic_samples.h"
#include "sim/state_report.h"

namespace quiral::sim {

namespace {

constexpr double kMaxStep = 0.05;  // s, longest simulated step

}  // namespace

uint64_t MonotonicNs(Clock::time_point t) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
}

RobotSim::RobotSim(const RobotConfig& config) : state_(config) {
  // Builds the handler tables now, so that a family's registration mistake
  // ends the simulator at start-up rather than in a listener thread.
  Handlers();
}

void RobotSim::Step(Clock::time_point now, vek_msgs::msg::RealtimeStates& rt,
                    quiral_lumo_msgs::msg::AllBasicStreamData& basic,
                    quiral_lumo_msgs::msg::AllExtraStreamData& extra) {
  std::lock_guard<std::mutex> lock(mu_);
  double dt = 0.0;
  if (state_.stepped) {
    dt = std::chrono::duration<double>(now - state_.last_step).count();
    dt = std::clamp(dt, 0.0, kMaxStep);
  }
  state_.stepped = true;
  state_.last_step = now;
  state_.RunScheduled(now);
  if (dt > 0) {
    StepArm(state_, dt);
    StepProgram(state_, dt);
    state_.gripper.Step(dt);
  }
  FillSamples(state_, rt, basic, extra);
}

void RobotSim::HandleOps(const vek_msgs::msg::RPCRequest& request,
                         vek_msgs::msg::RPCReply& reply) {
  std::lock_guard<std::mutex> lock(mu_);
  reply.procedure_id(request.procedure_id());
  const OpsHandler* handler = Handlers().Operation(request.procedure_id());
  const bool ok = handler != nullptr && (*handler)(state_, request, reply);
  reply.success(ok);
  if (!ok) {
    reply.int_container().clear();
    reply.float_container().clear();
    reply.string_container().clear();
    reply.raw_bytes_container().clear();
  }
}

void RobotSim::HandleData(const quiral_lumo_msgs::msg::RPCRequest& request,
                          quiral_lumo_msgs::msg::RPCReply& reply) {
  std::lock_guard<std::mutex> lock(mu_);
  reply.request_id(request.request_id());
  const DataHandler* handler = Handlers().DataRequest(request.request_id());
  if (handler) (*handler)(state_, reply);
  reply.success(handler != nullptr);
}

void RobotSim::SetHeldObject(std::optional<HeldObject> object) {
  std::lock_guard<std::mutex> lock(mu_);
  state_.held_object = std::move(object);
}

void RobotSim::TakePartnerTcp(const Eigen::Vector3d& position) {
  std::lock_guard<std::mutex> lock(mu_);
  if (state_.held_object) state_.held_object->partner_tcp = position;
}

bool RobotSim::ApplyMotionCommand(const vek_msgs::msg::MotionCommands& command) {
  std::lock_guard<std::mutex> lock(mu_);
  return sim::ApplyMotionCommand(state_, command);
}

nlohmann::json RobotSim::StateJson() {
  std::lock_guard<std::mutex> lock(mu_);
  return StateReport(state_);
}

void RobotSim::Set(const nlohmann::json& fields) {
  if (!fields.is_object()) throw std::invalid_argument("'fields' must be an object");
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& [name, value] : fields.items()) SetField(state_, name, value);
}

nlohmann::json RobotSim::FilesJson(const std::string& store, bool with_bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  return state_.files.ToJson(store, with_bytes);
}

}  // namespace quiral::sim
