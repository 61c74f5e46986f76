// What Fast-DDS learns from each type-support class, round trips of random
// messages with exact sizes, and the edge cases of strings and equality.
#include "tests/msgs/msgs_test_util.h"

#include <gtest/gtest.h>

namespace {

using eprosima::fastcdr::Cdr;
using eprosima::fastcdr::FastBuffer;
using msgs_test::Bytes;
using msgs_test::Decode;
using msgs_test::Encode;

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
  EXPECT_FALSE(support.m_isGetKeyDefined);
  EXPECT_EQ(support.is_bounded(), e.fixed);
  EXPECT_EQ(support.is_plain(), e.fixed);
  const Message defaults;
  EXPECT_EQ(Encode<Support>(defaults).size(), 4 + e.default_body);

  // The size provider reads the sample when called, not when created.
  msgs_test::Random random(7);
  Message sample;
  const auto provider = support.getSerializedSizeProvider(&sample);
  msgs_test::Fill(random, sample);
  EXPECT_EQ(provider(), 4 + Message::getCdrSerializedSize(sample));

  void* created = support.createData();
  EXPECT_EQ(*static_cast<Message*>(created), defaults);
  support.deleteData(created);
  // Only plain types are constructed in memory that Fast-DDS provides.
  alignas(Message) unsigned char memory[sizeof(Message)];
  std::memset(memory, 0xA5, sizeof(memory));
  EXPECT_EQ(support.construct_sample(memory), e.fixed);
  if (e.fixed) {
    EXPECT_EQ(*reinterpret_cast<Message*>(memory), defaults);
    reinterpret_cast<Message*>(memory)->~Message();
  }
  // No type has a key: getKey refuses and leaves the handle alone.
  eprosima::fastrtps::rtps::InstanceHandle_t handle;
  handle.value[0] = 0x42;
  EXPECT_FALSE(support.getKey(&sample, &handle, true));
  EXPECT_EQ(handle.value[0], 0x42);
}

TEST(TypeSupport, NamesSizesAndFlags) {
  CheckTypeSupport<std_msgs::msg::BoolPubSubType>({"std_msgs::msg::dds_::Bool_", 1, 8, true, 1});
  CheckTypeSupport<vek_msgs::msg::RPCRequestPubSubType>(
      {"vek_msgs::msg::dds_::RPCRequest_", 1037156, 1037160, false, 104});
  CheckTypeSupport<vek_msgs::msg::RPCReplyPubSubType>(
      {"vek_msgs::msg::dds_::RPCReply_", 1027152, 1027156, false, 100});
  CheckTypeSupport<vek_msgs::msg::SystemStatusPubSubType>(
      {"vek_msgs::msg::dds_::SystemStatus_", 18, 24, true, 18});
  CheckTypeSupport<vek_msgs::msg::GripperStatesPubSubType>(
      {"vek_msgs::msg::dds_::GripperStates_", 9, 16, true, 9});
  CheckTypeSupport<vek_msgs::msg::RealtimeStatesPubSubType>(
      {"vek_msgs::msg::dds_::RealtimeStates_", 29, 36, true, 29});
  CheckTypeSupport<vek_msgs::msg::JointCommandsPubSubType>(
      {"vek_msgs::msg::dds_::JointCommands_", 2430, 2436, false, 30});
  CheckTypeSupport<vek_msgs::msg::CartesianCommandsPubSubType>(
      {"vek_msgs::msg::dds_::CartesianCommands_", 116, 120, true, 116});
  CheckTypeSupport<vek_msgs::msg::MotionCommandsPubSubType>(
      {"vek_msgs::msg::dds_::MotionCommands_", 54564, 54568, false, 164});
  CheckTypeSupport<quiral_lumo_msgs::msg::RPCRequestPubSubType>(
      {"quiral_lumo_msgs::msg::dds_::RPCRequest_", 2, 8, true, 2});
  CheckTypeSupport<quiral_lumo_msgs::msg::RPCReplyPubSubType>(
      {"quiral_lumo_msgs::msg::dds_::RPCReply_", 26412, 26416, false, 12});
  CheckTypeSupport<quiral_lumo_msgs::msg::EventLogPubSubType>(
      {"quiral_lumo_msgs::msg::dds_::EventLog_", 1048, 1052, false, 37});
  CheckTypeSupport<quiral_lumo_msgs::msg::AllExtraStreamDataPubSubType>(
      {"quiral_lumo_msgs::msg::dds_::AllExtraStreamData_", 884, 888, false, 84});
  CheckTypeSupport<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(
      {"quiral_lumo_msgs::msg::dds_::AllBasicStreamData_", 5040, 5044, false, 240});
  // Largest sizes count the padding caused by the starting offset; a
  // nested message is not aligned as a whole.
  EXPECT_EQ(vek_msgs::msg::ToolParams::getMaxCdrSerializedSize(1), 331u);
  EXPECT_EQ(vek_msgs::msg::GripperStates::getMaxCdrSerializedSize(18), 11u);
  EXPECT_EQ(quiral_lumo_msgs::msg::BasicJointData::getMaxCdrSerializedSize(), 4848u);
}

