// vek_msgs::msg::RealtimeStates: one sample of the controller's real-time states.
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"
#include "msgs/vek_msgs/gripper_states.h"
#include "msgs/vek_msgs/system_status.h"

namespace vek_msgs {
namespace msg {

class RealtimeStates {
  QUIRAL_MSG_COMMON(RealtimeStates)
  QUIRAL_MSG_OBJECT_FIELD(system_status, SystemStatus)
  QUIRAL_MSG_OBJECT_FIELD(gripper_states, GripperStates)
};

// DDS type "vek_msgs::msg::dds_::RealtimeStates_".
class RealtimeStatesPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = RealtimeStates;
  RealtimeStatesPubSubType();
};

}  // namespace msg
}  // namespace vek_msgs
