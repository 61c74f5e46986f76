#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"

#include "msgs/detail/codec.h"

namespace quiral_lumo_msgs {
namespace msg {

template <class Self>
auto AllExtraStreamData::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.joint_, m.cartesian_);
}

QUIRAL_MSG_DEFINE(AllExtraStreamData)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(AllExtraStreamData, "quiral_lumo_msgs::msg::dds_::AllExtraStreamData_")

}  // namespace msg
}  // namespace quiral_lumo_msgs
