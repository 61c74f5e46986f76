// quiral_lumo_msgs::msg::RPCReply: the data service's answer.
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"

#include <string>
#include <vector>

namespace quiral_lumo_msgs {
namespace msg {

class RPCReply {
  QUIRAL_MSG_COMMON(RPCReply)
  // Id of the answered request.
  QUIRAL_MSG_VALUE_FIELD(request_id, uint16_t)
  QUIRAL_MSG_VALUE_FIELD(success, bool)
  QUIRAL_MSG_OBJECT_FIELD(string_container, std::vector<std::string>)
  QUIRAL_MSG_OBJECT_FIELD(float_container, std::vector<float>)
};

// DDS type "quiral_lumo_msgs::msg::dds_::RPCReply_".
class RPCReplyPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = RPCReply;
  RPCReplyPubSubType();
};

}  // namespace msg
}  // namespace quiral_lumo_msgs
