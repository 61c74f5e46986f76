// What Fast-DDS learns from each type-support class, round trips of random
// messages with exact sizes, sizes beyond the budgets, and the edge cases
// of strings.
#include "tests/msgs/msgs_test_util.h"

#include <gtest/gtest.h>

namespace {

using eprosima::fastcdr::Cdr;
using eprosima::fastcdr::FastBuffer;
using msgs_test::Bytes;
using msgs_test::Decode;
using msgs_test::Encode;
namespace vm = msgs_test::vm;
namespace lm = msgs_test::lm;

struct Expected {
  const char* dds_name;
  size_t max_body;
  uint32_t type_size;
  bool fixed;
  size_t default_body;
};

template <class Support>
void CheckTypeSupport(const Expected& e) {
  using Message = typename Support::type;
  SCOPED_TRACE(e.dds_name);
  Support support;
  EXPECT_STREQ(support.getName(), e.dds_name);
  EXPECT_EQ(Message::getMaxCdrSerializedSize(), e.max_body);
  EXPECT_EQ(support.m_typeSize, e.type_size);
  EXPECT_EQ(support.is_bounded(), e.fixed);
  EXPECT_EQ(support.is_plain(), e.fixed);
  EXPECT_EQ(Encode<Support>(Message()).size(), 4 + e.default_body);
  // The size provider reads the sample when called, not when created.
  msgs_test::Random random(7);
  Message sample;
  const auto provider = support.getSerializedSizeProvider(&sample);
  msgs_test::Fill(random, sample);
  EXPECT_EQ(provider(), 4 + Message::getCdrSerializedSize(sample));
  // Only plain types are constructed in memory that Fast-DDS provides.
  alignas(Message) unsigned char memory[sizeof(Message)];
  std::memset(memory, 0xA5, sizeof(memory));
  ASSERT_EQ(support.construct_sample(memory), e.fixed);
  if (e.fixed) {
    EXPECT_EQ(*reinterpret_cast<Message*>(memory), Message());
    reinterpret_cast<Message*>(memory)->~Message();
  }
}

TEST(TypeSupport, NamesSizesAndFlags) {
  CheckTypeSupport<std_msgs::msg::BoolPubSubType>({"std_msgs::msg::dds_::Bool_", 1, 8, true, 1});
  CheckTypeSupport<vm::RPCRequestPubSubType>(
      {"vek_msgs::msg::dds_::RPCRequest_", 1037156, 1037160, false, 104});
  CheckTypeSupport<vm::RPCReplyPubSubType>(
      {"vek_msgs::msg::dds_::RPCReply_", 1027152, 1027156, false, 100});
  CheckTypeSupport<vm::SystemStatusPubSubType>(
      {"vek_msgs::msg::dds_::SystemStatus_", 18, 24, true, 18});
  CheckTypeSupport<vm::GripperStatesPubSubType>(
      {"vek_msgs::msg::dds_::GripperStates_", 9, 16, true, 9});
  CheckTypeSupport<vm::RealtimeStatesPubSubType>(
      {"vek_msgs::msg::dds_::RealtimeStates_", 29, 36, true, 29});
  CheckTypeSupport<vm::JointCommandsPubSubType>(
      {"vek_msgs::msg::dds_::JointCommands_", 2430, 2436, false, 30});
  CheckTypeSupport<vm::CartesianCommandsPubSubType>(
      {"vek_msgs::msg::dds_::CartesianCommands_", 116, 120, true, 116});
  CheckTypeSupport<vm::MotionCommandsPubSubType>(
      {"vek_msgs::msg::dds_::MotionCommands_", 54564, 54568, false, 164});
  CheckTypeSupport<lm::RPCRequestPubSubType>(
      {"quiral_lumo_msgs::msg::dds_::RPCRequest_", 2, 8, true, 2});
  CheckTypeSupport<lm::RPCReplyPubSubType>(
      {"quiral_lumo_msgs::msg::dds_::RPCReply_", 26412, 26416, false, 12});
  CheckTypeSupport<lm::EventLogPubSubType>(
      {"quiral_lumo_msgs::msg::dds_::EventLog_", 1048, 1052, false, 37});
  CheckTypeSupport<lm::AllExtraStreamDataPubSubType>(
      {"quiral_lumo_msgs::msg::dds_::AllExtraStreamData_", 884, 888, false, 84});
  CheckTypeSupport<lm::AllBasicStreamDataPubSubType>(
      {"quiral_lumo_msgs::msg::dds_::AllBasicStreamData_", 5040, 5044, false, 240});
  // Largest sizes count the padding caused by the starting offset; a
  // nested message is not aligned as a whole.
  EXPECT_EQ(vm::ToolParams::getMaxCdrSerializedSize(1), 331u);
  EXPECT_EQ(vm::GripperStates::getMaxCdrSerializedSize(18), 11u);
}

// Random messages of every type: the exact size is what the type support
// writes and the payload decodes back, also into a sample that held
// another message; a big-endian payload too.
TEST(RoundTrip, EveryTypeInBothByteOrders) {
  msgs_test::ForEach(msgs_test::TypeSupports(), [](auto tag) {
    using Support = typename decltype(tag)::type;
    using Message = typename Support::type;
    Support support;
    SCOPED_TRACE(support.getName());
    msgs_test::Random random(0x5eed0003);
    Message reused = msgs_test::RandomMessage<Message>(random);
    for (size_t i = 0; i < 300 && !::testing::Test::HasFatalFailure(); ++i) {
      const Message message = msgs_test::RandomMessage<Message>(random);
      const Bytes bytes = msgs_test::EncodeWith(support, message);
      ASSERT_EQ(bytes.size(), 4 + Message::getCdrSerializedSize(message));
      if (support.is_bounded()) {
        ASSERT_EQ(bytes.size(), 4 + Message::getMaxCdrSerializedSize());
      }
      ASSERT_TRUE(Decode<Support>(bytes, reused));
      ASSERT_EQ(reused, message);

      // Read in the byte order of its header.
      Message decoded;
      ASSERT_TRUE(Decode<Support>(msgs_test::EncodeInOrder(message, Cdr::BIG_ENDIANNESS), decoded));
      ASSERT_EQ(decoded, message);
    }
  });
}

TEST(RoundTrip, ThroughFastCdrsOwnGrowingBuffer) {
  // Reading checks the bytes left by probing ahead, which may not enlarge
  // such a buffer under the reader.
  msgs_test::Random random(0x5eed0004);
  for (int i = 0; i < 20; ++i) {
    const auto commands = msgs_test::RandomMessage<vm::MotionCommands>(random);
    FastBuffer buffer;
    Cdr writer(buffer);
    commands.serialize(writer);
    EXPECT_EQ(writer.getSerializedDataLength(), vm::MotionCommands::getCdrSerializedSize(commands));
    Cdr reader(buffer);
    vm::MotionCommands decoded;
    decoded.deserialize(reader);
    EXPECT_EQ(decoded, commands);
  }
}

TEST(RoundTrip, BudgetsAreNotBoundsButThePayloadCapacityIs) {
  vm::RPCReply reply;
  std::vector<uint8_t> file(1000001);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 31);
  reply.raw_bytes_container(file);
  vm::RPCReply decoded;
  ASSERT_TRUE(Decode<vm::RPCReplyPubSubType>(Encode<vm::RPCReplyPubSubType>(reply), decoded));
  EXPECT_EQ(decoded, reply);

