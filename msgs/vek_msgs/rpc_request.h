// vek_msgs::msg::RPCRequest: one remote call of the operations service.
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"
#include "msgs/vek_msgs/tool_params.h"

#include <fastrtps/utils/fixed_size_string.hpp>

#include <string>
#include <vector>

namespace vek_msgs {
namespace msg {

class RPCRequest {
  QUIRAL_MSG_COMMON(RPCRequest)
  // Id of the remote procedure.
  QUIRAL_MSG_VALUE_FIELD(procedure_id, uint16_t)
  QUIRAL_MSG_OBJECT_FIELD(int_args, std::vector<int32_t>)
  QUIRAL_MSG_OBJECT_FIELD(float_args, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(string_args, std::vector<std::string>)
  // One long text argument of at most 10000 characters.
  QUIRAL_MSG_OBJECT_FIELD(long_string_arg, eprosima::fastrtps::fixed_string<10000>)
  // Raw bytes, such as a file sent to the controller (budget 1,000,000).
  QUIRAL_MSG_OBJECT_FIELD(raw_bytes_arg, std::vector<uint8_t>)
  QUIRAL_MSG_OBJECT_FIELD(tool_params, ToolParams)
};

// DDS type "vek_msgs::msg::dds_::RPCRequest_".
class RPCRequestPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = RPCRequest;
  RPCRequestPubSubType();
};

}  // namespace msg
}  // namespace vek_msgs
