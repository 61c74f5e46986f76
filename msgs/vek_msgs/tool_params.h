// vek_msgs::msg::ToolParams: a tool's name, mass, centre of mass, inertia
// and tool-centre-point pose (nested in the operations request and reply).
#pragma once

#include "msgs/detail/message.h"

#include <array>
#include <string>

namespace vek_msgs {
namespace msg {

class ToolParams {
  QUIRAL_MSG_COMMON(ToolParams)
  QUIRAL_MSG_OBJECT_FIELD(name, std::string)
  QUIRAL_MSG_VALUE_FIELD(mass, float)
  QUIRAL_MSG_OBJECT_FIELD(CoM, std::array<float, 3>)
  QUIRAL_MSG_OBJECT_FIELD(inertia, std::array<float, 6>)
  QUIRAL_MSG_OBJECT_FIELD(tcp_location, std::array<float, 7>)
};

}  // namespace msg
}  // namespace vek_msgs
