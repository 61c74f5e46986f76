// Participant and endpoint settings, read back from the DDS entities the
// nodes and endpoints create, and the errors of bad arguments.
#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/topic/Topic.hpp>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/shared_mem/SharedMemTransportDescriptor.h>
#include <gmock/gmock.h>

#include "middleware/default_node.h"
#include "middleware/fast_dds_publisher.h"
#include "middleware/fast_dds_subscriber.h"
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
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

template <class Descriptor>
std::shared_ptr<Descriptor> Transport(const dds::DomainParticipantQos& qos, size_t index) {
  return std::dynamic_pointer_cast<Descriptor>(qos.transport().user_transports.at(index));
}

TEST(NodeQos, NamesDiscoveryTransportsAndWhitelists) {
  const struct {
    bool realtime;
    std::string name;
    uint32_t shm_segment;
    std::vector<std::string> whitelist;
  } cases[] = {
      {false, "quiral_vek_default_node", 0, {"127.0.0.1"}},
      {true, "quiral_vek_rt_udp_node", 0, {"127.0.0.1"}},
      {false, "shm_node", 1 << 20, {"127.0.0.1"}},
      {false, "three", 0, {"127.0.0.1", "127.0.0.2", "10.0.0.7"}},
      {false, "none", 0, {}},
      {false, std::string(300, 'n'), 0, {"127.0.0.1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<mw::DefaultNode> default_node;
    std::unique_ptr<mw::RealtimeUdpNode> realtime_node;
    if (c.realtime) {
      realtime_node = std::make_unique<mw::RealtimeUdpNode>(c.name, TestDomain(), c.whitelist);
    } else {
      default_node = std::make_unique<mw::DefaultNode>(c.name, c.shm_segment, TestDomain(), c.whitelist);
    }
    // The constructor pauses after creating the participant.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    dds::DomainParticipant* participant = c.realtime ? realtime_node->participant : default_node->participant;
    EXPECT_EQ(participant->get_domain_id(), TestDomain());
    const dds::DomainParticipantQos qos = participant->get_qos();
    EXPECT_EQ(qos.name().to_string(), c.name.substr(0, 255));
    const auto& discovery = qos.wire_protocol().builtin.discovery_config;
    EXPECT_EQ(discovery.discoveryProtocol, eprosima::fastrtps::rtps::DiscoveryProtocol_t::SIMPLE);
    EXPECT_TRUE(discovery.use_SIMPLE_EndpointDiscoveryProtocol);
    EXPECT_EQ(discovery.initial_announcements.count, 100u);
    EXPECT_EQ(discovery.initial_announcements.period, eprosima::fastrtps::Duration_t(0, 100000000));
    EXPECT_FALSE(qos.transport().use_builtin_transports);
    // Shared memory, when asked for, comes first; then UDPv4 only.
    ASSERT_EQ(qos.transport().user_transports.size(), c.shm_segment == 0 ? 1u : 2u);
    if (c.shm_segment != 0) {
      ASSERT_NE(Transport<eprosima::fastdds::rtps::SharedMemTransportDescriptor>(qos, 0), nullptr);
      EXPECT_EQ(Transport<eprosima::fastdds::rtps::SharedMemTransportDescriptor>(qos, 0)->segment_size(),
                c.shm_segment);
    }
    const auto udp =
        Transport<eprosima::fastdds::rtps::UDPv4TransportDescriptor>(qos, c.shm_segment == 0 ? 0 : 1);
    ASSERT_NE(udp, nullptr);
    EXPECT_THAT(udp->interfaceWhiteList, ElementsAreArray(c.whitelist));
    EXPECT_EQ(udp->non_blocking_send, c.realtime);
  }
}

// The library would end the process for a domain whose ports overflow, and
// takes IPv4 addresses only in the whitelist: both are refused up front.
TEST(NodeQos, BadDomainsAndWhitelistEntriesFailCleanly) {
  for (uint32_t domain : {233u, 1000u, 4294967295u}) {
    EXPECT_EQ(ErrorText<std::runtime_error>([&] { mw::DefaultNode node("bad", 0, domain, kLoopbackOnly); }),
              "Failed to create DDS participant");
    EXPECT_EQ(ErrorText<std::runtime_error>([&] { mw::RealtimeUdpNode node("bad", domain, kLoopbackOnly); }),
              "Failed to create DDS participant");
  }
  mw::DefaultNode highest("highest_domain", 0, 232, kLoopbackOnly);
  EXPECT_EQ(highest.participant->get_domain_id(), 232u);

  for (const std::string entry : {"lo", "eth0", "::1", "127.0.0", ""}) {
    const std::string text = ErrorText<std::invalid_argument>(
        [&] { mw::DefaultNode node("bad", 0, TestDomain(), {"127.0.0.1", entry}); });
    EXPECT_THAT(text, HasSubstr("[quiral::middleware2::DefaultNode]"));
    EXPECT_THAT(text, HasSubstr("\"" + entry + "\""));
    EXPECT_THAT(
        ErrorText<std::invalid_argument>([&] { mw::RealtimeUdpNode node("bad", TestDomain(), {entry}); }),
        HasSubstr("[quiral::middleware2::RealtimeUdpNode]"));
  }
}

struct Limits {
  int32_t depth;
  int32_t max_samples;
  int32_t per_instance;
  int32_t allocated;
};
const Limits kDepth10{10, 100, 10, 10};
const Limits kDepth1{1, 10, 1, 1};

template <class Qos>
void ExpectProfile(const Qos& qos, bool reliable, const Limits& limits) {
  EXPECT_EQ(qos.reliability().kind,
            reliable ? dds::RELIABLE_RELIABILITY_QOS : dds::BEST_EFFORT_RELIABILITY_QOS);
  // The reliable profile keeps the library's blocking time.
  EXPECT_EQ(qos.reliability().max_blocking_time,
            reliable ? Qos().reliability().max_blocking_time : eprosima::fastrtps::Duration_t(0, 50000));
  EXPECT_EQ(qos.durability().kind, dds::VOLATILE_DURABILITY_QOS);
  EXPECT_EQ(qos.history().kind, dds::KEEP_LAST_HISTORY_QOS);
  EXPECT_EQ(qos.history().depth, limits.depth);
  EXPECT_EQ(qos.resource_limits().max_samples, limits.max_samples);
  EXPECT_EQ(qos.resource_limits().max_samples_per_instance, limits.per_instance);
  EXPECT_EQ(qos.resource_limits().allocated_samples, limits.allocated);
  EXPECT_EQ(qos.resource_limits().extra_samples, 1);
  EXPECT_EQ(qos.resource_limits().max_instances, Qos().resource_limits().max_instances);
  EXPECT_EQ(qos.endpoint().history_memory_policy,
            eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE);
  EXPECT_EQ(qos.data_sharing().kind(), dds::OFF);
  EXPECT_TRUE(qos.data_sharing().shm_directory().empty());
  EXPECT_TRUE(qos.data_sharing().domain_ids().empty());
}

class EndpointQos : public ::testing::Test {
 protected:
  mw::DefaultNode node_{"qos_default", 0, TestDomain(), kLoopbackOnly};
  mw::RealtimeUdpNode rt_node_{"qos_rt", TestDomain(), kLoopbackOnly};
  RPCReply buffer_;
};

TEST_F(EndpointQos, ProfilesOfWritersAndReaders) {
  quiral_test::EntityCensus census;
  {
    const std::string topic = UniqueTopic("replies");
    auto writer = std::make_shared<Publisher>(node_.participant, topic);
    EXPECT_EQ(writer->topic_name(), "rt/" + topic);
    EXPECT_EQ(writer->writer(), nullptr);
    writer->InitializeDefaultProfile(10);
    EXPECT_EQ(writer->topic()->get_name(), "rt/" + topic);
    EXPECT_EQ(writer->topic()->get_type_name(), "vek_msgs::msg::dds_::RPCReply_");
    ExpectProfile(writer->writer()->get_qos(), true, kDepth10);
    // Reliable writers publish on the caller's thread too.
    EXPECT_EQ(writer->writer()->get_qos().publish_mode().kind, dds::SYNCHRONOUS_PUBLISH_MODE);
    for (bool sync : {true, false}) {
      auto realtime = std::make_shared<Publisher>(rt_node_.participant, UniqueTopic("commands"));
      realtime->InitializeRealtimeSocketProfile(sync);
      ExpectProfile(realtime->writer()->get_qos(), false, kDepth1);
      EXPECT_EQ(realtime->writer()->get_qos().publish_mode().kind,
                sync ? dds::SYNCHRONOUS_PUBLISH_MODE : dds::ASYNCHRONOUS_PUBLISH_MODE);
    }

    auto reader = std::make_shared<Subscriber>(node_.participant, UniqueTopic("replies"), [] {}, &buffer_, 1);
    EXPECT_EQ(reader->reader(), nullptr);
    reader->InitializeDefaultProfile(10);
    EXPECT_EQ(reader->reader()->get_listener(), &reader->listener());
    ExpectProfile(reader->reader()->get_qos(), true, kDepth10);
    auto realtime = std::make_shared<Subscriber>(
        rt_node_.participant, UniqueTopic("states"), [] {}, &buffer_, 1);
    realtime->InitializeRealtimeSocketProfile();
    ExpectProfile(realtime->reader()->get_qos(), false, kDepth1);

    // A depth below one counts as one.
    for (int32_t depth : {0, -5}) {
      auto shallow_writer = std::make_shared<Publisher>(node_.participant, UniqueTopic("shallow"));
      shallow_writer->InitializeDefaultProfile(depth);
      ExpectProfile(shallow_writer->writer()->get_qos(), true, kDepth1);
      auto shallow_reader =
          std::make_shared<Subscriber>(node_.participant, UniqueTopic("shallow"), nullptr, &buffer_, 1);
      shallow_reader->InitializeDefaultProfile(depth);
      ExpectProfile(shallow_reader->reader()->get_qos(), true, kDepth1);
    }

    census.Add(*writer);
    census.Add(*reader);
    ASSERT_EQ(census.recorded(), 6u);
    EXPECT_EQ(census.RemainingIn(node_.participant), 6u);
    // An endpoint whose profile was never applied has nothing to delete.
    Publisher unused(node_.participant, UniqueTopic("unused"));
  }
  // Destroyed endpoints leave nothing behind.
  EXPECT_EQ(census.RemainingIn(node_.participant), 0u);
}

TEST_F(EndpointQos, MisuseIsRefusedBeforeAnyEntityExists) {
  // Bad subscriber arguments are refused before the type is registered.
  dds::DomainParticipant* participant = node_.participant;
  const char* type = "vek_msgs::msg::dds_::RPCReply_";
  EXPECT_TRUE(participant->find_type(type).empty());
  EXPECT_EQ(ErrorText<std::invalid_argument>([&] { Subscriber s(participant, "t", [] {}, nullptr, 0); }),
            "Input param <message> is nullptr");
  EXPECT_EQ(ErrorText<std::out_of_range>([&] { Subscriber s(participant, "t", [] {}, &buffer_, 0); }),
            "Input param <filtering_factor> must be positive");
  EXPECT_TRUE(participant->find_type(type).empty());

  // Ten times the depth must fit in 32 bits.
  auto deep_writer = std::make_shared<Publisher>(participant, UniqueTopic("deep"));
  EXPECT_FALSE(participant->find_type(type).empty());  // construction registers it
  EXPECT_THROW(deep_writer->InitializeDefaultProfile(214748365), std::invalid_argument);
  EXPECT_EQ(deep_writer->publisher(), nullptr);
  auto deep_reader = std::make_shared<Subscriber>(participant, UniqueTopic("deep"), nullptr, &buffer_, 1);
  EXPECT_THROW(deep_reader->InitializeDefaultProfile(INT32_MAX), std::invalid_argument);
  EXPECT_EQ(deep_reader->subscriber(), nullptr);

  // One profile per endpoint, and no write before it.
  auto writer = std::make_shared<Publisher>(participant, UniqueTopic("once"));
  EXPECT_FALSE(writer->Publish(RPCReply()));
  writer->InitializeDefaultProfile(10);
  EXPECT_TRUE(writer->Publish(RPCReply()));
  EXPECT_THROW(writer->InitializeRealtimeSocketProfile(true), std::logic_error);
  auto reader = std::make_shared<Subscriber>(participant, UniqueTopic("once"), nullptr, &buffer_, 1);
  reader->InitializeRealtimeSocketProfile();
  EXPECT_THROW(reader->InitializeDefaultProfile(10), std::logic_error);
}

}  // namespace
