#include "msgs/quiral_lumo_msgs/event_log.h"

#include "msgs/detail/codec.h"

namespace quiral_lumo_msgs {
namespace msg {

template <class Self>
auto EventLog::Fields(Self& m) {
  return quiral::msgs::detail::FieldList(m.level_, m.id_, m.description_, m.consequences_,
                                         m.probable_causes_, m.recommended_actions_);
}

QUIRAL_MSG_DEFINE(EventLog)
QUIRAL_MSG_DEFINE_TYPE_SUPPORT(EventLog, "quiral_lumo_msgs::msg::dds_::EventLog_")

}  // namespace msg
}  // namespace quiral_lumo_msgs
