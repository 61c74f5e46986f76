// Malformed payloads: every one is refused with false, nothing is thrown
// and nothing huge is allocated.
#include "tests/msgs/payload_util.h"
#include "tests/msgs/random_messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

// The largest single allocation made while `g_watching` is set, so a test
// can tell that decoding a forged count allocated nothing big.
namespace {
std::atomic<bool> g_watching{false};
std::atomic<size_t> g_largest_allocation{0};

void* Allocate(size_t size) {
  if (g_watching.load(std::memory_order_relaxed)) {
    size_t seen = g_largest_allocation.load(std::memory_order_relaxed);
    while (size > seen && !g_largest_allocation.compare_exchange_weak(seen, size)) {
    }
  }
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) {
    throw std::bad_alloc();
  }
  return p;
}
}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

// Decodes with the allocation watch on; returns the largest allocation.
template <class PubSubType>
size_t LargestAllocationDecoding(const msgs_test::Bytes& bytes, typename PubSubType::type& message, bool& ok) {
  PubSubType support;
  eprosima::fastrtps::rtps::SerializedPayload_t payload(static_cast<uint32_t>(bytes.size()));
  std::memcpy(payload.data, bytes.data(), bytes.size());
  payload.length = static_cast<uint32_t>(bytes.size());
  g_largest_allocation = 0;
  g_watching = true;
  ok = support.deserialize(&payload, &message);
  g_watching = false;
  return g_largest_allocation;
}

using msgs_test::Bytes;
using msgs_test::Decode;
using msgs_test::Encode;

template <class PubSubType>
void ExpectEveryTruncationRefused(const typename PubSubType::type& message) {
  const Bytes full = Encode<PubSubType>(message);
  ASSERT_FALSE(full.empty());
  for (size_t length = 0; length < full.size(); ++length) {
    const Bytes cut(full.begin(), full.begin() + static_cast<long>(length));
    typename PubSubType::type decoded;
    bool ok = true;
    EXPECT_NO_THROW(ok = Decode<PubSubType>(cut, decoded)) << "length " << length;
    EXPECT_FALSE(ok) << "length " << length << " of " << full.size();
  }
  typename PubSubType::type decoded;
  EXPECT_TRUE(Decode<PubSubType>(full, decoded));
  EXPECT_EQ(decoded, message);
}

TEST(Malformed, EveryTruncationOfLinkMessages) {
  std_msgs::msg::Bool heartbeat;
  heartbeat.data(true);
  ExpectEveryTruncationRefused<std_msgs::msg::BoolPubSubType>(heartbeat);

  vek_msgs::msg::RPCRequest request;
  request.procedure_id(9);
  request.int_args({1, 2, 3});
  request.float_args({0.25f});
  request.string_args({"one", "", "three"});
  request.long_string_arg("long text");
  request.raw_bytes_arg({1, 2, 3, 4, 5});
  request.tool_params().name("gripper");
  ExpectEveryTruncationRefused<vek_msgs::msg::RPCRequestPubSubType>(request);

  vek_msgs::msg::RPCReply reply;
  reply.success(true);
  reply.string_container({"x"});
  reply.raw_bytes_container({9});
  ExpectEveryTruncationRefused<vek_msgs::msg::RPCReplyPubSubType>(reply);
}

TEST(Malformed, BooleanByteOtherThanZeroOrOne) {
  std_msgs::msg::Bool decoded;
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00, 0x02}, decoded));
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00, 0xFF}, decoded));
  EXPECT_TRUE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00, 0x01}, decoded));

  vek_msgs::msg::RPCReply reply;
  Bytes bytes = Encode<vek_msgs::msg::RPCReplyPubSubType>(reply);
  bytes[4 + 4] = 0x02;  // success
  EXPECT_FALSE(Decode<vek_msgs::msg::RPCReplyPubSubType>(bytes, reply));
}

