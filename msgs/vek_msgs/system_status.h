// vek_msgs::msg::SystemStatus: program, timeliness and control-mode status
// (nested in the real-time states).
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"

namespace vek_msgs {
namespace msg {

class SystemStatus {
  QUIRAL_MSG_COMMON(SystemStatus)
  // A program is running.
  QUIRAL_MSG_VALUE_FIELD(program_running, bool)
  // Count of timeliness failures.
  QUIRAL_MSG_VALUE_FIELD(timeliness_failures, uint64_t)
  // Current external control mode.
  QUIRAL_MSG_VALUE_FIELD(ctrl_mode, uint16_t)
};

// DDS type "vek_msgs::msg::dds_::SystemStatus_".
class SystemStatusPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = SystemStatus;
  SystemStatusPubSubType();
};

}  // namespace msg
}  // namespace vek_msgs
