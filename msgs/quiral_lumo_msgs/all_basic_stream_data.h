// quiral_lumo_msgs::msg::AllBasicStreamData: one sample of the basic data stream.
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"
#include "msgs/builtin_interfaces/time.h"
#include "msgs/quiral_lumo_msgs/basic_cartesian_data.h"
#include "msgs/quiral_lumo_msgs/basic_joint_data.h"
#include "msgs/quiral_lumo_msgs/system_status.h"

namespace quiral_lumo_msgs {
namespace msg {

class AllBasicStreamData {
  QUIRAL_MSG_COMMON(AllBasicStreamData)
  QUIRAL_MSG_OBJECT_FIELD(system_status, SystemStatus)
  QUIRAL_MSG_OBJECT_FIELD(joint, BasicJointData)
  QUIRAL_MSG_OBJECT_FIELD(cartesian, BasicCartesianData)
  // The server's time of the sample.
  QUIRAL_MSG_OBJECT_FIELD(server_time, builtin_interfaces::msg::Time)
};

// DDS type "quiral_lumo_msgs::msg::dds_::AllBasicStreamData_".
class AllBasicStreamDataPubSubType : public quiral::msgs::MessageTypeSupport {
 public:
  using type = AllBasicStreamData;
  AllBasicStreamDataPubSubType();
};

}  // namespace msg
}  // namespace quiral_lumo_msgs