TEST(Malformed, OnlyPlainCdrHeadersAreRead) {
  std_msgs::msg::Bool decoded;
  // XCDR2 plain (0x0006/0x0007), delimited (0x0008/0x0009), parameter
  // lists of both versions (0x0002/0x0003, 0x000a/0x000b), and nonsense.
  for (uint8_t kind : {0x02, 0x03, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x10, 0xff}) {
    EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x00, kind, 0x00, 0x00, 0x01}, decoded))
        << int(kind);
  }
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x01, 0x01, 0x00, 0x00, 0x01}, decoded));
  // Header only, and less than a header.
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00}, decoded));
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01}, decoded));
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({}, decoded));
  // Option bytes carry nothing here and are ignored.
  EXPECT_TRUE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x12, 0x34, 0x01}, decoded));
}

TEST(Malformed, HugeCountsAreRefusedBeforeAllocating) {
  // A reply whose int_container count is 4294967295, in a short payload.
  const Bytes huge_ints = {0x00, 0x01, 0x00, 0x00,  // header
                           0x01, 0x00, 0x00, 0x00,  // 0: procedure_id
                           0x01, 0x00, 0x00, 0x00,  // 4: success, padding
                           0xFF, 0xFF, 0xFF, 0xFF,  // 8: int_container count
                           0x00, 0x00, 0x00, 0x00};
  vek_msgs::msg::RPCReply reply;
  EXPECT_FALSE(Decode<vek_msgs::msg::RPCReplyPubSubType>(huge_ints, reply));
  EXPECT_EQ(reply.int_container().capacity(), 0u);

  // 1000 strings need at least 4000 bytes; 3999 zero bytes hold 999 empty
  // strings (count 0) at most.
  Bytes strings = {0x00, 0x01, 0x00, 0x00,  // header
                   0x01, 0x00, 0x00, 0x00,  // 0: procedure_id
                   0x01, 0x00, 0x00, 0x00,  // 4: success, padding
                   0x00, 0x00, 0x00, 0x00,  // 8: int_container empty
                   0x00, 0x00, 0x00, 0x00,  // 12: float_container empty
                   0xE8, 0x03, 0x00, 0x00};  // 16: string_container count 1000
  strings.insert(strings.end(), 3999, 0x00);
  EXPECT_FALSE(Decode<vek_msgs::msg::RPCReplyPubSubType>(strings, reply));
  EXPECT_EQ(reply.string_container().capacity(), 0u);

  // A string count beyond the payload.
  Bytes long_string = {0x00, 0x01, 0x00, 0x00,  // header
                       0x01, 0x00, 0x00, 0x00,  // 0: procedure_id, padding
                       0x00, 0x00, 0x00, 0x00,  // 4: int_args empty
                       0x00, 0x00, 0x00, 0x00,  // 8: float_args empty
                       0x00, 0x00, 0x00, 0x00,  // 12: string_args empty
                       0xFF, 0xFF, 0xFF, 0x7F,  // 16: long_string_arg count
                       'a', 'b', 'c', 0x00};
  vek_msgs::msg::RPCRequest request;
  EXPECT_FALSE(Decode<vek_msgs::msg::RPCRequestPubSubType>(long_string, request));
}


template <class PubSubType>
class EveryTypeSupport : public ::testing::Test {};

using AllTypeSupports = ::testing::Types<
    std_msgs::msg::BoolPubSubType, vek_msgs::msg::SystemStatusPubSubType, vek_msgs::msg::GripperStatesPubSubType,
    vek_msgs::msg::RealtimeStatesPubSubType, vek_msgs::msg::RPCRequestPubSubType,
    vek_msgs::msg::RPCReplyPubSubType, vek_msgs::msg::JointCommandsPubSubType,
    vek_msgs::msg::CartesianCommandsPubSubType, vek_msgs::msg::MotionCommandsPubSubType,
    quiral_lumo_msgs::msg::RPCRequestPubSubType, quiral_lumo_msgs::msg::RPCReplyPubSubType,
    quiral_lumo_msgs::msg::EventLogPubSubType, quiral_lumo_msgs::msg::AllExtraStreamDataPubSubType,
    quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>;
