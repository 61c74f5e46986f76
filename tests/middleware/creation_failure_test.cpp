// Real DDS entity-creation failures and their texts; the failed endpoints
// leave nothing behind in the participant. One case loads an XML profile
// into the library's process-wide profile manager, so this test has an
// executable of its own.
#include <cstring>
#include <fastdds/dds/domain/DomainParticipantFactory.hpp>

#include "middleware/default_node.h"
#include "tests/middleware/middleware_test_util.h"

namespace {

namespace dds = eprosima::fastdds::dds;
namespace mw = quiral::middleware2;
using quiral_test::ErrorText;
using quiral_test::UniqueTopic;
using Writer = mw::FastDDSPublisher<vek_msgs::msg::RPCRequestPubSubType>;
using Reader = mw::FastDDSSubscriber<vek_msgs::msg::RPCRequestPubSubType>;
using Failure = std::runtime_error;

// A fixed-size type that claims the request's DDS name; it never carries a
// sample.
class ImpostorPubSubType : public dds::TopicDataType {
 public:
  using type = uint64_t;
  ImpostorPubSubType() {
    setName("vek_msgs::msg::dds_::RPCRequest_");
    m_typeSize = 12;
  }
  bool serialize(void*, eprosima::fastrtps::rtps::SerializedPayload_t*) override { return false; }
  bool deserialize(eprosima::fastrtps::rtps::SerializedPayload_t*, void*) override { return false; }
  std::function<uint32_t()> getSerializedSizeProvider(void*) override {
    return [] { return 12u; };
  }
  void* createData() override { return new uint64_t(0); }
  void deleteData(void* data) override { delete static_cast<uint64_t*>(data); }
  bool getKey(void*, eprosima::fastrtps::rtps::InstanceHandle_t*, bool) override { return false; }
};

class CreationFailure : public ::testing::Test {
 protected:
  std::shared_ptr<Writer> MakeWriter(const std::string& topic) {
    return std::make_shared<Writer>(node_->participant, topic);
  }
  std::shared_ptr<Reader> MakeReader(const std::string& topic) {
    return std::make_shared<Reader>(node_->participant, topic, nullptr, &buffer_, 1);
  }
  quiral_test::EntityCensus census_;
  std::unique_ptr<mw::DefaultNode> node_ = std::make_unique<mw::DefaultNode>(
      "failures", 0, quiral_test::TestDomain(), quiral_test::kLoopbackOnly);
  vek_msgs::msg::RPCRequest buffer_;
};

// A different type registered under the request's DDS name: the topic is
// refused rather than carrying samples through the other type's code.
TEST_F(CreationFailure, Topics) {
  {
    mw::FastDDSPublisher<ImpostorPubSubType> other(node_->participant, UniqueTopic("x"));
    other.InitializeDefaultProfile(10);
    auto writer = MakeWriter(UniqueTopic("probe"));
    EXPECT_EQ(ErrorText<Failure>([&] { writer->InitializeDefaultProfile(10); }),
              "Failed to create DDS publisher topic");
    auto reader = MakeReader(UniqueTopic("probe"));
    EXPECT_EQ(ErrorText<Failure>([&] { reader->InitializeRealtimeSocketProfile(); }),
              "Failed to create DDS subscriber topic");
    EXPECT_NE(reader->subscriber(), nullptr);
    census_.Add(*writer);
    census_.Add(*reader);
  }
  EXPECT_EQ(census_.recorded(), 2u);
  EXPECT_EQ(census_.RemainingIn(node_->participant), 0u);
}

TEST_F(CreationFailure, DataWriterAndDataReader) {
  // Every data writer and data reader created from now on in this process
  // asks for the same entity id, so the second of each kind in a
  // participant cannot be created.
  static const char kXml[] = R"(<?xml version="1.0" encoding="UTF-8" ?>
<profiles xmlns="http://www.eprosima.com/XMLSchemas/fastRTPS_Profiles">
  <publisher profile_name="fixed_writer_id" is_default_profile="true"><entityID>7</entityID></publisher>
  <subscriber profile_name="fixed_reader_id" is_default_profile="true"><entityID>7</entityID></subscriber>
</profiles>)";
  ASSERT_EQ(dds::DomainParticipantFactory::get_instance()->load_XML_profiles_string(
                kXml, std::strlen(kXml)),
            eprosima::fastrtps::types::ReturnCode_t::RETCODE_OK);
  {
    auto first_writer = MakeWriter(UniqueTopic("w1"));
    first_writer->InitializeDefaultProfile(10);
    auto writer = MakeWriter(UniqueTopic("w2"));
    EXPECT_EQ(ErrorText<Failure>([&] { writer->InitializeRealtimeSocketProfile(true); }),
              "Failed to create DDS data writer");
    EXPECT_NE(writer->topic(), nullptr);
    EXPECT_FALSE(writer->Publish(buffer_));
    auto first_reader = MakeReader(UniqueTopic("r1"));
    first_reader->InitializeDefaultProfile(10);
    auto reader = MakeReader(UniqueTopic("r2"));
    EXPECT_EQ(ErrorText<Failure>([&] { reader->InitializeDefaultProfile(10); }),
              "Failed to create DDS reader");
    census_.Add(*writer);
    census_.Add(*reader);
    EXPECT_EQ(census_.recorded(), 4u);
  }
  EXPECT_EQ(census_.RemainingIn(node_->participant), 0u);

  // The request/reply client lets its endpoints' errors through; a new
  // client on the same topic works once the obstacles are gone, so the
  // failed ones left neither topic nor endpoint behind.
  const std::string topic = UniqueTopic("rpc");
  auto reader = MakeReader(UniqueTopic("occupy"));
  reader->InitializeDefaultProfile(10);
  EXPECT_EQ(ErrorText<Failure>([&] { quiral_test::RpcClient client(node_->participant, topic); }),
            "Failed to create DDS reader");
  auto writer = MakeWriter(UniqueTopic("occupy"));
  writer->InitializeDefaultProfile(10);
  EXPECT_EQ(ErrorText<Failure>([&] { quiral_test::RpcClient client(node_->participant, topic); }),
            "Failed to create DDS data writer");
  reader.reset();
  writer.reset();
  EXPECT_EQ(ErrorText<Failure>([&] { quiral_test::RpcClient client(node_->participant, topic); }),
            "(no error)");
}

}  // namespace
