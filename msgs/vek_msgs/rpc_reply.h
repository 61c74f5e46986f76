// vek_msgs::msg::RPCReply: the controller's answer to an operations request.
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"
#include "msgs/vek_msgs/tool_params.h"

#include <string>
#include <vector>

namespace vek_msgs {
namespace msg {

class RPCReply {
  QUIRAL_MSG_COMMON(RPCReply)
  // Id of the answered procedure (32 bits; the request's is 16).
  QUIRAL_MSG_VALUE_FIELD(procedure_id, uint32_t)
  QUIRAL_MSG_VALUE_FIELD(success, bool)
  QUIRAL_MSG_OBJECT_FIELD(int_container, std::vector<int32_t>)
  QUIRAL_MSG_OBJECT_FIELD(float_container, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(string_container, std::vector<std::string>)
  // Raw bytes, such as a file received from the controller (budget 1,000,000).
  QUIRAL_MSG_OBJECT_FIELD(raw_bytes_container, std::vector<uint8_t>)
  QUIRAL_MSG_OBJECT_FIELD(tool_params, ToolParams)
};

// DDS type "vek_msgs::msg::dds_::RPCReply_".
class RPCReplyPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = RPCReply;
  RPCReplyPubSubType();
};

}  // namespace msg
}  // namespace vek_msgs
