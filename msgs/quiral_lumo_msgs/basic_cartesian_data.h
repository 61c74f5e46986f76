// quiral_lumo_msgs::msg::BasicCartesianData: measured Cartesian values (nested in
// the basic data stream).
#pragma once

#include "msgs/detail/message.h"

#include <array>

namespace quiral_lumo_msgs {
namespace msg {

class BasicCartesianData {
  QUIRAL_MSG_COMMON(BasicCartesianData)
  QUIRAL_MSG_OBJECT_FIELD(tcp_pose, std::array<float, 7>)
  QUIRAL_MSG_OBJECT_FIELD(tcp_velocity, std::array<float, 6>)
  QUIRAL_MSG_OBJECT_FIELD(flange_pose, std::array<float, 7>)
  QUIRAL_MSG_OBJECT_FIELD(ft_sensor_raw, std::array<float, 6>)
  QUIRAL_MSG_OBJECT_FIELD(ext_wrench_in_tcp, std::array<float, 6>)
  QUIRAL_MSG_OBJECT_FIELD(ext_wrench_in_tcp_raw, std::array<float, 6>)
};

}  // namespace msg
}  // namespace quiral_lumo_msgs
