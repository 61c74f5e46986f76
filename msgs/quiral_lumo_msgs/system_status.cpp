#include "msgs/quiral_lumo_msgs/system_status.h"

#include "msgs/detail/codec.h"

namespace quiral_lumo_msgs {
namespace msg {

template <class Self>
auto SystemStatus::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.system_state_, m.safety_state_, m.safety_inputs_,
                                         m.digital_inputs_);
}

QUIRAL_MSG_DEFINE(SystemStatus)

}  // namespace msg
}  // namespace quiral_lumo_msgs