// Writes `prefix` octets, then the message, in the given order; the exact
// size from that offset is what was written, and a buffer of exactly that
// length reads the message back.
template <class Message>
void RoundTripThroughStream(const Message& message, Cdr::Endianness order, size_t prefix) {
  const size_t body = Message::getCdrSerializedSize(message, prefix);
  std::vector<char> buffer(4 + prefix + body + 16, 0);
  FastBuffer writing(buffer.data(), buffer.size());
  Cdr writer(writing, order, Cdr::DDS_CDR);
  writer.serialize_encapsulation();
  for (size_t i = 0; i < prefix; ++i) {
    writer.serialize(static_cast<uint8_t>(0xEE));
  }
  message.serialize(writer);
  ASSERT_EQ(writer.getSerializedDataLength(), 4 + prefix + body) << "prefix " << prefix;

  FastBuffer reading(buffer.data(), writer.getSerializedDataLength());
  Cdr reader(reading, Cdr::DEFAULT_ENDIAN, Cdr::DDS_CDR);
  reader.read_encapsulation();
  uint8_t octet = 0;
  for (size_t i = 0; i < prefix; ++i) {
    reader.deserialize(octet);
  }
  Message decoded;
  reader.deserialize(decoded);
  ASSERT_EQ(decoded, message) << "prefix " << prefix;
}

// Random messages of every type, with every message nested in them: the
// exact size is what the type support writes and the payload decodes back,
// also into a sample that held another message; a stream in the other byte
// order, from any starting offset, does the same.
TEST(RoundTrip, EveryTypeInBothByteOrdersFromAnyOffset) {
  msgs_test::ForEach(msgs_test::TypeSupports(), [](auto tag) {
    using Support = typename decltype(tag)::type;
    using Message = typename Support::type;
    Support support;
    SCOPED_TRACE(support.getName());
    msgs_test::Random random(0x5eed0003);
    Message reused = msgs_test::RandomMessage<Message>(random);
    for (int i = 0; i < 300 && !::testing::Test::HasFatalFailure(); ++i) {
      const Message message = msgs_test::RandomMessage<Message>(random);
      const Bytes bytes = msgs_test::EncodeWith(support, message);
      ASSERT_EQ(bytes.size(), 4 + Message::getCdrSerializedSize(message));
      if (support.is_bounded()) {
        ASSERT_EQ(bytes.size(), 4 + Message::getMaxCdrSerializedSize());
      }
      ASSERT_TRUE(Decode<Support>(bytes, reused));
      ASSERT_EQ(reused, message);
      RoundTripThroughStream(message, Cdr::BIG_ENDIANNESS, static_cast<size_t>(i % 8));
    }
  });
}

TEST(RoundTrip, OctetSequenceBeyondItsBudgetTravels) {
  vek_msgs::msg::RPCReply reply;
  std::vector<uint8_t> file(1000001);
  for (size_t i = 0; i < file.size(); ++i) {
    file[i] = static_cast<uint8_t>(i * 31);
  }
  reply.raw_bytes_container(file);
  const Bytes bytes = Encode<vek_msgs::msg::RPCReplyPubSubType>(reply);
  ASSERT_EQ(bytes.size(), 4 + vek_msgs::msg::RPCReply::getCdrSerializedSize(reply));
  vek_msgs::msg::RPCReply decoded;
  ASSERT_TRUE(Decode<vek_msgs::msg::RPCReplyPubSubType>(bytes, decoded));
  EXPECT_EQ(decoded, reply);
}

TEST(RoundTrip, MessageTooLargeForThePayloadIsRefused) {
  vek_msgs::msg::RPCRequestPubSubType support;
  vek_msgs::msg::RPCRequest request;
  request.raw_bytes_arg(std::vector<uint8_t>(1000, 7));
  msgs_test::SerializedPayload_t payload(200);
  payload.length = 0;
  EXPECT_FALSE(support.serialize(&request, &payload));
  EXPECT_EQ(payload.length, 0u);
}