TYPED_TEST_SUITE(EveryTypeSupport, AllTypeSupports, msgs_test::TypeNames);

TYPED_TEST(EveryTypeSupport, EveryTruncationIsRefused) {
  using Message = typename TypeParam::type;
  msgs_test::Random random(0xbad0001);
  int checked = 0;
  for (int attempt = 0; attempt < 200 && checked < 4; ++attempt) {
    const Message message = msgs_test::RandomMessage<Message>(random);
    if (Message::getCdrSerializedSize(message) > 3000) {
      continue;  // every length of a small message is enough
    }
    ExpectEveryTruncationRefused<TypeParam>(message);
    ++checked;
  }
  ExpectEveryTruncationRefused<TypeParam>(Message());
  EXPECT_EQ(checked, 4);
}

TYPED_TEST(EveryTypeSupport, OtherEncapsulationsAreRefused) {
  using Message = typename TypeParam::type;
  msgs_test::Random random(0xbad0002);
  const Bytes valid = Encode<TypeParam>(msgs_test::RandomMessage<Message>(random));
  for (uint8_t kind : {0x02, 0x03, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b}) {
    Bytes bytes = valid;
    bytes[1] = kind;
    Message decoded;
    bool ok = true;
    EXPECT_NO_THROW(ok = Decode<TypeParam>(bytes, decoded));
    EXPECT_FALSE(ok) << int(kind);
  }
}

TYPED_TEST(EveryTypeSupport, RandomCorruptionNeverThrows) {
  // Flipped bytes of valid payloads: decoding may succeed or fail, but it
  // never throws and never allocates more than the payload can describe.
  using Message = typename TypeParam::type;
  msgs_test::Random random(0xbad0003);
  for (int i = 0; i < 300; ++i) {
    Bytes bytes = Encode<TypeParam>(msgs_test::RandomMessage<Message>(random));
    for (int flips = 1 + static_cast<int>(random.Below(4)); flips > 0; --flips) {
      const size_t at = 4 + random.Below(bytes.size() - 4);
      bytes[at] = random.OneIn(2) ? 0xFF : static_cast<uint8_t>(random.Bits());
    }
    Message decoded;
    bool ok = false;
    size_t largest = 0;
    EXPECT_NO_THROW(largest = LargestAllocationDecoding<TypeParam>(bytes, decoded, ok));
    EXPECT_LE(largest, 64 * bytes.size() + 4096) << "payload of " << bytes.size();
  }
}

// A count word of a real payload replaced by `count`.
Bytes WithCount(Bytes bytes, size_t body_offset, uint32_t count) {
  std::memcpy(&bytes[4 + body_offset], &count, sizeof(count));
  return bytes;
}

TEST(Malformed, ForgedCountsOfNestedSequences) {
  ASSERT_TRUE(msgs_test::HostIsLittleEndian());
  // Motion commands with 2 waypoints and 2 inner position sequences of 3:
  //   0 sequence_num, 8 joint_commands (six counts, float, two booleans),
  //   38 padding, 40 cartesian_commands (116), 156 waypoint count, 160 and
  //   276 the waypoints, 392 position-sequence count, 396 first inner
  //   count, 400 its floats, 412 second inner count, 416 its floats, 428.
  vek_msgs::msg::MotionCommands commands;
  commands.cartesian_multi_commands(std::vector<vek_msgs::msg::CartesianCommands>(2));
  commands.joint_multi_positions({{1, 2, 3}, {4, 5, 6}});
  const Bytes valid = Encode<vek_msgs::msg::MotionCommandsPubSubType>(commands);
  ASSERT_EQ(valid.size(), 4u + 428u);

  struct Case {
    const char* what;
    size_t offset;
    uint32_t count;
  };
  for (const Case& c : {Case{"torque count", 8, 0xFFFFFFFFu}, Case{"waypoint count", 156, 0xFFFFFFFFu},
                        Case{"waypoints: one more than 116-byte elements fit", 156, 3},
                        Case{"position sequences", 392, 0xFFFFFFFFu},
                        Case{"position sequences: one more than 4-byte counts fit", 392, 10},
                        Case{"inner positions", 396, 0x40000000u},
                        Case{"second inner positions", 412, 4}}) {
    vek_msgs::msg::MotionCommands decoded;
    bool ok = true;
    const size_t largest =
        LargestAllocationDecoding<vek_msgs::msg::MotionCommandsPubSubType>(WithCount(valid, c.offset, c.count),
                                                                           decoded, ok);
    EXPECT_FALSE(ok) << c.what;
    EXPECT_LE(largest, 4096u) << c.what;
  }
  // With 116 bytes per waypoint, the 272 bytes after the waypoint count
  // hold at most 2 of them; a third would need more than is left.
  vek_msgs::msg::MotionCommands decoded;
  ASSERT_TRUE(Decode<vek_msgs::msg::MotionCommandsPubSubType>(valid, decoded));
  EXPECT_EQ(decoded, commands);
}

