// Malformed payloads: every one is refused with false, nothing is thrown
// and nothing huge is allocated. Arbitrary corruption is left to the fuzz
// targets.
#include "tests/msgs/msgs_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
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

using msgs_test::Bytes;
using msgs_test::Decode;
using msgs_test::Encode;

// Decodes with the allocation watch on; returns the largest allocation.
// A throw fails the test and counts as a refusal.
template <class Support>
size_t LargestAllocationDecoding(const Bytes& bytes, bool& ok) {
  typename Support::type message;
  g_largest_allocation = 0;
  g_watching = true;
  ok = true;
  EXPECT_NO_THROW(ok = Decode<Support>(bytes, message));
  g_watching = false;
  return g_largest_allocation;
}

template <class Support>
void ExpectEveryTruncationRefused(const typename Support::type& message) {
  const Bytes full = Encode<Support>(message);
  for (size_t length = 0; length < full.size(); ++length) {
    bool ok = true;
    LargestAllocationDecoding<Support>(Bytes(full.begin(), full.begin() + static_cast<long>(length)), ok);
    EXPECT_FALSE(ok) << "length " << length << " of " << full.size();
  }
  typename Support::type decoded;
  EXPECT_TRUE(Decode<Support>(full, decoded));
  EXPECT_EQ(decoded, message);
}

TEST(Malformed, EveryTruncationAndEveryOtherEncapsulationOfEveryType) {
  msgs_test::ForEach(msgs_test::TypeSupports(), [](auto tag) {
    using Support = typename decltype(tag)::type;
    using Message = typename Support::type;
    SCOPED_TRACE(Support().getName());
    msgs_test::Random random(0xbad0001);
    ExpectEveryTruncationRefused<Support>(Message());
    for (int checked = 0; checked < 4;) {
      const Message message = msgs_test::RandomMessage<Message>(random);
      if (Message::getCdrSerializedSize(message) <= 3000) {  // every length of a small one is enough
        ExpectEveryTruncationRefused<Support>(message);
        ++checked;
      }
    }
    // XCDR2 plain (0x0006/0x0007), delimited (0x0008/0x0009), parameter
    // lists of both versions (0x0002/0x0003, 0x000a/0x000b), nonsense.
    const Bytes valid = Encode<Support>(msgs_test::RandomMessage<Message>(random));
    for (uint8_t kind : {0x02, 0x03, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x10, 0xff}) {
      Bytes bytes = valid;
      bytes[1] = kind;
      bool ok = true;
      LargestAllocationDecoding<Support>(bytes, ok);
      EXPECT_FALSE(ok) << int(kind);
    }
    Bytes bytes = valid;
    bytes[0] = 0x01;
    Message decoded;
    EXPECT_FALSE(Decode<Support>(bytes, decoded));
    // Option bytes carry nothing here, and bytes after the last field are
    // ignored.
    bytes = valid;
    bytes[2] = 0x12;
    bytes[3] = 0x34;
    bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    EXPECT_TRUE(Decode<Support>(bytes, decoded));
  });
}

TEST(Malformed, BooleanBytesOtherThanZeroOrOne) {
  std_msgs::msg::Bool heartbeat;
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00, 0x02}, heartbeat));
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00, 0xFF}, heartbeat));
  EXPECT_TRUE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00, 0x01}, heartbeat));

  vek_msgs::msg::RPCReply reply;
  Bytes bytes = Encode<vek_msgs::msg::RPCReplyPubSubType>(reply);
  bytes[4 + 4] = 0x02;  // success
  EXPECT_FALSE(Decode<vek_msgs::msg::RPCReplyPubSubType>(bytes, reply));

  quiral_lumo_msgs::msg::AllBasicStreamData sample;
  bytes = Encode<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(sample);
  bytes[4 + 12 + 17] = 0x02;  // an element of a boolean array: digital_inputs[17]
  EXPECT_FALSE(Decode<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(bytes, sample));
}

// A count word of a real payload replaced by `count`.
Bytes WithCount(Bytes bytes, size_t body_offset, uint32_t count) {
  std::memcpy(&bytes[4 + body_offset], &count, sizeof(count));
  return bytes;
}

struct Forged {
  const char* what;
  std::function<size_t(bool&)> decode;  // returns the largest allocation
};

