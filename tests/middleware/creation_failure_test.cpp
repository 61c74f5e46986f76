// Real DDS entity-creation failures and their texts. Some cases load an XML
// profile into the library's process-wide profile manager, so this test has
// an executable of its own.
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/domain/DomainParticipantFactory.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <gtest/gtest.h>

#include "middleware/default_node.h"
#include "middleware/fast_dds_publisher.h"
#include "middleware/fast_dds_rpc_client.h"
#include "middleware/fast_dds_subscriber.h"
#include "tests/middleware/support/entity_census.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "tests/middleware/support/test_domain.h"

namespace {

namespace dds = eprosima::fastdds::dds;
namespace mw = quiral::middleware2;
using quiral_test::UniqueTopic;
using RequestType = vek_msgs::msg::RPCRequestPubSubType;

// A fixed-size type that claims the request's DDS name; it never carries a
// sample.
class ImpostorPubSubType : public dds::TopicDataType {
 public:
  using type = uint64_t;

  ImpostorPubSubType() {
    setName("vek_msgs::msg::dds_::RPCRequest_");
    m_typeSize = 12;
    m_isGetKeyDefined = false;
  }
  bool serialize(void*, eprosima::fastrtps::rtps::SerializedPayload_t*) override { return false; }
  bool deserialize(eprosima::fastrtps::rtps::SerializedPayload_t*, void*) override {
    return false;
  }
  std::function<uint32_t()> getSerializedSizeProvider(void*) override {
    return [] { return 12u; };
  }
  void* createData() override { return new uint64_t(0); }
  void deleteData(void* data) override { delete static_cast<uint64_t*>(data); }
  bool getKey(void*, eprosima::fastrtps::rtps::InstanceHandle_t*, bool) override { return false; }
};

template <class Action>
std::string RuntimeErrorOf(const Action& action) {
  try {
    action();
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(no error)";
}

// Makes every data writer and data reader created afterwards in this
// process ask for the same fixed entity id, so the second of each kind in a
// participant cannot be created.
void ForceFixedEntityIds() {
  static const char kXml[] = R"(<?xml version="1.0" encoding="UTF-8" ?>
<profiles xmlns="http://www.eprosima.com/XMLSchemas/fastRTPS_Profiles">
  <publisher profile_name="fixed_writer_id" is_default_profile="true">
    <entityID>7</entityID>
  </publisher>
  <subscriber profile_name="fixed_reader_id" is_default_profile="true">
    <entityID>7</entityID>
  </subscriber>
</profiles>)";
  ASSERT_EQ(dds::DomainParticipantFactory::get_instance()->load_XML_profiles_string(
                kXml, std::strlen(kXml)),
            eprosima::fastrtps::types::ReturnCode_t::RETCODE_OK);
}

class CreationFailure : public ::testing::Test {
 protected:
  quiral_test::EntityCensus census_;
  mw::DefaultNode node_{"failures", 0, quiral_test::TestDomain(), quiral_test::kLoopbackOnly};
  vek_msgs::msg::RPCRequest buffer_;
};

TEST_F(CreationFailure, TopicNameTakenInTheParticipant) {
  const std::string topic = UniqueTopic("taken");
  {
    auto first = std::make_shared<mw::FastDDSPublisher<RequestType>>(node_.participant, topic);
    first->InitializeDefaultProfile(10);
    auto second = std::make_shared<mw::FastDDSPublisher<RequestType>>(node_.participant, topic);
    EXPECT_EQ(RuntimeErrorOf([&] { second->InitializeDefaultProfile(10); }),
              "Failed to create DDS publisher topic");
    EXPECT_NE(second->publisher(), nullptr);
    EXPECT_EQ(second->topic(), nullptr);
    census_.Add(*second);
    auto subscriber = std::make_shared<mw::FastDDSSubscriber<RequestType>>(
        node_.participant, topic, nullptr, &buffer_, 1);
    EXPECT_EQ(RuntimeErrorOf([&] { subscriber->InitializeRealtimeSocketProfile(); }),
              "Failed to create DDS subscriber topic");
    EXPECT_NE(subscriber->subscriber(), nullptr);
    EXPECT_EQ(subscriber->reader(), nullptr);
    census_.Add(*subscriber);
  }
  // The failed endpoints deleted what they had created.
  EXPECT_EQ(census_.RemainingIn(node_.participant), 0u);
}

// A different type already registered under the same DDS name: the topic
// is refused instead of carrying samples through the other type's code.
TEST_F(CreationFailure, TypeNameClash) {
  {
    auto other = std::make_shared<mw::FastDDSPublisher<ImpostorPubSubType>>(
        node_.participant, UniqueTopic("other"));
    other->InitializeDefaultProfile(10);
    auto publisher = std::make_shared<mw::FastDDSPublisher<RequestType>>(
        node_.participant, UniqueTopic("probe"));
    EXPECT_EQ(RuntimeErrorOf([&] { publisher->InitializeDefaultProfile(10); }),
              "Failed to create DDS publisher topic");
    census_.Add(*publisher);
    auto subscriber = std::make_shared<mw::FastDDSSubscriber<RequestType>>(
        node_.participant, UniqueTopic("probe"), nullptr, &buffer_, 1);
    EXPECT_EQ(RuntimeErrorOf([&] { subscriber->InitializeDefaultProfile(10); }),
              "Failed to create DDS subscriber topic");
    census_.Add(*subscriber);
    EXPECT_EQ(census_.recorded(), 2u);
  }
  EXPECT_EQ(census_.RemainingIn(node_.participant), 0u);
}

TEST_F(CreationFailure, DataWriterAndDataReader) {
  ForceFixedEntityIds();
  {
    auto first = std::make_shared<mw::FastDDSPublisher<RequestType>>(node_.participant,
                                                                          UniqueTopic("w1"));
    first->InitializeDefaultProfile(10);
    auto second = std::make_shared<mw::FastDDSPublisher<RequestType>>(node_.participant,
                                                                           UniqueTopic("w2"));
    EXPECT_EQ(RuntimeErrorOf([&] { second->InitializeRealtimeSocketProfile(true); }),
              "Failed to create DDS data writer");
    EXPECT_NE(second->topic(), nullptr);
    EXPECT_EQ(second->writer(), nullptr);
    EXPECT_FALSE(second->Publish(buffer_));
    census_.Add(*second);

    auto reader1 = std::make_shared<mw::FastDDSSubscriber<RequestType>>(
        node_.participant, UniqueTopic("r1"), nullptr, &buffer_, 1);
    reader1->InitializeDefaultProfile(10);
    auto reader2 = std::make_shared<mw::FastDDSSubscriber<RequestType>>(
        node_.participant, UniqueTopic("r2"), nullptr, &buffer_, 1);
    EXPECT_EQ(RuntimeErrorOf([&] { reader2->InitializeDefaultProfile(10); }),
              "Failed to create DDS reader");
    EXPECT_NE(reader2->topic(), nullptr);
    census_.Add(*reader2);
    EXPECT_EQ(census_.recorded(), 4u);
  }
  EXPECT_EQ(census_.RemainingIn(node_.participant), 0u);
}

// The request/reply client lets its endpoints' errors through and leaves
// nothing behind.
TEST_F(CreationFailure, RpcClientPassesEndpointErrorsOn) {
  ForceFixedEntityIds();
  using Client = mw::FastDDSRpcClient<RequestType, vek_msgs::msg::RPCReplyPubSubType>;
  const std::string topic = UniqueTopic("rpc");
  auto reader = std::make_shared<mw::FastDDSSubscriber<RequestType>>(
      node_.participant, UniqueTopic("occupy"), nullptr, &buffer_, 1);
  reader->InitializeDefaultProfile(10);
  EXPECT_EQ(RuntimeErrorOf([&] { Client client(node_.participant, topic); }),
            "Failed to create DDS reader");
  auto writer = std::make_shared<mw::FastDDSPublisher<RequestType>>(node_.participant,
                                                                        UniqueTopic("occupy"));
  writer->InitializeDefaultProfile(10);
  EXPECT_EQ(RuntimeErrorOf([&] { Client client(node_.participant, topic); }),
            "Failed to create DDS data writer");
  // A new client on the same topic works once the obstacles are gone, so
  // the failed ones left neither topic nor endpoint behind.
  reader.reset();
  writer.reset();
  EXPECT_EQ(RuntimeErrorOf([&] { Client client(node_.participant, topic); }), "(no error)");
}

}  // namespace
