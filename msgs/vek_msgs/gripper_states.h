// vek_msgs::msg::GripperStates: gripper width, force and motion flag
// (nested in the real-time states).
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"

namespace vek_msgs {
namespace msg {

class GripperStates {
  QUIRAL_MSG_COMMON(GripperStates)
  QUIRAL_MSG_VALUE_FIELD(width, float)
  QUIRAL_MSG_VALUE_FIELD(force, float)
  QUIRAL_MSG_VALUE_FIELD(is_moving, bool)
};

// DDS type "vek_msgs::msg::dds_::GripperStates_".
class GripperStatesPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = GripperStates;
  GripperStatesPubSubType();
};

}  // namespace msg
}  // namespace vek_msgs
