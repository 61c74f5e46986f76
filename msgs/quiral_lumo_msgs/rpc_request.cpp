#include "msgs/quiral_lumo_msgs/rpc_request.h"

#include "msgs/detail/codec.h"

namespace quiral_lumo_msgs {
namespace msg {

template <class Self>
auto RPCRequest::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.request_id_);
}

QUIRAL_MSG_DEFINE(RPCRequest)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(RPCRequest, "quiral_lumo_msgs::msg::dds_::RPCRequest_")

}  // namespace msg
}  // namespace quiral_lumo_msgs
