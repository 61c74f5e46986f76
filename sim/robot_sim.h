// The simulated robot: the state of one controller and how it answers.
//
// RobotSim knows nothing of DDS. The controller (sim/sim_controller.h) hands
// it every request of the two services, every motion command and a periodic
// tick; RobotSim changes its state (sim/robot_state.h) as a controller would
// and fills the replies and the outgoing samples. The requests are served by
// the handler families of sim/handlers/, found through sim/handler_registry.h.
// The control channel reads and changes the same state through StateJson and
// Set. One mutex guards everything, so every public operation may be called
// from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/robot_state.h"

namespace vek_msgs::msg {
class RPCRequest;
class RPCReply;
class MotionCommands;
class RealtimeStates;
}  // namespace vek_msgs::msg

namespace quiral_lumo_msgs::msg {
class RPCRequest;
class RPCReply;
class AllBasicStreamData;
class AllExtraStreamData;
}  // namespace quiral_lumo_msgs::msg

namespace quiral::sim {

// Nanoseconds of the monotonic clock (CLOCK_MONOTONIC), comparable between
// processes of the same machine.
uint64_t MonotonicNs(Clock::time_point t);

class RobotSim {
 public:
  // Throws std::invalid_argument on a bad configuration.
  explicit RobotSim(const RobotConfig& config);

  const std::string& serial() const { return state_.config.serial; }
  size_t dof() const { return state_.dof; }

  // Advances the simulation to `now` and fills the three periodic samples.
  void Step(Clock::time_point now, vek_msgs::msg::RealtimeStates& rt,
            quiral_lumo_msgs::msg::AllBasicStreamData& basic,
            quiral_lumo_msgs::msg::AllExtraStreamData& extra);

  // Serves one request of the operations service / the data service. The
  // reply carries the request's id; a refused request has success false
  // and empty containers.
  void HandleOps(const vek_msgs::msg::RPCRequest& request, vek_msgs::msg::RPCReply& reply);
  void HandleData(const quiral_lumo_msgs::msg::RPCRequest& request,
                  quiral_lumo_msgs::msg::RPCReply& reply);

  // Takes one streamed motion command; returns true when it was applied to
  // the motion (false: wrong mode, not operational or malformed).
  bool ApplyMotionCommand(const vek_msgs::msg::MotionCommands& command);

  // Control channel: the current state, and changes to it. Set applies the
  // fields in name order and throws std::invalid_argument (or a JSON type
  // error) at the first unknown field or bad value; the fields before it
  // stay applied.
  nlohmann::json StateJson();
  void Set(const nlohmann::json& fields);

  // The object held with a partner arm (none: nullopt), and the partner's
  // latest TCP position in its own base frame (ignored while none is held).
  void SetHeldObject(std::optional<HeldObject> object);
  void TakePartnerTcp(const Eigen::Vector3d& position);

  // Stored files of one store ("urdf", "trajectory", "project", "mesh").
  nlohmann::json FilesJson(const std::string& store, bool with_bytes);

 private:
  std::mutex mu_;
  RobotState state_;
};

}  // namespace quiral::sim
