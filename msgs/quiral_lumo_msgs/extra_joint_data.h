// quiral_lumo_msgs::msg::ExtraJointData: desired joint values (nested in the
// extra data stream).
#pragma once

#include "msgs/detail/message.h"

#include <vector>

namespace quiral_lumo_msgs {
namespace msg {

class ExtraJointData {
  QUIRAL_MSG_COMMON(ExtraJointData)
  QUIRAL_MSG_OBJECT_FIELD(position_des, std::vector<float>)
  QUIRAL_MSG_OBJECT_FIELD(velocity_des, std::vector<float>)
};

}  // namespace msg
}  // namespace quiral_lumo_msgs
