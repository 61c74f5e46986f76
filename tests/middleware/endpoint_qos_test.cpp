#include <memory>
#include <stdexcept>
#include <string>

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/publisher/Publisher.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/topic/Topic.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "middleware/default_node.h"
#include "middleware/fast_dds_publisher.h"
#include "middleware/fast_dds_subscriber.h"
#include "middleware/realtime_udp_node.h"
#include "msgs/std_msgs/bool.h"
#include "tests/middleware/support/entity_census.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "tests/middleware/support/test_domain.h"

namespace {

namespace dds = eprosima::fastdds::dds;
namespace mw = quiral::middleware2;
using Publisher = mw::FastDDSPublisher<vek_msgs::msg::RPCReplyPubSubType>;
using Subscriber = mw::FastDDSSubscriber<vek_msgs::msg::RPCReplyPubSubType>;
using quiral_test::UniqueTopic;
using vek_msgs::msg::RPCReply;
using ::testing::HasSubstr;

struct Limits {
  int32_t depth;
  int32_t max_samples;
  int32_t per_instance;
  int32_t allocated;
};

template <class Qos>
void ExpectCommon(const Qos& qos, const Limits& limits) {
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

template <class Qos>
void ExpectDefaultProfile(const Qos& qos, const Limits& limits) {
  ExpectCommon(qos, limits);
  EXPECT_EQ(qos.reliability().kind, dds::RELIABLE_RELIABILITY_QOS);
  // The blocking time keeps the library's value for this kind of endpoint.
  EXPECT_EQ(qos.reliability().max_blocking_time, Qos().reliability().max_blocking_time);
}

template <class Qos>
void ExpectRealtimeProfile(const Qos& qos) {
  ExpectCommon(qos, Limits{1, 10, 1, 1});
  EXPECT_EQ(qos.reliability().kind, dds::BEST_EFFORT_RELIABILITY_QOS);
  EXPECT_EQ(qos.reliability().max_blocking_time, eprosima::fastrtps::Duration_t(0, 50000));
}

class EndpointQos : public ::testing::Test {
 protected:
  mw::DefaultNode node_{"qos_default", 0, quiral_test::TestDomain(), quiral_test::kLoopbackOnly};
  mw::RealtimeUdpNode rt_node_{"qos_rt", quiral_test::TestDomain(), quiral_test::kLoopbackOnly};
  RPCReply buffer_;
};

TEST_F(EndpointQos, PublisherDefaultProfile) {
  const std::string topic = UniqueTopic("requests");
  auto publisher = std::make_shared<Publisher>(node_.participant, topic);
  EXPECT_EQ(publisher->topic_name(), "rt/" + topic);
  EXPECT_EQ(publisher->writer(), nullptr);
  publisher->InitializeDefaultProfile(10);
  ASSERT_NE(publisher->writer(), nullptr);
  EXPECT_EQ(publisher->topic()->get_name(), "rt/" + topic);
  EXPECT_EQ(publisher->topic()->get_type_name(), "vek_msgs::msg::dds_::RPCReply_");
  const dds::DataWriterQos qos = publisher->writer()->get_qos();
  ExpectDefaultProfile(qos, Limits{10, 100, 10, 10});
  // Reliable writers publish on the caller's thread (see qos_profiles.cpp).
  EXPECT_EQ(qos.publish_mode().kind, dds::SYNCHRONOUS_PUBLISH_MODE);
}

TEST_F(EndpointQos, DepthBelowOneCountsAsOne) {
  for (int32_t depth : {0, -5}) {
    auto publisher = std::make_shared<Publisher>(node_.participant, UniqueTopic("shallow_pub"));
    publisher->InitializeDefaultProfile(depth);
    ExpectDefaultProfile(publisher->writer()->get_qos(), Limits{1, 10, 1, 1});
    auto subscriber = std::make_shared<Subscriber>(node_.participant, UniqueTopic("shallow_sub"),
                                                   nullptr, &buffer_, 1);
    subscriber->InitializeDefaultProfile(depth);
    ExpectDefaultProfile(subscriber->reader()->get_qos(), Limits{1, 10, 1, 1});
  }
}

TEST_F(EndpointQos, DepthWhoseSampleLimitOverflowsIsRefusedBeforeAnyEntity) {
  auto publisher = std::make_shared<Publisher>(node_.participant, UniqueTopic("deep"));
  EXPECT_THROW(publisher->InitializeDefaultProfile(214748365), std::invalid_argument);
  EXPECT_EQ(publisher->publisher(), nullptr);
  auto subscriber =
      std::make_shared<Subscriber>(node_.participant, UniqueTopic("deep"), nullptr, &buffer_, 1);
  EXPECT_THROW(subscriber->InitializeDefaultProfile(INT32_MAX), std::invalid_argument);
  EXPECT_EQ(subscriber->subscriber(), nullptr);
}

TEST_F(EndpointQos, PublisherRealtimeProfileSyncAndAsync) {
  auto sync = std::make_shared<Publisher>(rt_node_.participant, UniqueTopic("commands"));
  sync->InitializeRealtimeSocketProfile(true);
  ExpectRealtimeProfile(sync->writer()->get_qos());
  EXPECT_EQ(sync->writer()->get_qos().publish_mode().kind, dds::SYNCHRONOUS_PUBLISH_MODE);

  auto async = std::make_shared<Publisher>(rt_node_.participant, UniqueTopic("heartbeat"));
  async->InitializeRealtimeSocketProfile(false);
  ExpectRealtimeProfile(async->writer()->get_qos());
  EXPECT_EQ(async->writer()->get_qos().publish_mode().kind, dds::ASYNCHRONOUS_PUBLISH_MODE);
}

TEST_F(EndpointQos, SubscriberProfiles) {
  const std::string topic = UniqueTopic("replies");
  auto reliable =
      std::make_shared<Subscriber>(node_.participant, topic, [] {}, &buffer_, 1);
  EXPECT_EQ(reliable->topic_name(), "rt/" + topic);
  EXPECT_EQ(reliable->reader(), nullptr);
  reliable->InitializeDefaultProfile(10);
  ASSERT_NE(reliable->reader(), nullptr);
  EXPECT_EQ(reliable->reader()->get_listener(), &reliable->listener());
  ExpectDefaultProfile(reliable->reader()->get_qos(), Limits{10, 100, 10, 10});

  auto realtime = std::make_shared<Subscriber>(rt_node_.participant, UniqueTopic("states"),
                                               [] {}, &buffer_, 1);
  realtime->InitializeRealtimeSocketProfile();
  ExpectRealtimeProfile(realtime->reader()->get_qos());
}

// The heartbeat's real message type on the real-time node.
TEST_F(EndpointQos, HeartbeatTypeOnTheRealtimeNode) {
  const std::string topic = UniqueTopic("quiral_vek/heartbeat/");
  auto heartbeat =
      std::make_shared<mw::FastDDSPublisher<std_msgs::msg::BoolPubSubType>>(rt_node_.participant,
                                                                             topic);
  heartbeat->InitializeRealtimeSocketProfile(false);
  EXPECT_EQ(heartbeat->topic()->get_type_name(), "std_msgs::msg::dds_::Bool_");
  ExpectRealtimeProfile(heartbeat->writer()->get_qos());
  std_msgs::msg::Bool beat;
  beat.data(true);
  EXPECT_TRUE(heartbeat->Publish(beat));
}

TEST_F(EndpointQos, SubscriberArgumentChecksComeBeforeRegistration) {
  const dds::TypeSupport before = node_.participant->find_type("vek_msgs::msg::dds_::RPCReply_");
  ASSERT_TRUE(before.empty());
  try {
    Subscriber subscriber(node_.participant, "t", [] {}, nullptr, 0);
    ADD_FAILURE() << "null buffer accepted";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "Input param <message> is nullptr");
  }
  try {
    Subscriber subscriber(node_.participant, "t", [] {}, &buffer_, 0);
    ADD_FAILURE() << "factor 0 accepted";
  } catch (const std::out_of_range& error) {
    EXPECT_STREQ(error.what(), "Input param <filtering_factor> must be positive");
  }
  EXPECT_TRUE(node_.participant->find_type("vek_msgs::msg::dds_::RPCReply_").empty());
  Subscriber subscriber(node_.participant, "t", [] {}, &buffer_, 1);
  EXPECT_FALSE(node_.participant->find_type("vek_msgs::msg::dds_::RPCReply_").empty());
}

TEST_F(EndpointQos, OneProfilePerEndpointAndNoWriteBeforeIt) {
  auto publisher = std::make_shared<Publisher>(node_.participant, UniqueTopic("once"));
  EXPECT_FALSE(publisher->Publish(RPCReply()));
  publisher->InitializeDefaultProfile(10);
  EXPECT_TRUE(publisher->Publish(RPCReply()));
  EXPECT_THROW(publisher->InitializeRealtimeSocketProfile(true), std::logic_error);
  auto subscriber =
      std::make_shared<Subscriber>(node_.participant, UniqueTopic("once"), nullptr, &buffer_, 1);
  subscriber->InitializeRealtimeSocketProfile();
  EXPECT_THROW(subscriber->InitializeDefaultProfile(10), std::logic_error);
}

TEST_F(EndpointQos, DestroyingEndpointsLeavesTheParticipantEmpty) {
  quiral_test::EntityCensus census;
  {
    auto publisher = std::make_shared<Publisher>(node_.participant, UniqueTopic("a"));
    publisher->InitializeDefaultProfile(10);
    auto subscriber =
        std::make_shared<Subscriber>(node_.participant, UniqueTopic("b"), nullptr, &buffer_, 1);
    subscriber->InitializeDefaultProfile(10);
    census.Add(*publisher);
    census.Add(*subscriber);
    ASSERT_EQ(census.recorded(), 6u);
    EXPECT_EQ(census.RemainingIn(node_.participant), 6u);
  }
  EXPECT_EQ(census.RemainingIn(node_.participant), 0u);
  // An endpoint whose profile was never applied has nothing to delete.
  { Publisher unused(node_.participant, UniqueTopic("c")); }
}

}  // namespace
