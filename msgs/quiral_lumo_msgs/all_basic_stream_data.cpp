#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"

#include "msgs/detail/codec.h"

namespace quiral_lumo_msgs {
namespace msg {

template <class Self>
auto AllBasicStreamData::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.system_status_, m.joint_, m.cartesian_, m.server_time_);
}

QUIRAL_MSG_DEFINE(AllBasicStreamData)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(AllBasicStreamData, "quiral_lumo_msgs::msg::dds_::AllBasicStreamData_")

}  // namespace msg
}  // namespace quiral_lumo_msgs
