#include "msgs/quiral_lumo_msgs/extra_joint_data.h"

#include "msgs/detail/codec.h"

namespace quiral_lumo_msgs {
namespace msg {

template <class Self>
auto ExtraJointData::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.position_des_, m.velocity_des_);
}

QUIRAL_MSG_DEFINE(ExtraJointData)

}  // namespace msg
}  // namespace quiral_lumo_msgs
