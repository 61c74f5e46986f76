// Round trips of random messages of every type with exact sizes, and the
// edge cases of strings.
#include "tests/msgs/msgs_test_util.h"

#include <fastcdr/exceptions/NotEnoughMemoryException.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using eprosima::fastcdr::Cdr;
using eprosima::fastcdr::FastBuffer;
using msgs_test::Bytes;
using msgs_test::Decode;
using msgs_test::Encode;
namespace vm = msgs_test::vm;
namespace lm = msgs_test::lm;

// The DDS type names peers match on, in the order of msgs_test::TypeSupports.
const char* const kTypeNames[] = {
    "std_msgs::msg::dds_::Bool_", "vek_msgs::msg::dds_::SystemStatus_",
    "vek_msgs::msg::dds_::GripperStates_", "vek_msgs::msg::dds_::RealtimeStates_",
    "vek_msgs::msg::dds_::RPCRequest_", "vek_msgs::msg::dds_::RPCReply_",
    "vek_msgs::msg::dds_::JointCommands_", "vek_msgs::msg::dds_::CartesianCommands_",
    "vek_msgs::msg::dds_::MotionCommands_", "quiral_lumo_msgs::msg::dds_::RPCRequest_",
    "quiral_lumo_msgs::msg::dds_::RPCReply_", "quiral_lumo_msgs::msg::dds_::EventLog_",
    "quiral_lumo_msgs::msg::dds_::AllExtraStreamData_",
    "quiral_lumo_msgs::msg::dds_::AllBasicStreamData_"};

// Random messages of every type: the exact size is what the type support
// writes and the payload decodes back, also into a sample that held
// another message; a big-endian payload too. Fixed-size types are plain
// (Fast-DDS constructs them in its own memory) and always take their
// largest size.
TEST(RoundTrip, EveryTypeInBothByteOrders) {
  size_t index = 0;
  msgs_test::ForEach(msgs_test::TypeSupports(), [&index](auto tag) {
    using Support = typename decltype(tag)::type;
    using Message = typename Support::type;
    Support support;
    SCOPED_TRACE(support.getName());
    EXPECT_STREQ(support.getName(), kTypeNames[index++]);
    EXPECT_EQ(support.is_plain(), support.is_bounded());
    msgs_test::Random random(0x5eed0003);
    Message reused = msgs_test::RandomMessage<Message>(random);
    for (size_t i = 0; i < 300 && !::testing::Test::HasFatalFailure(); ++i) {
      const Message message = msgs_test::RandomMessage<Message>(random);
      const Bytes bytes = Encode<Support>(message);
      ASSERT_EQ(bytes.size(), 4 + Message::getCdrSerializedSize(message));
      if (support.is_bounded()) {
        ASSERT_EQ(bytes.size(), 4 + Message::getMaxCdrSerializedSize());
      }
      ASSERT_TRUE(Decode<Support>(bytes, reused));
      ASSERT_EQ(reused, message);
      Message decoded;
      ASSERT_TRUE(Decode<Support>(msgs_test::EncodeInOrder(message, Cdr::BIG_ENDIANNESS), decoded));
      ASSERT_EQ(decoded, message);
    }
  });
}

TEST(RoundTrip, EveryTypeThroughFastCdrsOwnGrowingBuffer) {
  // A message's own deserialize finds the bytes left before such a buffer
  // ends as it is, without enlarging it, and reads as the type support does.
  msgs_test::ForEach(msgs_test::TypeSupports(), [](auto tag) {
    using Message = typename decltype(tag)::type::type;
    msgs_test::Random random(0x5eed0004);
    for (int i = 0; i < 20; ++i) {
      const auto message = msgs_test::RandomMessage<Message>(random);
      FastBuffer buffer;
      Cdr writer(buffer);
      message.serialize(writer);
      const size_t size = buffer.getBufferSize();
      Cdr reader(buffer);
      Message decoded;
      decoded.deserialize(reader);
      EXPECT_EQ(decoded, message);
      EXPECT_EQ(reader.getSerializedDataLength(), writer.getSerializedDataLength());
      EXPECT_EQ(buffer.getBufferSize(), size);
    }
  });
}

