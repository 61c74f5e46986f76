#include "msgs/vek_msgs/system_status.h"

#include "msgs/detail/codec.h"

namespace vek_msgs {
namespace msg {

template <class Self>
auto SystemStatus::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.program_running_, m.timeliness_failures_, m.ctrl_mode_);
}

QUIRAL_MSG_DEFINE(SystemStatus)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(SystemStatus, "vek_msgs::msg::dds_::SystemStatus_")

}  // namespace msg
}  // namespace vek_msgs
