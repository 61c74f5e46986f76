#include "msgs/quiral_lumo_msgs/extra_cartesian_data.h"

#include "msgs/detail/codec.h"

namespace quiral_lumo_msgs {
namespace msg {

template <class Self>
auto ExtraCartesianData::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.tcp_pose_des_, m.tcp_velocity_des_,
                                         m.wrench_des_in_ctrl_frame_);
}

QUIRAL_MSG_DEFINE(ExtraCartesianData)

}  // namespace msg
}  // namespace quiral_lumo_msgs
