// quiral_lumo_msgs::msg::EventLog: one entry of the robot's event log.
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"

#include <string>

namespace quiral_lumo_msgs {
namespace msg {

class EventLog {
  QUIRAL_MSG_COMMON(EventLog)
  QUIRAL_MSG_VALUE_FIELD(level, uint16_t)
  QUIRAL_MSG_VALUE_FIELD(id, int32_t)
  QUIRAL_MSG_OBJECT_FIELD(description, std::string)
  QUIRAL_MSG_OBJECT_FIELD(consequences, std::string)
  QUIRAL_MSG_OBJECT_FIELD(probable_causes, std::string)
  QUIRAL_MSG_OBJECT_FIELD(recommended_actions, std::string)
};

// DDS type "quiral_lumo_msgs::msg::dds_::EventLog_".
class EventLogPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = EventLog;
  EventLogPubSubType();
};

}  // namespace msg
}  // namespace quiral_lumo_msgs
