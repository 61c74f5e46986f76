#include "msgs/vek_msgs/tool_params.h"

#include "msgs/detail/codec.h"

namespace vek_msgs {
namespace msg {

template <class Self>
auto ToolParams::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.name_, m.mass_, m.CoM_, m.inertia_, m.tcp_location_);
}

QUIRAL_MSG_DEFINE(ToolParams)

}  // namespace msg
}  // namespace vek_msgs
