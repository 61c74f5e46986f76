#include "msgs/std_msgs/bool.h"

#include "msgs/detail/codec.h"

namespace std_msgs {
namespace msg {

template <class Self>
auto Bool::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.data_);
}

QUIRAL_MSG_DEFINE(Bool)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(Bool, "std_msgs::msg::dds_::Bool_")

}  // namespace msg
}  // namespace std_msgs