  vm::RPCRequestPubSubType support;
  vm::RPCRequest request;
  request.raw_bytes_arg(std::vector<uint8_t>(1000, 7));
  msgs_test::SerializedPayload_t payload(200);
  payload.length = 0;
  EXPECT_FALSE(support.serialize(&request, &payload));
  EXPECT_EQ(payload.length, 0u);
}

TEST(Strings, EmbeddedNulLongTextAndCountZero) {
  // A NUL ends the text on the wire, and the exact size agrees.
  lm::EventLog entry;
  entry.description(std::string("ab\0cd", 5));
  Bytes bytes = Encode<lm::EventLogPubSubType>(entry);
  EXPECT_EQ(bytes.size(), 4 + lm::EventLog::getCdrSerializedSize(entry));
  ASSERT_TRUE(Decode<lm::EventLogPubSubType>(bytes, entry));
  EXPECT_EQ(entry.description(), "ab");

  // A request whose long string carries 12000 characters on the wire is
  // cut to the capacity; so is text set beyond it.
  bytes = {0x00, 0x01, 0x00, 0x00,   // header
           0x05, 0, 0, 0,            // 0: procedure_id 5, padding
           0, 0, 0, 0, 0, 0, 0, 0,   // 4: int_args, float_args empty
           0, 0, 0, 0,               // 12: string_args empty
           0xE1, 0x2E, 0x00, 0x00};  // 16: long_string_arg count 12001
  bytes.insert(bytes.end(), 12000, 'q');  // 20: the characters
  bytes.insert(bytes.end(), 4, 0x00);     // 12020: NUL, padding to 12024
  // The default request's body from raw_bytes_arg on (body offset 24) is
  // the same at any 4-aligned offset.
  const Bytes tail = Encode<vm::RPCRequestPubSubType>(vm::RPCRequest());
  bytes.insert(bytes.end(), tail.begin() + 4 + 24, tail.end());
  vm::RPCRequest request;
  ASSERT_TRUE(Decode<vm::RPCRequestPubSubType>(bytes, request));
  EXPECT_EQ(request.procedure_id(), 5);
  EXPECT_EQ(std::string(request.long_string_arg().c_str()), std::string(10000, 'q'));
  EXPECT_EQ(request.long_string_arg().size(), 10000u);
  vm::RPCRequest cut;
  cut.long_string_arg(std::string(10001, 'q'));
  EXPECT_EQ(cut.long_string_arg(), request.long_string_arg());

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
}

}  // namespace
