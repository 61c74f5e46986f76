// An object held between this arm and a partner arm, modelled as a spring
// between the two tool centre points (TCPs).
//
// The partner is another simulated controller, anywhere on the same DDS
// domain: its controller learns the partner's TCP from the partner's basic
// stream samples (SimController::HoldObject). Both bases share one
// orientation; `partner_base` places the partner's base origin in this
// arm's base frame. The spring pulls this arm's TCP towards the partner's
// when stretched beyond `rest_length` and pushes it away when compressed:
//   F = stiffness · (|d| − rest_length) · d / |d|,  d = partner TCP − own TCP,
// in the base frame. The controller reports F as the external force at the
// TCP (in the TCP frame, as every external wrench), so a client that
// rotates it back sees it in the base frame.
#pragma once

#include <Eigen/Core>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace quiral::sim {

struct HeldObject {
  std::string partner;  // the partner controller's serial number
  Eigen::Vector3d partner_base = Eigen::Vector3d::Zero();
  double stiffness = 0;    // force per unit of length
  double rest_length = 0;  // TCP distance at which the spring is relaxed
  // The partner's latest TCP position in its own base frame; none until its
  // first sample arrives (the force is zero until then).
  std::optional<Eigen::Vector3d> partner_tcp;

  // The spring force on this arm's TCP at `tcp` (base frame); zero while the
  // partner's TCP is unknown or when both TCPs coincide.
  Eigen::Vector3d Force(const Eigen::Vector3d& tcp) const;
};

// {"partner": serial, "partner_base": [x, y, z], "stiffness": k,
//  "rest_length": L}; throws std::invalid_argument for a missing field, a
// partner named `own_serial`, a negative or non-finite number.
HeldObject HeldObjectFromJson(const nlohmann::json& fields, const std::string& own_serial);

// The fields above, the partner's TCP (null until known) and the force on
// this arm's TCP at `tcp`.
nlohmann::json HeldObjectReport(const HeldObject& object, const Eigen::Vector3d& tcp);

}  // namespace quiral::sim
