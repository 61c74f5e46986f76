// std_msgs::msg::Bool: a single boolean (the client's heartbeat).
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"

namespace std_msgs {
namespace msg {

class Bool {
  QUIRAL_MSG_COMMON(Bool)
  QUIRAL_MSG_VALUE_FIELD(data, bool)
};

// DDS type "std_msgs::msg::dds_::Bool_".
class BoolPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = Bool;
  BoolPubSubType();
};

}  // namespace msg
}  // namespace std_msgs