template <class Support>
Forged Make(const char* what, Bytes bytes) {
  return {what, [bytes](bool& ok) { return LargestAllocationDecoding<Support>(bytes, ok); }};
}

TEST(Malformed, ForgedCountsAreRefusedBeforeAllocating) {
  // Motion commands with 2 waypoints and 2 inner position sequences of 3:
  //   0 sequence_num, 8 joint_commands (six counts, float, two booleans),
  //   38 padding, 40 cartesian_commands (116), 156 waypoint count, 160 and
  //   276 the waypoints, 392 position-sequence count, 396 first inner
  //   count, 400 its floats, 412 second inner count, 416 its floats, 428.
  vek_msgs::msg::MotionCommands commands;
  commands.cartesian_multi_commands(std::vector<vek_msgs::msg::CartesianCommands>(2));
  commands.joint_multi_positions({{1, 2, 3}, {4, 5, 6}});
  const Bytes motion = Encode<vek_msgs::msg::MotionCommandsPubSubType>(commands);
  ASSERT_EQ(motion.size(), 4u + 428u);
  using Motion = vek_msgs::msg::MotionCommandsPubSubType;

  const Bytes reply_head = {0x00, 0x01, 0x00, 0x00,   // header
                            0x01, 0x00, 0x00, 0x00,   // 0: procedure_id
                            0x01, 0x00, 0x00, 0x00};  // 4: success, padding
  Bytes huge_ints = reply_head;
  huge_ints.insert(huge_ints.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0});  // 8: int_container count
  // 1000 strings need at least 4000 bytes; 3999 bytes hold 999 at most.
  Bytes strings = reply_head;
  strings.insert(strings.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0xE8, 0x03, 0x00, 0x00});  // 16: count 1000
  strings.insert(strings.end(), 3999, 0x00);
  const Bytes long_string = WithCount(Encode<vek_msgs::msg::RPCRequestPubSubType>({}), 16, 0x7FFFFFFF);
  // 1-byte-per-string arithmetic would allow gigabytes; 4 per string not.
  Bytes data_strings = {0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  data_strings.insert(data_strings.end(), 64, 0x00);
  const Bytes event = WithCount(Encode<quiral_lumo_msgs::msg::EventLogPubSubType>({}), 8, 0x7FFFFFFF);

  for (const Forged& c : {
           Make<vek_msgs::msg::RPCReplyPubSubType>("integer count 4294967295", huge_ints),
           Make<vek_msgs::msg::RPCReplyPubSubType>("1000 strings", strings),
           Make<vek_msgs::msg::RPCRequestPubSubType>("long string count", long_string),
           Make<quiral_lumo_msgs::msg::RPCReplyPubSubType>("string count 4294967295", data_strings),
           Make<quiral_lumo_msgs::msg::EventLogPubSubType>("description count", event),
           Make<Motion>("torque count", WithCount(motion, 8, 0xFFFFFFFFu)),
           Make<Motion>("waypoint count", WithCount(motion, 156, 0xFFFFFFFFu)),
           Make<Motion>("waypoints: one more than 116-byte elements fit", WithCount(motion, 156, 3)),
           Make<Motion>("position sequences", WithCount(motion, 392, 0xFFFFFFFFu)),
           Make<Motion>("position sequences: one more than 4-byte counts fit", WithCount(motion, 392, 10)),
           Make<Motion>("inner positions", WithCount(motion, 396, 0x40000000u)),
           Make<Motion>("second inner positions", WithCount(motion, 412, 4)),
       }) {
    bool ok = true;
    EXPECT_LE(c.decode(ok), 4096u) << c.what;
    EXPECT_FALSE(ok) << c.what;
  }
}

TEST(Malformed, NullArgumentsAreRefused) {
  vek_msgs::msg::RPCRequestPubSubType support;
  vek_msgs::msg::RPCRequest request;
  msgs_test::SerializedPayload_t payload(64);
  msgs_test::SerializedPayload_t empty;
  EXPECT_FALSE(support.serialize(nullptr, &payload));
  EXPECT_FALSE(support.serialize(&request, nullptr));
  EXPECT_FALSE(support.serialize(&request, &empty));
  EXPECT_FALSE(support.deserialize(nullptr, &request));
  EXPECT_FALSE(support.deserialize(&payload, nullptr));
  EXPECT_FALSE(support.deserialize(&empty, &request));
}

}  // namespace