TEST(RoundTrip, ThroughFastCdrsOwnGrowingBuffer) {
  // Reading checks the bytes left by probing ahead, which may not enlarge
  // such a buffer under the reader.
  msgs_test::Random random(0x5eed0004);
  for (int i = 0; i < 20; ++i) {
    const auto commands = msgs_test::RandomMessage<vek_msgs::msg::MotionCommands>(random);
    FastBuffer buffer;
    Cdr writer(buffer);
    commands.serialize(writer);
    EXPECT_EQ(writer.getSerializedDataLength(), vek_msgs::msg::MotionCommands::getCdrSerializedSize(commands));
    Cdr reader(buffer);
    vek_msgs::msg::MotionCommands decoded;
    decoded.deserialize(reader);
    EXPECT_EQ(decoded, commands);
  }
}

TEST(Strings, EmbeddedNulEndsTheTextAndTheSizeAgrees) {
  quiral_lumo_msgs::msg::EventLog entry;
  entry.description(std::string("ab\0cd", 5));
  const Bytes bytes = Encode<quiral_lumo_msgs::msg::EventLogPubSubType>(entry);
  EXPECT_EQ(bytes.size(), 4 + quiral_lumo_msgs::msg::EventLog::getCdrSerializedSize(entry));
  quiral_lumo_msgs::msg::EventLog decoded;
  ASSERT_TRUE(Decode<quiral_lumo_msgs::msg::EventLogPubSubType>(bytes, decoded));
  EXPECT_EQ(decoded.description(), "ab");
}

TEST(Strings, LongStringIsCutToItsCapacity) {
  // A request whose long string carries 12000 characters on the wire.
  Bytes payload = {0x00, 0x01, 0x00, 0x00,   // header
                   0x05, 0x00, 0x00, 0x00,   // 0: procedure_id 5, padding
                   0x00, 0x00, 0x00, 0x00,   // 4: int_args empty
                   0x00, 0x00, 0x00, 0x00,   // 8: float_args empty
                   0x00, 0x00, 0x00, 0x00,   // 12: string_args empty
                   0xE1, 0x2E, 0x00, 0x00};  // 16: long_string_arg count 12001
  payload.insert(payload.end(), 12000, 'q');  // 20: the characters
  payload.insert(payload.end(), 4, 0x00);     // 12020: NUL, padding to 12024
  // The default request's body from raw_bytes_arg on (body offset 24) is
  // the same at any 4-aligned offset.
  const Bytes tail = Encode<vek_msgs::msg::RPCRequestPubSubType>(vek_msgs::msg::RPCRequest());
  payload.insert(payload.end(), tail.begin() + 4 + 24, tail.end());

  vek_msgs::msg::RPCRequest decoded;
  ASSERT_TRUE(Decode<vek_msgs::msg::RPCRequestPubSubType>(payload, decoded));
  EXPECT_EQ(decoded.procedure_id(), 5);
  EXPECT_EQ(std::string(decoded.long_string_arg().c_str()), std::string(10000, 'q'));
  EXPECT_EQ(decoded.long_string_arg().size(), 10000u);
  EXPECT_EQ(decoded.tool_params(), vek_msgs::msg::ToolParams());
  // Text beyond the capacity is not kept when set either.
  vek_msgs::msg::RPCRequest cut;
  cut.long_string_arg(std::string(10001, 'q'));
  EXPECT_EQ(cut.long_string_arg(), decoded.long_string_arg());
}

TEST(Strings, StringCountOfZeroReadsAsEmpty) {
  // Writers always send the NUL (count 1); a count of 0 is read as "".
  const Bytes payload = {0x00, 0x01, 0x00, 0x00,                          // header
                         0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // 0: level 1, padding, id 2
                         0x00, 0x00, 0x00, 0x00,                          // 8: description, count 0
                         0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 12: ""
                         0x02, 0x00, 0x00, 0x00, 'x', 0x00, 0x00, 0x00,   // 20: "x"
                         0x01, 0x00, 0x00, 0x00, 0x00};                   // 28: ""
  quiral_lumo_msgs::msg::EventLog entry;
  entry.description("old");
  ASSERT_TRUE(Decode<quiral_lumo_msgs::msg::EventLogPubSubType>(payload, entry));
  EXPECT_EQ(entry.id(), 2);
  EXPECT_EQ(entry.description(), "");
  EXPECT_EQ(entry.probable_causes(), "x");
}

TEST(Equality, FloatsCompareAsNumbers) {
  vek_msgs::msg::GripperStates a;
  vek_msgs::msg::GripperStates b;
  b.width(-0.0f);
  EXPECT_EQ(a, b);
  a.force(std::numeric_limits<float>::quiet_NaN());
  EXPECT_FALSE(a == a);
  EXPECT_TRUE(a != a);
  quiral_lumo_msgs::msg::ExtraJointData j;
  j.position_des({1.0f, std::numeric_limits<float>::quiet_NaN()});
  EXPECT_NE(j, quiral_lumo_msgs::msg::ExtraJointData(j));
}

}  // namespace
