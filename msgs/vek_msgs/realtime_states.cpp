#include "msgs/vek_msgs/realtime_states.h"

#include "msgs/detail/codec.h"

namespace vek_msgs {
namespace msg {

template <class Self>
auto RealtimeStates::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.system_status_, m.gripper_states_);
}

QUIRAL_MSG_DEFINE(RealtimeStates)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(RealtimeStates, "vek_msgs::msg::dds_::RealtimeStates_")

}  // namespace msg
}  // namespace vek_msgs
