// quiral_lumo_msgs::msg::AllExtraStreamData: one sample of the extra data stream.
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"
#include "msgs/quiral_lumo_msgs/extra_cartesian_data.h"
#include "msgs/quiral_lumo_msgs/extra_joint_data.h"

namespace quiral_lumo_msgs {
namespace msg {

class AllExtraStreamData {
  QUIRAL_MSG_COMMON(AllExtraStreamData)
  QUIRAL_MSG_OBJECT_FIELD(joint, ExtraJointData)
  QUIRAL_MSG_OBJECT_FIELD(cartesian, ExtraCartesianData)
};

// DDS type "quiral_lumo_msgs::msg::dds_::AllExtraStreamData_".
class AllExtraStreamDataPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = AllExtraStreamData;
  AllExtraStreamDataPubSubType();
};

}  // namespace msg
}  // namespace quiral_lumo_msgs
