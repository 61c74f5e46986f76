// quiral_lumo_msgs::msg::ExtraCartesianData: desired Cartesian values (nested in
// the extra data stream).
#pragma once

#include "msgs/detail/message.h"

#include <array>

namespace quiral_lumo_msgs {
namespace msg {

class ExtraCartesianData {
  QUIRAL_MSG_COMMON(ExtraCartesianData)
  QUIRAL_MSG_OBJECT_FIELD(tcp_pose_des, std::array<float, 7>)
  QUIRAL_MSG_OBJECT_FIELD(tcp_velocity_des, std::array<float, 6>)
  QUIRAL_MSG_OBJECT_FIELD(wrench_des_in_ctrl_frame, std::array<float, 6>)
};

}  // namespace msg
}  // namespace quiral_lumo_msgs
