#include "msgs/vek_msgs/gripper_states.h"

#include "msgs/detail/codec.h"

namespace vek_msgs {
namespace msg {

template <class Self>
auto GripperStates::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.width_, m.force_, m.is_moving_);
}

QUIRAL_MSG_DEFINE(GripperStates)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(GripperStates, "vek_msgs::msg::dds_::GripperStates_")

}  // namespace msg
}  // namespace vek_msgs
