// vek_msgs::msg::JointCommands: one joint command (nested in the motion commands).
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"

#include <vector>

namespace vek_msgs {
namespace msg {

class JointCommands {
  QUIRAL_MSG_COMMON(JointCommands)
  QUIRAL_MSG_OBJECT_FIELD(torque, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(position, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(velocity, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(acceleration, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(max_vel, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(max_acc, std::vector<float>)
  QUIRAL_MSG_VALUE_FIELD(friction_comp_scale, float)
  QUIRAL_MSG_VALUE_FIELD(disable_gravity_comp, bool)
  QUIRAL_MSG_VALUE_FIELD(disable_soft_limit, bool)
};

// DDS type "vek_msgs::msg::dds_::JointCommands_".
class JointCommandsPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = JointCommands;
  JointCommandsPubSubType();
};

}  // namespace msg
}  // namespace vek_msgs
