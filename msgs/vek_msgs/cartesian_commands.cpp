#include "msgs/vek_msgs/cartesian_commands.h"

#include "msgs/detail/codec.h"

namespace vek_msgs {
namespace msg {

template <class Self>
auto CartesianCommands::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.pose_, m.wrench_, m.velocity_, m.acceleration_,
                                         m.max_linear_vel_, m.max_angular_vel_, m.max_linear_acc_,
                                         m.max_angular_acc_);
}

QUIRAL_MSG_DEFINE(CartesianCommands)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(CartesianCommands, "vek_msgs::msg::dds_::CartesianCommands_")

}  // namespace msg
}  // namespace vek_msgs
