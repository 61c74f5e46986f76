// quiral_lumo_msgs::msg::BasicJointData: measured joint values (nested in the
// basic data stream).
#pragma once

#include "msgs/detail/message.h"

#include <vector>

namespace quiral_lumo_msgs {
namespace msg {

class BasicJointData {
  QUIRAL_MSG_COMMON(BasicJointData)
  QUIRAL_MSG_OBJECT_FIELD(link_position, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(motor_position, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(link_velocity, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(motor_velocity, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(torque, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(torque_dot, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(torque_ext, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(torque_interact, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(torque_des, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(temperature, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(link_contact_force, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(link_contact_pos, std::vector<float>)
};

}  // namespace msg
}  // namespace quiral_lumo_msgs
