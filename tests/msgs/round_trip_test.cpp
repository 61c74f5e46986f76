// Random messages of every type: decode(encode(x)) == x, and the exact size
// is the number of bytes written, from any starting offset and in both
// byte orders.
#include "tests/msgs/payload_util.h"
#include "tests/msgs/random_messages.h"

#include <gtest/gtest.h>

namespace {

using eprosima::fastcdr::Cdr;
using eprosima::fastcdr::FastBuffer;
using msgs_test::Bytes;

constexpr int kIterations = 300;

// Writes `prefix` octets, then the message, in the given order; checks the
// exact size from that starting offset and reads the message back from a
// buffer of exactly the written length.
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
  EXPECT_EQ(reader.endianness(), order);
  for (size_t i = 0; i < prefix; ++i) {
    uint8_t octet = 0;
    reader.deserialize(octet);
  }
  Message decoded;
  reader.deserialize(decoded);
  EXPECT_EQ(decoded, message) << "prefix " << prefix;
  EXPECT_EQ(reader.getSerializedDataLength(), writer.getSerializedDataLength());
}

template <class Message>
class EveryMessage : public ::testing::Test {};

using AllMessages = ::testing::Types<
    std_msgs::msg::Bool, builtin_interfaces::msg::Time, vek_msgs::msg::ToolParams, vek_msgs::msg::SystemStatus,
    vek_msgs::msg::GripperStates, vek_msgs::msg::RealtimeStates, vek_msgs::msg::RPCRequest,
    vek_msgs::msg::RPCReply, vek_msgs::msg::JointCommands, vek_msgs::msg::CartesianCommands,
    vek_msgs::msg::MotionCommands, quiral_lumo_msgs::msg::SystemStatus, quiral_lumo_msgs::msg::RPCRequest,
    quiral_lumo_msgs::msg::RPCReply, quiral_lumo_msgs::msg::ExtraJointData,
    quiral_lumo_msgs::msg::ExtraCartesianData, quiral_lumo_msgs::msg::EventLog,
    quiral_lumo_msgs::msg::BasicJointData, quiral_lumo_msgs::msg::BasicCartesianData,
    quiral_lumo_msgs::msg::AllExtraStreamData, quiral_lumo_msgs::msg::AllBasicStreamData>;
TYPED_TEST_SUITE(EveryMessage, AllMessages, msgs_test::TypeNames);

TYPED_TEST(EveryMessage, RoundTripsInBothByteOrdersFromAnyOffset) {
  msgs_test::Random random(0x5eed0001);
  for (int i = 0; i < kIterations; ++i) {
    const TypeParam message = msgs_test::RandomMessage<TypeParam>(random);
    const Cdr::Endianness order = (i % 2 == 0) ? Cdr::LITTLE_ENDIANNESS : Cdr::BIG_ENDIANNESS;
    RoundTripThroughStream(message, order, static_cast<size_t>(i % 8));
    if (::testing::Test::HasFatalFailure()) {
      return;
    }
  }
}

TYPED_TEST(EveryMessage, ValueSemantics) {
  msgs_test::Random random(0x5eed0002);
  for (int i = 0; i < 50; ++i) {
    TypeParam a = msgs_test::RandomMessage<TypeParam>(random);
    TypeParam b = a;
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a != b);
    TypeParam c = std::move(b);
    EXPECT_EQ(c, a);
    TypeParam d;
    d = c;
    EXPECT_EQ(d, a);
  }
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

TYPED_TEST(EveryTypeSupport, RoundTripsThroughPayloads) {
  using Message = typename TypeParam::type;
  msgs_test::Random random(0x5eed0003);
  TypeParam support;
  Message reused = msgs_test::RandomMessage<Message>(random);
  for (int i = 0; i < kIterations; ++i) {
    const Message message = msgs_test::RandomMessage<Message>(random);
    const Bytes bytes = msgs_test::EncodeWith(support, message);
    ASSERT_EQ(bytes.size(), 4 + Message::getCdrSerializedSize(message));
    ASSERT_EQ(support.getSerializedSizeProvider(const_cast<Message*>(&message))(), bytes.size());
    if (support.is_bounded()) {
      EXPECT_EQ(bytes.size(), 4 + Message::getMaxCdrSerializedSize());
    }
    // Decoding into a sample that held another message replaces it all.
    ASSERT_TRUE(msgs_test::Decode<TypeParam>(bytes, reused));
    ASSERT_EQ(reused, message);
  }
}