TEST(RoundTrip, AFailureFromOutsidePutsTheStreamBackWhereTheMessageBegan) {
  // Torques and positions are read, then the velocity count is forged: the
  // stream is back at the message's first byte, after the payload header,
  // and the velocities were refused before they were resized.
  vm::JointCommands commands;
  for (std::vector<float>* list : {&commands.torque(), &commands.position(), &commands.velocity()}) {
    *list = std::vector<float>(7, 1.0f);
  }
  Bytes bytes = Encode<vm::JointCommandsPubSubType>(commands);
  const uint32_t forged = 1000000;
  std::memcpy(&bytes[4 + 2 * (4 + 7 * 4)], &forged, sizeof forged);  // host order, as written
  FastBuffer buffer(reinterpret_cast<char*>(bytes.data()), bytes.size());
  Cdr reader(buffer, Cdr::DEFAULT_ENDIAN, Cdr::DDS_CDR);
  reader.read_encapsulation();
  vm::JointCommands decoded;
  EXPECT_THROW(decoded.deserialize(reader), eprosima::fastcdr::exception::NotEnoughMemoryException);
  EXPECT_EQ(reader.getSerializedDataLength(), 4u);
  EXPECT_EQ(decoded.position(), commands.position());
  EXPECT_TRUE(decoded.velocity().empty());
}

TEST(RoundTrip, AForgedCountOverAGrowingBufferNeitherEnlargesItNorMovesTheReader) {
  // A million torques: more than the buffer holds, refused before the
  // sequence is resized; the reader is back at the count.
  vm::JointCommands commands;
  commands.torque(std::vector<float>(7, 1.0f));
  FastBuffer buffer;
  Cdr writer(buffer);
  commands.serialize(writer);
  const uint32_t forged = 1000000;
  std::memcpy(buffer.getBuffer(), &forged, sizeof forged);  // the torque count, host order
  const size_t size = buffer.getBufferSize();
  Cdr reader(buffer);
  vm::JointCommands decoded;
  EXPECT_THROW(decoded.deserialize(reader), eprosima::fastcdr::exception::NotEnoughMemoryException);
  EXPECT_EQ(buffer.getBufferSize(), size);
  EXPECT_EQ(reader.getSerializedDataLength(), 0u);
}

TEST(Strings, EmbeddedNulAndCountZero) {
  // A NUL ends the text on the wire, and the exact size agrees.
  lm::EventLog entry;
  entry.description(std::string("ab\0cd", 5));
  Bytes bytes = Encode<lm::EventLogPubSubType>(entry);
  EXPECT_EQ(bytes.size(), 4 + lm::EventLog::getCdrSerializedSize(entry));
  ASSERT_TRUE(Decode<lm::EventLogPubSubType>(bytes, entry));
  EXPECT_EQ(entry.description(), "ab");

  // Writers always send the NUL (count 1); a count of 0 is read as "".
  bytes = {0x00, 0x01, 0x00, 0x00,                                 // header
           0x01, 0, 0, 0, 0x02, 0, 0, 0,                           // 0: level 1, padding, id 2
           0x00, 0, 0, 0,                                          // 8: description, count 0
           0x01, 0, 0, 0, 0x00, 0, 0, 0, 0x02, 0, 0, 0, 'x', 0, 0, 0,  // 12: "", 20: "x"
           0x01, 0, 0, 0, 0x00};                                   // 28: ""
  entry.description("old");
  ASSERT_TRUE(Decode<lm::EventLogPubSubType>(bytes, entry));
  EXPECT_EQ(entry.id(), 2);
  EXPECT_EQ(entry.description(), "");
  EXPECT_EQ(entry.probable_causes(), "x");

  // A text whose last counted byte is not a NUL keeps that byte; a count
  // beyond the payload is refused and the string keeps what it held.
  bytes = {0x00, 0x01, 0x00, 0x00,                    // header
           0x01, 0, 0, 0, 0x02, 0, 0, 0,              // 0: level 1, padding, id 2
           0x02, 0, 0, 0, 'a', 'b', 0, 0,             // 8: description "ab" without NUL
           0x01, 0, 0, 0, 0x00, 0, 0, 0,              // 16: ""
           0x01, 0, 0, 0, 0x00, 0, 0, 0,              // 24: ""
           0x01, 0, 0, 0, 0x00};                      // 32: ""
  ASSERT_TRUE(Decode<lm::EventLogPubSubType>(bytes, entry));
  EXPECT_EQ(entry.description(), "ab");
  bytes[12] = 0xF0;  // 240 characters, of 25 bytes left
  entry.description("kept");
  EXPECT_FALSE(Decode<lm::EventLogPubSubType>(bytes, entry));
  EXPECT_EQ(entry.description(), "kept");
}

}  // namespace
