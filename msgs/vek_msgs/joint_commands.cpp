#include "msgs/vek_msgs/joint_commands.h"

#include "msgs/detail/codec.h"

namespace vek_msgs {
namespace msg {

template <class Self>
auto JointCommands::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.torque_, m.position_, m.velocity_, m.acceleration_,
                                         m.max_vel_, m.max_acc_, m.friction_comp_scale_,
                                         m.disable_gravity_comp_, m.disable_soft_limit_);
}

QUIRAL_MSG_DEFINE(JointCommands)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(JointCommands, "vek_msgs::msg::dds_::JointCommands_")

}  // namespace msg
}  // namespace vek_msgs
