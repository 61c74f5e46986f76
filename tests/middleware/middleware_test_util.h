// What the middleware tests share: the peer process (middleware_peer.cpp),
// the operations service's request/reply client, error texts and a census
// of DDS entities.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/publisher/Publisher.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/topic/Topic.hpp>
#include <memory>
#include <string>
#include <vector>

#include "middleware/fast_dds_rpc_client.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "tests/middleware/support/test_domain.h"
#include "tests/support/child_process.h"

namespace quiral_test {

using RpcClient = quiral::middleware2::FastDDSRpcClient<vek_msgs::msg::RPCRequestPubSubType,
                                                        vek_msgs::msg::RPCReplyPubSubType>;

// Starts the peer as `role` on this process's domain, `args` following the
// domain, and waits for it to be ready.
inline std::unique_ptr<ChildProcess> StartPeer(const std::string& role,
                                               std::vector<std::string> args) {
  args.insert(args.begin(), {role, std::to_string(TestDomain())});
  auto peer = std::make_unique<ChildProcess>(QUIRAL_MIDDLEWARE_PEER, args);
  EXPECT_TRUE(peer->ExpectLine("ready", std::chrono::seconds(10)));
  return peer;
}

// The text of the `Error` that `action` throws, or "(no error)". Any other
// exception passes on and fails the test.
template <class Error, class Action>
std::string ErrorText(const Action& action) {
  try {
    action();
  } catch (const Error& error) {
    return error.what();
  }
  return "(no error)";
}

// Records the DDS entities of endpoints, to tell once they are gone whether
// any is still in the participant.
class EntityCensus {
 public:
  template <class T>
  void Add(const quiral::middleware2::FastDDSPublisher<T>& endpoint) {
    Record(endpoint.publisher(), endpoint.topic(), endpoint.writer());
  }
  template <class T>
  void Add(const quiral::middleware2::FastDDSSubscriber<T>& endpoint) {
    Record(endpoint.subscriber(), endpoint.topic(), endpoint.reader());
  }
  size_t RemainingIn(eprosima::fastdds::dds::DomainParticipant* participant) const {
    size_t remaining = 0;
    for (const auto& handle : handles_) remaining += participant->contains_entity(handle) ? 1 : 0;
    return remaining;
  }
  size_t recorded() const { return handles_.size(); }

 private:
  // Each entity's own get_instance_handle: the base class's one differs.
  template <class... Entity>
  void Record(const Entity*... entities) {
    ((entities != nullptr ? handles_.push_back(entities->get_instance_handle()) : void()), ...);
  }
  std::vector<eprosima::fastrtps::rtps::InstanceHandle_t> handles_;
};

}  // namespace quiral_test
