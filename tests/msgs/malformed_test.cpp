// Malformed payloads: every one is refused with false, nothing is thrown
// and nothing huge is allocated. Arbitrary corruption is left to the fuzz
// targets.
#include "tests/msgs/msgs_test_util.h"

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
  if (p == nullptr) throw std::bad_alloc();
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
namespace vm = msgs_test::vm;
namespace lm = msgs_test::lm;

// Expects `bytes` to be refused without a throw and without an allocation
// beyond `max_allocation`.
template <class Support>
void ExpectRefused(const Bytes& bytes, const std::string& what, size_t max_allocation = 4096) {
  typename Support::type message;
  bool ok = true;
  g_largest_allocation = 0;
  g_watching = true;
  EXPECT_NO_THROW(ok = Decode<Support>(bytes, message)) << what;
  g_watching = false;
  EXPECT_FALSE(ok) << what;
  EXPECT_LE(g_largest_allocation.load(), max_allocation) << what;
}

TEST(Malformed, EveryTruncationOfEveryType) {
  msgs_test::ForEach(msgs_test::TypeSupports(), [](auto tag) {
    using Support = typename decltype(tag)::type;
    using Message = typename Support::type;
    SCOPED_TRACE(Support().getName());
    msgs_test::Random random(0xbad0001);
    Message message;
    do {  // a small random message: every length of it is enough
      message = msgs_test::RandomMessage<Message>(random);
    } while (Message::getCdrSerializedSize(message) > 3000);
    for (const Message& m : {Message(), message}) {
      const Bytes full = Encode<Support>(m);
      for (size_t length = 0; length < full.size(); ++length) {
        ExpectRefused<Support>(Bytes(full.begin(), full.begin() + static_cast<long>(length)),
                               "length " + std::to_string(length), SIZE_MAX);
      }
    }
  });
}

TEST(Malformed, OtherEncapsulationsAndBooleanBytes) {
  // Plain CDR only: XCDR2 plain (0x0006/0x0007), delimited (0x0008/0x0009),
  // parameter lists of both versions (0x0002/0x0003, 0x000a/0x000b),
  // nonsense. The option bytes carry nothing; bytes after the last field
  // are ignored.
  vm::RPCReply reply;
  reply.string_container({"a"});
  const Bytes valid = Encode<vm::RPCReplyPubSubType>(reply);
  for (uint16_t kind : {0x02, 0x03, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x10, 0xff, 0x0101}) {
    Bytes bytes = valid;
    bytes[0] = static_cast<uint8_t>(kind >> 8);
    bytes[1] = static_cast<uint8_t>(kind);
    ExpectRefused<vm::RPCReplyPubSubType>(bytes, "encapsulation " + std::to_string(kind));
  }
  Bytes bytes = valid;
  bytes[2] = 0x12;
  bytes[3] = 0x34;
  bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  EXPECT_TRUE(Decode<vm::RPCReplyPubSubType>(bytes, reply));

  // A boolean is 0 or 1, alone and in an array.
  ExpectRefused<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00, 0x02}, "2");
  ExpectRefused<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00, 0xFF}, "255");
  bytes = valid;
  bytes[4 + 4] = 0x02;  // success
  ExpectRefused<vm::RPCReplyPubSubType>(bytes, "success");
  bytes = Encode<lm::AllBasicStreamDataPubSubType>({});
  bytes[4 + 12 + 17] = 0x02;  // digital_inputs[17]
  ExpectRefused<lm::AllBasicStreamDataPubSubType>(bytes, "digital_inputs[17]");
}

// A count word of a real payload replaced by `count`.
Bytes WithCount(Bytes bytes, size_t body_offset, uint32_t count) {
  std::memcpy(&bytes[4 + body_offset], &count, sizeof(count));
  return bytes;
}

TEST(Malformed, ForgedCountsAreRefusedBeforeAllocating) {
  // Motion commands with 2 waypoints and 2 inner position sequences of 3:
  //   0 sequence_num, 8 joint_commands (six counts, float, two booleans),
  //   38 padding, 40 cartesian_commands (116), 156 waypoint count, 160 and
  //   276 the waypoints, 392 position-sequence count, 396 first inner
  //   count, 400 its floats, 412 second inner count, 416 its floats, 428.
  vm::MotionCommands commands;
  commands.cartesian_multi_commands(std::vector<vm::CartesianCommands>(2));
  commands.joint_multi_positions({{1, 2, 3}, {4, 5, 6}});
  const Bytes motion = Encode<vm::MotionCommandsPubSubType>(commands);
  ASSERT_EQ(motion.size(), 4u + 428u);
  const std::pair<const char*, Bytes> motions[] = {
      {"torque count", WithCount(motion, 8, 0xFFFFFFFFu)},
      {"waypoint count", WithCount(motion, 156, 0xFFFFFFFFu)},
      {"waypoints: one more than 116-byte elements fit", WithCount(motion, 156, 3)},
      {"position sequences", WithCount(motion, 392, 0xFFFFFFFFu)},
      {"position sequences: one more than 4-byte counts fit", WithCount(motion, 392, 10)},
      {"inner positions", WithCount(motion, 396, 0x40000000u)},
      {"second inner positions", WithCount(motion, 412, 4)}};
  for (const auto& [what, bytes] : motions) ExpectRefused<vm::MotionCommandsPubSubType>(bytes, what);

  const Bytes reply_head = {0x00, 0x01, 0x00, 0x00,   // header
                            0x01, 0x00, 0x00, 0x00,   // 0: procedure_id
                            0x01, 0x00, 0x00, 0x00};  // 4: success, padding
  Bytes bytes = reply_head;
  bytes.insert(bytes.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0});  // 8: int_container count
  ExpectRefused<vm::RPCReplyPubSubType>(bytes, "integer count 4294967295");
  // 1000 strings need at least 4000 bytes; 3999 bytes hold 999 at most.
  bytes = reply_head;
  bytes.insert(bytes.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0xE8, 0x03, 0x00, 0x00});  // 16: count 1000
  bytes.insert(bytes.end(), 3999, 0x00);
  ExpectRefused<vm::RPCReplyPubSubType>(bytes, "1000 strings");
  ExpectRefused<vm::RPCRequestPubSubType>(
      WithCount(Encode<vm::RPCRequestPubSubType>({}), 16, 0x7FFFFFFF), "long string count");
  // 1-byte-per-string arithmetic would allow gigabytes; 4 per string not.
  bytes = {0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  bytes.insert(bytes.end(), 64, 0x00);
  ExpectRefused<lm::RPCReplyPubSubType>(bytes, "string count 4294967295");
  ExpectRefused<lm::EventLogPubSubType>(
      WithCount(Encode<lm::EventLogPubSubType>({}), 8, 0x7FFFFFFF), "description count");
}

}  // namespace