TEST(Malformed, ForgedCountsOfStringsNeverAllocateBeyondThePayload) {
  // A data-service reply whose string count is 4294967295: 1-byte-per-string
  // arithmetic would allow gigabytes; 4 bytes per string refuses at once.
  Bytes huge = {0x00, 0x01, 0x00, 0x00,  // header
                0x01, 0x00, 0x01, 0x00,  // 0: request_id 1, success, padding
                0xFF, 0xFF, 0xFF, 0xFF};  // 4: string_container count
  huge.insert(huge.end(), 64, 0x00);
  quiral_lumo_msgs::msg::RPCReply reply;
  bool ok = true;
  EXPECT_LE(LargestAllocationDecoding<quiral_lumo_msgs::msg::RPCReplyPubSubType>(huge, reply, ok), 64u);
  EXPECT_FALSE(ok);
  EXPECT_EQ(reply.string_container().capacity(), 0u);

  // An event log whose description count exceeds the payload.
  Bytes entry = Encode<quiral_lumo_msgs::msg::EventLogPubSubType>(quiral_lumo_msgs::msg::EventLog());
  entry = WithCount(entry, 8, 0x7FFFFFFF);
  quiral_lumo_msgs::msg::EventLog log;
  EXPECT_LE(LargestAllocationDecoding<quiral_lumo_msgs::msg::EventLogPubSubType>(entry, log, ok), 64u);
  EXPECT_FALSE(ok);
}

TEST(Malformed, BooleanArrayByteOtherThanZeroOrOne) {
  Bytes sample = Encode<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(
      quiral_lumo_msgs::msg::AllBasicStreamData());
  sample[4 + 12 + 17] = 0x02;  // digital_inputs[17]
  quiral_lumo_msgs::msg::AllBasicStreamData decoded;
  EXPECT_FALSE(Decode<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(sample, decoded));
}

TEST(Malformed, TrailingBytesAreIgnored) {
  vek_msgs::msg::RealtimeStates states;
  states.gripper_states().width(3.0f);
  Bytes bytes = Encode<vek_msgs::msg::RealtimeStatesPubSubType>(states);
  bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  vek_msgs::msg::RealtimeStates decoded;
  ASSERT_TRUE(Decode<vek_msgs::msg::RealtimeStatesPubSubType>(bytes, decoded));
  EXPECT_EQ(decoded, states);
}

TEST(Malformed, NullArgumentsAreRefused) {
  vek_msgs::msg::RPCRequestPubSubType support;
  vek_msgs::msg::RPCRequest request;
  eprosima::fastrtps::rtps::SerializedPayload_t payload(64);
  EXPECT_FALSE(support.serialize(nullptr, &payload));
  EXPECT_FALSE(support.serialize(&request, nullptr));
  EXPECT_FALSE(support.deserialize(nullptr, &request));
  EXPECT_FALSE(support.deserialize(&payload, nullptr));
  eprosima::fastrtps::rtps::SerializedPayload_t empty;
  EXPECT_FALSE(support.serialize(&request, &empty));
  EXPECT_FALSE(support.deserialize(&empty, &request));
}

}  // namespace
