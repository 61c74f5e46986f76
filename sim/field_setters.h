// The fields that the control channel's "set" command changes, one setter
// per field name (see sim/README.md for each field's value).
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace quiral::sim {

struct RobotState;

// Sets one field; throws std::invalid_argument on an unknown field or a
// bad value (or the JSON library's type error on a value of another type).
void SetField(RobotState& s, const std::string& name, const nlohmann::json& value);

}  // namespace quiral::sim