TEST(Equality, FloatsCompareAsNumbers) {
  vek_msgs::msg::GripperStates a;
  vek_msgs::msg::GripperStates b;
  a.width(0.0f);
  b.width(-0.0f);
  EXPECT_EQ(a, b);
  a.force(std::numeric_limits<float>::quiet_NaN());
  const vek_msgs::msg::GripperStates copy = a;
  EXPECT_NE(a, copy);
  EXPECT_FALSE(a == a);

  quiral_lumo_msgs::msg::ExtraJointData j;
  j.position_des({1.0f, std::numeric_limits<float>::quiet_NaN()});
  EXPECT_NE(j, quiral_lumo_msgs::msg::ExtraJointData(j));
}

TEST(Equality, SequencesCompareByCountThenElements) {
  vek_msgs::msg::RPCReply a;
  vek_msgs::msg::RPCReply b;
  a.raw_bytes_container({1, 2});
  b.raw_bytes_container({1, 2, 0});
  EXPECT_NE(a, b);
  b.raw_bytes_container().pop_back();
  EXPECT_EQ(a, b);
  a.string_container({"x"});
  EXPECT_NE(a, b);
  b.string_container().push_back("x");
  EXPECT_EQ(a, b);
  a.tool_params().tcp_location()[6] = 1.0f;
  EXPECT_NE(a, b);
}

TEST(Equality, LongStringComparesAsText) {
  vek_msgs::msg::RPCRequest a;
  vek_msgs::msg::RPCRequest b;
  a.long_string_arg("abc");
  b.long_string_arg(std::string("abc"));
  EXPECT_EQ(a, b);
  b.long_string_arg("abd");
  EXPECT_NE(a, b);
  // Text beyond the capacity is not kept.
  a.long_string_arg(std::string(10001, 'z'));
  b.long_string_arg(std::string(10000, 'z'));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.long_string_arg().size(), 10000u);
}

TEST(Accessors, SettersCopyOrMoveAndGettersReferToTheField) {
  quiral_lumo_msgs::msg::EventLog entry;
  std::string text(100, 'd');
  entry.description(text);
  EXPECT_EQ(text.size(), 100u);
  entry.consequences(std::move(text));
  EXPECT_EQ(entry.consequences(), std::string(100, 'd'));
  entry.level() = 4;
  EXPECT_EQ(entry.level(), 4);
  const quiral_lumo_msgs::msg::EventLog& view = entry;
  EXPECT_EQ(&view.description(), &entry.description());

  std::vector<uint8_t> file(1000, 1);
  const uint8_t* data = file.data();
  vek_msgs::msg::RPCRequest request;
  request.raw_bytes_arg(std::move(file));
  EXPECT_EQ(request.raw_bytes_arg().data(), data);  // moved, not copied
}

TEST(Strings, EmbeddedNulEndsTheTextOnTheWire) {
  quiral_lumo_msgs::msg::EventLog entry;
  entry.description(std::string("ab\0cd", 5));
  const Bytes bytes = msgs_test::Encode<quiral_lumo_msgs::msg::EventLogPubSubType>(entry);
  EXPECT_EQ(bytes.size(), 4 + quiral_lumo_msgs::msg::EventLog::getCdrSerializedSize(entry));
  quiral_lumo_msgs::msg::EventLog decoded;
  ASSERT_TRUE(msgs_test::Decode<quiral_lumo_msgs::msg::EventLogPubSubType>(bytes, decoded));
  EXPECT_EQ(decoded.description(), "ab");
}

TEST(Streams, GrowingBufferRoundTrip) {
  // A stream over Fast-CDR's own growing buffer, written and read back.
  msgs_test::Random random(0x5eed0004);
  for (int i = 0; i < 20; ++i) {
    const vek_msgs::msg::MotionCommands commands = msgs_test::RandomMessage<vek_msgs::msg::MotionCommands>(random);
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

}  // namespace
