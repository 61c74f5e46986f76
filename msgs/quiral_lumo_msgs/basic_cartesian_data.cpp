#include "msgs/quiral_lumo_msgs/basic_cartesian_data.h"

#include "msgs/detail/codec.h"

namespace quiral_lumo_msgs {
namespace msg {

template <class Self>
auto BasicCartesianData::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.tcp_pose_, m.tcp_velocity_, m.flange_pose_,
                                         m.ft_sensor_raw_, m.ext_wrench_in_tcp_,
                                         m.ext_wrench_in_tcp_raw_);
}

QUIRAL_MSG_DEFINE(BasicCartesianData)

}  // namespace msg
}  // namespace quiral_lumo_msgs
