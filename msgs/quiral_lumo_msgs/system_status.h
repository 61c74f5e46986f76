// quiral_lumo_msgs::msg::SystemStatus: system and safety-board state and the
// safety and digital inputs (nested in the basic data stream).
#pragma once

#include "msgs/detail/message.h"

#include <array>

namespace quiral_lumo_msgs {
namespace msg {

class SystemStatus {
  QUIRAL_MSG_COMMON(SystemStatus)
  QUIRAL_MSG_VALUE_FIELD(system_state, uint16_t)
  QUIRAL_MSG_VALUE_FIELD(safety_state, int16_t)
  QUIRAL_MSG_OBJECT_FIELD(safety_inputs, std::array<bool, 8>)
  QUIRAL_MSG_OBJECT_FIELD(digital_inputs, std::array<bool, 18>)
};

}  // namespace msg
}  // namespace quiral_lumo_msgs
