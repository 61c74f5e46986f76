// vek_msgs::msg::CartesianCommands: one Cartesian command or waypoint
// (nested in the motion commands).
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"

#include <array>

namespace vek_msgs {
namespace msg {

class CartesianCommands {
  QUIRAL_MSG_COMMON(CartesianCommands)
  // Target pose [x, y, z, qw, qx, qy, qz].
  QUIRAL_MSG_OBJECT_FIELD(pose, std::array<float, 7>)
  QUIRAL_MSG_OBJECT_FIELD(wrench, std::array<float, 6>)
  QUIRAL_MSG_OBJECT_FIELD(velocity, std::array<float, 6>)
  QUIRAL_MSG_OBJECT_FIELD(acceleration, std::array<float, 6>)
  QUIRAL_MSG_VALUE_FIELD(max_linear_vel, float)
  QUIRAL_MSG_VALUE_FIELD(max_angular_vel, float)
  QUIRAL_MSG_VALUE_FIELD(max_linear_acc, float)
  QUIRAL_MSG_VALUE_FIELD(max_angular_acc, float)
};

// DDS type "vek_msgs::msg::dds_::CartesianCommands_".
class CartesianCommandsPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = CartesianCommands;
  CartesianCommandsPubSubType();
};

}  // namespace msg
}  // namespace vek_msgs
