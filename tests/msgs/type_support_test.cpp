// What Fast-DDS learns from each type-support class: DDS type name, type
// size, key, bounded/plain flags, sample handling and the size provider.
#include "msgs/builtin_interfaces/time.h"
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
#include "tests/msgs/payload_util.h"
#include "tests/msgs/random_messages.h"

#include <fastdds/dds/topic/TopicDataType.hpp>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

namespace {

struct Expected {
  const char* dds_name;
  size_t max_body;
  uint32_t type_size;
  bool fixed;
  size_t default_body;
};

template <class PubSubType>
void CheckTypeSupport(const Expected& e) {
  using Message = typename PubSubType::type;
  static_assert(std::is_base_of<eprosima::fastdds::dds::TopicDataType, PubSubType>::value,
                "a type support is a Fast-DDS TopicDataType");
  SCOPED_TRACE(e.dds_name);
  PubSubType support;
  EXPECT_STREQ(support.getName(), e.dds_name);
  EXPECT_EQ(Message::getMaxCdrSerializedSize(), e.max_body);
  EXPECT_EQ(support.m_typeSize, e.type_size);
  EXPECT_FALSE(support.m_isGetKeyDefined);
  EXPECT_FALSE(Message::isKeyDefined());
  EXPECT_EQ(Message::getKeyMaxCdrSerializedSize(12), 12u);
  EXPECT_EQ(support.is_bounded(), e.fixed);
  EXPECT_EQ(support.is_plain(), e.fixed);

  const Message defaults;
  EXPECT_EQ(Message::getCdrSerializedSize(defaults), e.default_body);
  EXPECT_EQ(msgs_test::Encode<PubSubType>(defaults).size(), 4 + e.default_body);

  // The size provider reads the sample when called, not when created.
  msgs_test::Random random(7);
  Message sample;
  const auto provider = support.getSerializedSizeProvider(&sample);
  EXPECT_EQ(provider(), 4 + e.default_body);
  msgs_test::Fill(random, sample);
  EXPECT_EQ(provider(), 4 + Message::getCdrSerializedSize(sample));

  // Samples made by the type support are default messages.
  void* created = support.createData();
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(*static_cast<Message*>(created), defaults);
  support.deleteData(created);
  support.deleteData(nullptr);

  // Only plain types are constructed in memory that Fast-DDS provides.
  alignas(Message) unsigned char memory[sizeof(Message)];
  std::memset(memory, 0xA5, sizeof(memory));
  EXPECT_EQ(support.construct_sample(memory), e.fixed);
  if (e.fixed) {
    Message* constructed = reinterpret_cast<Message*>(memory);
    EXPECT_EQ(*constructed, defaults);
    constructed->~Message();
  }

  // No type has a key: getKey refuses and leaves the handle alone.
  eprosima::fastrtps::rtps::InstanceHandle_t handle;
  handle.value[0] = 0x42;
  EXPECT_FALSE(support.getKey(&sample, &handle));
  EXPECT_FALSE(support.getKey(&sample, &handle, true));
  EXPECT_EQ(handle.value[0], 0x42);

  // Through the base class, as Fast-DDS sees it.
  std::unique_ptr<eprosima::fastdds::dds::TopicDataType> base = std::make_unique<PubSubType>();
  EXPECT_STREQ(base->getName(), e.dds_name);
  EXPECT_EQ(base->is_plain(), e.fixed);
}

TEST(TypeSupport, LinkMessages) {
  CheckTypeSupport<std_msgs::msg::BoolPubSubType>({"std_msgs::msg::dds_::Bool_", 1, 8, true, 1});
  CheckTypeSupport<vek_msgs::msg::RPCRequestPubSubType>(
      {"vek_msgs::msg::dds_::RPCRequest_", 1037156, 1037160, false, 104});
  CheckTypeSupport<vek_msgs::msg::RPCReplyPubSubType>(
      {"vek_msgs::msg::dds_::RPCReply_", 1027152, 1027156, false, 100});
  CheckTypeSupport<vek_msgs::msg::SystemStatusPubSubType>({"vek_msgs::msg::dds_::SystemStatus_", 18, 24, true, 18});
  CheckTypeSupport<vek_msgs::msg::GripperStatesPubSubType>({"vek_msgs::msg::dds_::GripperStates_", 9, 16, true, 9});
  CheckTypeSupport<vek_msgs::msg::RealtimeStatesPubSubType>(
      {"vek_msgs::msg::dds_::RealtimeStates_", 29, 36, true, 29});
  CheckTypeSupport<vek_msgs::msg::JointCommandsPubSubType>(
      {"vek_msgs::msg::dds_::JointCommands_", 2430, 2436, false, 30});
  CheckTypeSupport<vek_msgs::msg::CartesianCommandsPubSubType>(
      {"vek_msgs::msg::dds_::CartesianCommands_", 116, 120, true, 116});
  CheckTypeSupport<vek_msgs::msg::MotionCommandsPubSubType>(
      {"vek_msgs::msg::dds_::MotionCommands_", 54564, 54568, false, 164});
}

TEST(TypeSupport, DataServiceMessages) {
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
}

TEST(TypeSupport, NestedOnlyMessageSizes) {
  EXPECT_EQ(vek_msgs::msg::ToolParams::getMaxCdrSerializedSize(), 328u);
  EXPECT_EQ(quiral_lumo_msgs::msg::SystemStatus::getMaxCdrSerializedSize(), 30u);
  EXPECT_EQ(quiral_lumo_msgs::msg::SystemStatus::getCdrSerializedSize(quiral_lumo_msgs::msg::SystemStatus()), 30u);
  EXPECT_EQ(quiral_lumo_msgs::msg::ExtraJointData::getMaxCdrSerializedSize(), 808u);
  EXPECT_EQ(quiral_lumo_msgs::msg::ExtraCartesianData::getMaxCdrSerializedSize(), 76u);
  EXPECT_EQ(quiral_lumo_msgs::msg::BasicJointData::getMaxCdrSerializedSize(), 4848u);
  EXPECT_EQ(quiral_lumo_msgs::msg::BasicCartesianData::getMaxCdrSerializedSize(), 152u);
  EXPECT_EQ(builtin_interfaces::msg::Time::getMaxCdrSerializedSize(), 8u);
  // A nested message is not aligned as a whole: GripperStates from offset
  // 18 pads 2 bytes before its first float.
  EXPECT_EQ(vek_msgs::msg::GripperStates::getMaxCdrSerializedSize(18), 11u);
  EXPECT_EQ(builtin_interfaces::msg::Time::getMaxCdrSerializedSize(1), 11u);
}

TEST(TypeSupport, LargestSizeCountsPaddingFromTheStartingOffset) {
  // ToolParams starts with a string: from offset 1 it pads 3 bytes first.
  EXPECT_EQ(vek_msgs::msg::ToolParams::getMaxCdrSerializedSize(0), 328u);
  EXPECT_EQ(vek_msgs::msg::ToolParams::getMaxCdrSerializedSize(1), 331u);
  EXPECT_EQ(vek_msgs::msg::ToolParams::getCdrSerializedSize(vek_msgs::msg::ToolParams(), 2), 78u);
}

TEST(TypeSupport, MessageTooLargeForThePayloadIsRefused) {
  vek_msgs::msg::RPCRequestPubSubType support;
  vek_msgs::msg::RPCRequest request;
  request.raw_bytes_arg(std::vector<uint8_t>(1000, 7));
  eprosima::fastrtps::rtps::SerializedPayload_t payload(200);
  payload.length = 0;
  EXPECT_FALSE(support.serialize(&request, &payload));
  EXPECT_EQ(payload.length, 0u);
}

TEST(TypeSupport, OctetSequenceBeyondItsBudgetTravels) {
  vek_msgs::msg::RPCReply reply;
  std::vector<uint8_t> file(1000001);
  for (size_t i = 0; i < file.size(); ++i) {
    file[i] = static_cast<uint8_t>(i * 31);
  }
  reply.raw_bytes_container(file);
  const msgs_test::Bytes bytes = msgs_test::Encode<vek_msgs::msg::RPCReplyPubSubType>(reply);
  ASSERT_EQ(bytes.size(), 4 + vek_msgs::msg::RPCReply::getCdrSerializedSize(reply));
  vek_msgs::msg::RPCReply decoded;
  ASSERT_TRUE(msgs_test::Decode<vek_msgs::msg::RPCReplyPubSubType>(bytes, decoded));
  EXPECT_EQ(decoded, reply);
}

TEST(TypeSupport, LongStringIsCutToItsCapacity) {
  // A request whose long string carries 12000 characters on the wire.
  msgs_test::Bytes payload = {0x00, 0x01, 0x00, 0x00,   // header
                              0x05, 0x00, 0x00, 0x00,   // 0: procedure_id 5, padding
                              0x00, 0x00, 0x00, 0x00,   // 4: int_args empty
                              0x00, 0x00, 0x00, 0x00,   // 8: float_args empty
                              0x00, 0x00, 0x00, 0x00,   // 12: string_args empty
                              0xE1, 0x2E, 0x00, 0x00};  // 16: long_string_arg count 12001
  payload.insert(payload.end(), 12000, 'q');            // 20: the characters
  payload.push_back(0x00);                              // 12020: NUL
  const msgs_test::Bytes tail = msgs_test::Encode<vek_msgs::msg::RPCRequestPubSubType>(
      vek_msgs::msg::RPCRequest());
  // The default request's body from raw_bytes_arg on (body offset 24, after
  // its 3 padding bytes) is the same bytes at any 4-aligned offset.
  payload.insert(payload.end(), 3, 0x00);  // 12021: padding to 12024
  payload.insert(payload.end(), tail.begin() + 4 + 24, tail.end());

  vek_msgs::msg::RPCRequest decoded;
  ASSERT_TRUE(msgs_test::Decode<vek_msgs::msg::RPCRequestPubSubType>(payload, decoded));
  EXPECT_EQ(decoded.procedure_id(), 5);
  EXPECT_EQ(decoded.long_string_arg().size(), 10000u);
  EXPECT_EQ(std::string(decoded.long_string_arg().c_str()), std::string(10000, 'q'));
  EXPECT_EQ(decoded.tool_params(), vek_msgs::msg::ToolParams());
}

TEST(TypeSupport, StringCountOfZeroReadsAsEmpty) {
  // Writers always send the NUL (count 1); a count of 0 is read as "".
  const msgs_test::Bytes payload = {0x00, 0x01, 0x00, 0x00,  // header
                                    0x01, 0x00, 0x00, 0x00,  // 0: level 1, padding
                                    0x02, 0x00, 0x00, 0x00,  // 4: id 2
                                    0x00, 0x00, 0x00, 0x00,  // 8: description, count 0
                                    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 12: ""
                                    0x02, 0x00, 0x00, 0x00, 'x', 0x00, 0x00, 0x00,   // 20: "x"
                                    0x01, 0x00, 0x00, 0x00, 0x00};                   // 28: ""
  quiral_lumo_msgs::msg::EventLog entry;
  entry.description("old");
  ASSERT_TRUE(msgs_test::Decode<quiral_lumo_msgs::msg::EventLogPubSubType>(payload, entry));
  EXPECT_EQ(entry.level(), 1);
  EXPECT_EQ(entry.id(), 2);
  EXPECT_EQ(entry.description(), "");
  EXPECT_EQ(entry.probable_causes(), "x");
}

}  // namespace
