// quiral_lumo_msgs::msg::RPCRequest: one request of the data service.
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"

namespace quiral_lumo_msgs {
namespace msg {

class RPCRequest {
  QUIRAL_MSG_COMMON(RPCRequest)
  QUIRAL_MSG_VALUE_FIELD(request_id, uint16_t)
};

// DDS type "quiral_lumo_msgs::msg::dds_::RPCRequest_".
class RPCRequestPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = RPCRequest;
  RPCRequestPubSubType();
};

}  // namespace msg
}  // namespace quiral_lumo_msgs
