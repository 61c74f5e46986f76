#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/shared_mem/SharedMemTransportDescriptor.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "middleware/default_node.h"
#include "middleware/realtime_udp_node.h"
#include "tests/middleware/support/test_domain.h"

namespace {

namespace dds = eprosima::fastdds::dds;
namespace rtps = eprosima::fastdds::rtps;
using quiral::middleware2::DefaultNode;
using quiral::middleware2::RealtimeUdpNode;
using quiral_test::kLoopbackOnly;
using quiral_test::TestDomain;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

void ExpectDiscoverySettings(const dds::DomainParticipantQos& qos) {
  const auto& discovery = qos.wire_protocol().builtin.discovery_config;
  EXPECT_EQ(discovery.discoveryProtocol, eprosima::fastrtps::rtps::DiscoveryProtocol_t::SIMPLE);
  EXPECT_TRUE(discovery.use_SIMPLE_EndpointDiscoveryProtocol);
  EXPECT_FALSE(discovery.use_STATIC_EndpointDiscoveryProtocol);
  EXPECT_TRUE(discovery.m_simpleEDP.use_PublicationWriterANDSubscriptionReader);
  EXPECT_TRUE(discovery.m_simpleEDP.use_PublicationReaderANDSubscriptionWriter);
  EXPECT_EQ(discovery.initial_announcements.count, 100u);
  // The period between announcements keeps the library's 100 ms.
  EXPECT_EQ(discovery.initial_announcements.period, eprosima::fastrtps::Duration_t(0, 100000000));
  EXPECT_FALSE(qos.transport().use_builtin_transports);
}

template <class Descriptor>
std::shared_ptr<Descriptor> TransportAt(const dds::DomainParticipantQos& qos, size_t index) {
  return std::dynamic_pointer_cast<Descriptor>(qos.transport().user_transports.at(index));
}

TEST(DefaultNode, WithoutSharedMemoryHasOnlyWhitelistedUdp) {
  const auto start = std::chrono::steady_clock::now();
  DefaultNode node("quiral_vek_default_node", 0, TestDomain(), kLoopbackOnly);
  // The constructor pauses after creating the participant.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  ASSERT_NE(node.participant, nullptr);
  EXPECT_EQ(node.participant->get_domain_id(), TestDomain());

  const dds::DomainParticipantQos qos = node.participant->get_qos();
  EXPECT_EQ(qos.name().to_string(), "quiral_vek_default_node");
  ExpectDiscoverySettings(qos);
  ASSERT_EQ(qos.transport().user_transports.size(), 1u);
  const auto udp = TransportAt<rtps::UDPv4TransportDescriptor>(qos, 0);
  ASSERT_NE(udp, nullptr);
  EXPECT_THAT(udp->interfaceWhiteList, ElementsAre("127.0.0.1"));
  EXPECT_FALSE(udp->non_blocking_send);
}

TEST(DefaultNode, SharedMemoryComesFirstWithItsSegmentSize) {
  DefaultNode node("shm_node", 1 << 20, TestDomain(), kLoopbackOnly);
  const dds::DomainParticipantQos qos = node.participant->get_qos();
  ASSERT_EQ(qos.transport().user_transports.size(), 2u);
  const auto shm = TransportAt<rtps::SharedMemTransportDescriptor>(qos, 0);
  ASSERT_NE(shm, nullptr);
  EXPECT_EQ(shm->segment_size(), 1u << 20);
  const auto udp = TransportAt<rtps::UDPv4TransportDescriptor>(qos, 1);
  ASSERT_NE(udp, nullptr);
  EXPECT_THAT(udp->interfaceWhiteList, ElementsAre("127.0.0.1"));
}

TEST(DefaultNode, WhitelistKeepsEntriesInOrderAndMayBeEmpty) {
  {
    DefaultNode node("three", 0, TestDomain(), {"127.0.0.1", "127.0.0.2", "10.0.0.7"});
    const auto udp =
        TransportAt<rtps::UDPv4TransportDescriptor>(node.participant->get_qos(), 0);
    EXPECT_THAT(udp->interfaceWhiteList, ElementsAre("127.0.0.1", "127.0.0.2", "10.0.0.7"));
  }
  DefaultNode node("none", 0, TestDomain(), {});
  const auto udp = TransportAt<rtps::UDPv4TransportDescriptor>(node.participant->get_qos(), 0);
  EXPECT_TRUE(udp->interfaceWhiteList.empty());
}

TEST(DefaultNode, NameIsCutTo255Characters) {
  const std::string long_name(300, 'n');
  DefaultNode cut(long_name, 0, TestDomain(), kLoopbackOnly);
  EXPECT_EQ(cut.participant->get_qos().name().to_string(), long_name.substr(0, 255));
  const std::string exact(255, 'e');
  DefaultNode whole(exact, 0, TestDomain(), kLoopbackOnly);
  EXPECT_EQ(whole.participant->get_qos().name().to_string(), exact);
}

TEST(RealtimeUdpNode, HasOnlyNonBlockingWhitelistedUdp) {
  RealtimeUdpNode node("quiral_vek_rt_udp_node", TestDomain(), kLoopbackOnly);
  const dds::DomainParticipantQos qos = node.participant->get_qos();
  EXPECT_EQ(qos.name().to_string(), "quiral_vek_rt_udp_node");
  ExpectDiscoverySettings(qos);
  ASSERT_EQ(qos.transport().user_transports.size(), 1u);
  const auto udp = TransportAt<rtps::UDPv4TransportDescriptor>(qos, 0);
  ASSERT_NE(udp, nullptr);
  EXPECT_TRUE(udp->non_blocking_send);
  EXPECT_THAT(udp->interfaceWhiteList, ElementsAre("127.0.0.1"));
}

// The library would end the process for a domain whose ports overflow; the
// node refuses such a domain with its usual error instead.
TEST(Nodes, DomainIdOutOfRangeFailsCleanly) {
  for (uint32_t domain : {233u, 1000u, 4294967295u}) {
    try {
      DefaultNode node("bad_domain", 0, domain, kLoopbackOnly);
      ADD_FAILURE() << "no error for domain " << domain;
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "Failed to create DDS participant");
    }
    try {
      RealtimeUdpNode node("bad_domain", domain, kLoopbackOnly);
      ADD_FAILURE() << "no error for domain " << domain;
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "Failed to create DDS participant");
    }
  }
  // The highest domain whose ports fit still works.
  DefaultNode highest("highest_domain", 0, 232, kLoopbackOnly);
  EXPECT_EQ(highest.participant->get_domain_id(), 232u);
}

TEST(Nodes, WhitelistEntriesMustBeIpv4Addresses) {
  for (const std::string entry : {"lo", "eth0", "::1", "127.0.0", ""}) {
    try {
      DefaultNode node("bad_whitelist", 0, TestDomain(), {"127.0.0.1", entry});
      ADD_FAILURE() << "accepted \"" << entry << "\"";
    } catch (const std::invalid_argument& error) {
      EXPECT_THAT(error.what(), HasSubstr("[quiral::middleware2::DefaultNode]"));
      EXPECT_THAT(error.what(), HasSubstr("\"" + entry + "\""));
    }
    try {
      RealtimeUdpNode node("bad_whitelist", TestDomain(), {entry});
      ADD_FAILURE() << "accepted \"" << entry << "\"";
    } catch (const std::invalid_argument& error) {
      EXPECT_THAT(error.what(), HasSubstr("[quiral::middleware2::RealtimeUdpNode]"));
    }
  }
}

}  // namespace
