#include "tests/msgs/fuzz/decode_entry_points.h"

#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"
#include "msgs/quiral_lumo_msgs/event_log.h"
#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"
#include "msgs/std_msgs/bool.h"
#include "msgs/vek_msgs/motion_commands.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"

#include <fastdds/rtps/common/SerializedPayload.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace msgs_fuzz {
namespace {

using eprosima::fastrtps::rtps::SerializedPayload_t;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "decode fuzz property violated: %s\n", what);
  std::abort();
}

SerializedPayload_t Encode(eprosima::fastdds::dds::TopicDataType& support, void* message) {
  const uint32_t size = support.getSerializedSizeProvider(message)();
  SerializedPayload_t payload(size);
  if (!support.serialize(message, &payload)) {
    Fail("a decoded message does not encode");
  }
  if (payload.length != size) {
    Fail("exact size differs from the bytes written");
  }
  return payload;
}

// Decodes the bytes from a payload of exactly their size (a read past them
// is a read past the allocation). A decoded message must encode again, and
// encoding is stable: decode(encode(m)) encodes to the same bytes.
template <class PubSubType>
int DecodeOne(const uint8_t* data, size_t size) {
  static PubSubType support;
  SerializedPayload_t payload(static_cast<uint32_t>(size));
  if (size != 0) {
    std::memcpy(payload.data, data, size);
  }
  payload.length = static_cast<uint32_t>(size);
  typename PubSubType::type message;
  if (!support.deserialize(&payload, &message)) {
    return 0;
  }
  SerializedPayload_t first = Encode(support, &message);
  typename PubSubType::type again;
  if (!support.deserialize(&first, &again)) {
    Fail("an encoded message does not decode");
  }
  SerializedPayload_t second = Encode(support, &again);
  if (first.length != second.length || std::memcmp(first.data, second.data, first.length) != 0) {
    Fail("encoding is not stable");
  }
  return 0;
}

}  // namespace

#define QUIRAL_FUZZ_DEFINE(name) \
  int Decode_##name(const uint8_t* data, size_t size) { return DecodeOne<QUIRAL_FUZZ_TYPE_OF_##name>(data, size); }

#define QUIRAL_FUZZ_TYPE_OF_std_msgs__Bool std_msgs::msg::BoolPubSubType
#define QUIRAL_FUZZ_TYPE_OF_vek_msgs__SystemStatus vek_msgs::msg::SystemStatusPubSubType
#define QUIRAL_FUZZ_TYPE_OF_vek_msgs__GripperStates vek_msgs::msg::GripperStatesPubSubType
#define QUIRAL_FUZZ_TYPE_OF_vek_msgs__RealtimeStates vek_msgs::msg::RealtimeStatesPubSubType
#define QUIRAL_FUZZ_TYPE_OF_vek_msgs__RPCRequest vek_msgs::msg::RPCRequestPubSubType
#define QUIRAL_FUZZ_TYPE_OF_vek_msgs__RPCReply vek_msgs::msg::RPCReplyPubSubType
#define QUIRAL_FUZZ_TYPE_OF_vek_msgs__JointCommands vek_msgs::msg::JointCommandsPubSubType
#define QUIRAL_FUZZ_TYPE_OF_vek_msgs__CartesianCommands vek_msgs::msg::CartesianCommandsPubSubType
#define QUIRAL_FUZZ_TYPE_OF_vek_msgs__MotionCommands vek_msgs::msg::MotionCommandsPubSubType
#define QUIRAL_FUZZ_TYPE_OF_quiral_lumo_msgs__RPCRequest quiral_lumo_msgs::msg::RPCRequestPubSubType
#define QUIRAL_FUZZ_TYPE_OF_quiral_lumo_msgs__RPCReply quiral_lumo_msgs::msg::RPCReplyPubSubType
#define QUIRAL_FUZZ_TYPE_OF_quiral_lumo_msgs__EventLog quiral_lumo_msgs::msg::EventLogPubSubType
#define QUIRAL_FUZZ_TYPE_OF_quiral_lumo_msgs__AllExtraStreamData quiral_lumo_msgs::msg::AllExtraStreamDataPubSubType
#define QUIRAL_FUZZ_TYPE_OF_quiral_lumo_msgs__AllBasicStreamData quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType

QUIRAL_FUZZ_DECODERS(QUIRAL_FUZZ_DEFINE)

}  // namespace msgs_fuzz
