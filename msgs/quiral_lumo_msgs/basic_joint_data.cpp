#include "msgs/quiral_lumo_msgs/basic_joint_data.h"

#include "msgs/detail/codec.h"

namespace quiral_lumo_msgs {
namespace msg {

template <class Self>
auto BasicJointData::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.link_position_, m.motor_position_, m.link_velocity_,
                                         m.motor_velocity_, m.torque_, m.torque_dot_, m.torque_ext_,
                                         m.torque_interact_, m.torque_des_, m.temperature_,
                                         m.link_contact_force_, m.link_contact_pos_);
}

QUIRAL_MSG_DEFINE(BasicJointData)

}  // namespace msg
}  // namespace quiral_lumo_msgs
