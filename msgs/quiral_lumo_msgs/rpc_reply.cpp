#include "msgs/quiral_lumo_msgs/rpc_reply.h"

#include "msgs/detail/codec.h"

namespace quiral_lumo_msgs {
namespace msg {

template <class Self>
auto RPCReply::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.request_id_, m.success_, m.string_container_,
                                         m.float_container_);
}

QUIRAL_MSG_DEFINE(RPCReply)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(RPCReply, "quiral_lumo_msgs::msg::dds_::RPCReply_")

}  // namespace msg
}  // namespace quiral_lumo_msgs
