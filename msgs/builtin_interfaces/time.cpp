#include "msgs/builtin_interfaces/time.h"

#include "msgs/detail/codec.h"

namespace builtin_interfaces {
namespace msg {

template <class Self>
auto Time::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.sec_, m.nanosec_);
}

QUIRAL_MSG_DEFINE(Time)

}  // namespace msg
}  // namespace builtin_interfaces
