// Refused node and endpoint arguments, the publish mode of writers, and
// the entities that endpoints leave behind.
#include <gmock/gmock.h>

#include "middleware/default_node.h"
#include "middleware/realtime_udp_node.h"
#include "tests/middleware/middleware_test_util.h"

namespace {

namespace dds = eprosima::fastdds::dds;
namespace mw = quiral::middleware2;
using Publisher = mw::FastDDSPublisher<vek_msgs::msg::RPCReplyPubSubType>;
using Subscriber = mw::FastDDSSubscriber<vek_msgs::msg::RPCReplyPubSubType>;
using quiral_test::ErrorText;
using quiral_test::kLoopbackOnly;
using quiral_test::TestDomain;
using quiral_test::UniqueTopic;
using vek_msgs::msg::RPCReply;

// The library would end the process for a domain whose ports overflow, and
// takes IPv4 addresses only in the whitelist: both are refused up front.
TEST(NodeQos, BadDomainsAndWhitelistEntriesFailCleanly) {
  EXPECT_EQ(ErrorText<std::runtime_error>([] { mw::DefaultNode n("bad", 0, 233, kLoopbackOnly); }),
            "Failed to create DDS participant");
  EXPECT_EQ(ErrorText<std::runtime_error>(
                [] { mw::RealtimeUdpNode n("bad", 4294967295u, kLoopbackOnly); }),
            "Failed to create DDS participant");
  EXPECT_EQ(mw::DefaultNode("top", 0, 232, kLoopbackOnly).participant->get_domain_id(), 232u);
  for (const std::string entry : {"lo", "::1", "127.0.0", ""}) {
    EXPECT_EQ(
        ErrorText<std::invalid_argument>(
            [&] { mw::DefaultNode n("bad", 0, TestDomain(), {entry}); }),
        "[quiral::middleware2::DefaultNode] Interface whitelist entry is not an IPv4 address: \"" +
            entry + "\"");
  }
  EXPECT_THAT(
      ErrorText<std::invalid_argument>([&] { mw::RealtimeUdpNode n("bad", TestDomain(), {"lo"}); }),
      ::testing::StartsWith("[quiral::middleware2::RealtimeUdpNode]"));
}

class EndpointQos : public ::testing::Test {
 protected:
  mw::DefaultNode node_{"qos", 0, TestDomain(), kLoopbackOnly};
  RPCReply buffer_;
};

// Reliable writers publish on the caller's thread (an asynchronous one can
// deadlock when its reader goes away); a real-time writer only when asked.
// Destroyed endpoints leave no entity behind.
TEST_F(EndpointQos, WritersPublishSynchronouslyAndLeaveNothingBehind) {
  quiral_test::EntityCensus census;
  const auto mode = [](const Publisher& writer) {
    return writer.writer()->get_qos().publish_mode().kind;
  };
  {
    Publisher writer(node_.participant, UniqueTopic("reliable"));
    writer.InitializeDefaultProfile(10);
    EXPECT_EQ(mode(writer), dds::SYNCHRONOUS_PUBLISH_MODE);
    Subscriber reader(node_.participant, UniqueTopic("reliable"), [] {}, &buffer_, 1);
    reader.InitializeDefaultProfile(10);
    census.Add(writer);
    census.Add(reader);
  }
  for (bool sync : {true, false}) {
    Publisher writer(node_.participant, UniqueTopic("realtime"));
    writer.InitializeRealtimeSocketProfile(sync);
    EXPECT_EQ(mode(writer), sync ? dds::SYNCHRONOUS_PUBLISH_MODE : dds::ASYNCHRONOUS_PUBLISH_MODE);
    census.Add(writer);
  }
  EXPECT_EQ(census.recorded(), 12u);
  EXPECT_EQ(census.RemainingIn(node_.participant), 0u);
}

TEST_F(EndpointQos, MisuseIsRefusedBeforeAnyEntityExists) {
  // Bad subscriber arguments are refused before the type is registered.
  dds::DomainParticipant* participant = node_.participant;
  EXPECT_EQ(ErrorText<std::invalid_argument>([&] {
              Subscriber s(
                  participant, "t", [] {}, nullptr, 0);
            }),
            "Input param <message> is nullptr");
  EXPECT_EQ(ErrorText<std::out_of_range>([&] {
              Subscriber s(
                  participant, "t", [] {}, &buffer_, 0);
            }),
            "Input param <filtering_factor> must be positive");
  EXPECT_TRUE(participant->find_type("vek_msgs::msg::dds_::RPCReply_").empty());
  // Ten times the depth must fit in 32 bits.
  Publisher deep_writer(participant, UniqueTopic("deep"));
  EXPECT_THROW(deep_writer.InitializeDefaultProfile(214748365), std::invalid_argument);
  EXPECT_EQ(deep_writer.publisher(), nullptr);
  // No write before a profile.
  Publisher writer(participant, UniqueTopic("once"));
  EXPECT_FALSE(writer.Publish(RPCReply()));
}

}  // namespace
