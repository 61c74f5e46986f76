// builtin_interfaces::msg::Time: a point in time as seconds and nanoseconds
// (the server's timestamp inside the basic data stream).
#pragma once

#include "msgs/detail/message.h"

namespace builtin_interfaces {
namespace msg {

class Time {
  QUIRAL_MSG_COMMON(Time)
  QUIRAL_MSG_VALUE_FIELD(sec, int32_t)
  QUIRAL_MSG_VALUE_FIELD(nanosec, uint32_t)
};

}  // namespace msg
}  // namespace builtin_interfaces
