#include "msgs/vek_msgs/motion_commands.h"

#include "msgs/detail/codec.h"

namespace vek_msgs {
namespace msg {

template <class Self>
auto MotionCommands::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.sequence_num_, m.joint_commands_, m.cartesian_commands_,
                                         m.cartesian_multi_commands_, m.joint_multi_positions_);
}

QUIRAL_MSG_DEFINE(MotionCommands)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(MotionCommands, "vek_msgs::msg::dds_::MotionCommands_")

}  // namespace msg
}  // namespace vek_msgs
