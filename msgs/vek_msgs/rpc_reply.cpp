#include "msgs/vek_msgs/rpc_reply.h"

#include "msgs/detail/codec.h"

namespace vek_msgs {
namespace msg {

template <class Self>
auto RPCReply::Fields(Self& m) {
  using quiral::msgs::detail::Bounded;
  return quiral::msgs::detail::FieldList(m.procedure_id_, m.success_, m.int_container_, m.float_container_,
                                         m.string_container_, Bounded<1000000>(m.raw_bytes_container_),
                                         m.tool_params_);
}

QUIRAL_MSG_DEFINE(RPCReply)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(RPCReply, "vek_msgs::msg::dds_::RPCReply_")

}  // namespace msg
}  // namespace vek_msgs
