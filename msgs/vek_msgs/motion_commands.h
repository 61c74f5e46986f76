// vek_msgs::msg::MotionCommands: one sample of the motion-commands stream.
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"
#include "msgs/vek_msgs/cartesian_commands.h"
#include "msgs/vek_msgs/joint_commands.h"

#include <vector>

namespace vek_msgs {
namespace msg {

class MotionCommands {
  QUIRAL_MSG_COMMON(MotionCommands)
  // Sequence number given by the sender.
  QUIRAL_MSG_VALUE_FIELD(sequence_num, uint64_t)
  QUIRAL_MSG_OBJECT_FIELD(joint_commands, JointCommands)
  QUIRAL_MSG_OBJECT_FIELD(cartesian_commands, CartesianCommands)
  // Several Cartesian waypoints.
  QUIRAL_MSG_OBJECT_FIELD(cartesian_multi_commands, std::vector<CartesianCommands>)
  // Joint positions passed with the waypoints.
  QUIRAL_MSG_OBJECT_FIELD(joint_multi_positions, std::vector<std::vector<float>>)
};

// DDS type "vek_msgs::msg::dds_::MotionCommands_".
class MotionCommandsPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = MotionCommands;
  MotionCommandsPubSubType();
};

}  // namespace msg
}  // namespace vek_msgs
