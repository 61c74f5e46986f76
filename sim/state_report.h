// What the control channel's "state" command reports of one simulated
// robot (see sim/README.md).
#pragma once

#include <nlohmann/json.hpp>

namespace quiral::sim {

struct RobotState;

nlohmann::json StateReport(const RobotState& s);

}  // namespace quiral::sim
