#include "msgs/vek_msgs/rpc_request.h"

#include "msgs/detail/codec.h"

namespace vek_msgs {
namespace msg {

template <class Self>
auto RPCRequest::Fields(Self& m) {
  using quiral::msgs::detail::Bounded;
  return quiral::msgs::detail::FieldList(m.procedure_id_, m.int_args_, m.float_args_, m.string_args_,
                                         m.long_string_arg_, Bounded<1000000>(m.raw_bytes_arg_),
                                         m.tool_params_);
}

QUIRAL_MSG_DEFINE(RPCRequest)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(RPCRequest, "vek_msgs::msg::dds_::RPCRequest_")

}  // namespace msg
}  // namespace vek_msgs
