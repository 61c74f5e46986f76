// The simulator as a separate process, seen from a peer that plays the
// client's side of the operations service through the DDS layer: what fault
// rules do on the wire and to the robot, and the record of requests. The
// rest of the protocol is covered by the client's and the API's tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>

#include "middleware/default_node.h"
#include "middleware/endpoint_match.h"
#include "middleware/fast_dds_publisher.h"
#include "middleware/fast_dds_subscriber.h"
#include "middleware/qos_profiles.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "tests/support/sim_process.h"

namespace quiral::test {
namespace {

namespace mw = quiral::middleware2;
namespace vek = vek_msgs::msg;
using namespace std::chrono_literals;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

// Requests out, every reply kept with its arrival time, on the client's
// topics and profile.
class OpsPeer {
 public:
  explicit OpsPeer(std::string serial) {
    std::replace(serial.begin(), serial.end(), '-', '_');
    const std::string topic = "quiral_vek/RPC/" + serial;
    requests_ = std::make_shared<mw::FastDDSPublisher<vek::RPCRequestPubSubType>>(
        node_.participant, topic + "_request");
    replies_ = std::make_shared<mw::FastDDSSubscriber<vek::RPCReplyPubSubType>>(
        node_.participant, topic + "_reply",
        [this] {
          std::lock_guard<std::mutex> lock(mutex_);
          received_.push_back({Clock::now(), buffer_});
        },
        &buffer_, 1);
    requests_->InitializeDefaultProfile(mw::kDefaultQosDepth);
    replies_->InitializeDefaultProfile(mw::kDefaultQosDepth);
  }

  bool WaitMatched() {
    const mw::RpcDeadline deadline(15.0);
    return mw::WaitForMatchedReader(requests_->writer(), deadline) &&
           mw::WaitForMatchedWriter(replies_->reader(), deadline);
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_.size();
  }
  // Sends a request and returns the first reply that arrives after it,
  // whatever id it carries, with its delay; nothing at the deadline.
  std::optional<std::pair<Clock::duration, vek::RPCReply>> Call(
      uint16_t id, std::vector<int32_t> ints = {}, std::chrono::milliseconds timeout = 5s) {
    vek::RPCRequest request;
    request.procedure_id(id);
    request.int_args(ints);
    const size_t before = Count();
    const auto sent = Clock::now();
    if (!requests_->Publish(request) || !WaitUntil([&] { return Count() > before; }, timeout)) {
      return std::nullopt;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return std::make_pair(received_[before].first - sent, received_[before].second);
  }

 private:
  mw::DefaultNode node_{"quiral_vek_default_node", 0, 10, {"127.0.0.1"}};
  vek::RPCReply buffer_;
  std::mutex mutex_;
  std::deque<std::pair<Clock::time_point, vek::RPCReply>> received_;
  std::shared_ptr<mw::FastDDSPublisher<vek::RPCRequestPubSubType>> requests_;
  std::shared_ptr<mw::FastDDSSubscriber<vek::RPCReplyPubSubType>> replies_;
};

TEST(SimDdsTest, FaultRulesOnTheWireAndTheRecordOfRequests) {
  const std::string serial = UniqueSerial("Varno4");
  SimProcess sim(std::vector<std::string>{serial});
  OpsPeer peer(serial);
  ASSERT_TRUE(peer.WaitMatched());
  ASSERT_TRUE(sim.WaitMatched(serial, 15s, {"ops_requests", "ops_replies"}));

  auto reply = peer.Call(7, {5});
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->second.procedure_id(), 7u);
  EXPECT_FALSE(reply->second.success()) << "a disabled robot refuses a non-idle mode";

  // An unanswered request is still carried out; a failed one is not.
  sim.Fault(serial, {{"procedure_id", 20}, {"kind", "no_reply"}});
  EXPECT_FALSE(peer.Call(20, {40}, 700ms).has_value());
  EXPECT_EQ(sim.State(serial)["velocity_scale"], 40);
  sim.Fault(serial, {{"procedure_id", 1}, {"kind", "fail"}});
  reply = peer.Call(1);
  ASSERT_TRUE(reply);
  EXPECT_FALSE(reply->second.success());
  EXPECT_EQ(sim.State(serial)["safety_board_state"], 72);

  // A late reply leaves no sooner than asked, and a rule for every id
  // applies whatever the id.
  sim.Fault(serial, {{"procedure_id", "all"}, {"kind", "late_reply"}, {"delay_ms", 600},
                     {"count", 2}});
  for (const uint16_t id : {3, 11}) {
    reply = peer.Call(id);
    ASSERT_TRUE(reply) << id;
    EXPECT_GE(reply->first, 600ms) << id;
    EXPECT_TRUE(reply->second.success()) << id;
  }
  EXPECT_TRUE(sim.State(serial)["faults"].empty()) << "count-limited rules are used up";

  // Every request is recorded with what it carried, the unanswered one too.
  const json recorded = sim.Requests(serial);
  ASSERT_EQ(recorded["total"], 5);
  EXPECT_EQ(recorded["items"][0]["int_args"], json::array({5}));
  EXPECT_EQ(recorded["items"][1]["procedure_id"], 20);
  EXPECT_EQ(recorded["items"][1]["int_args"], json::array({40}));
}

}  // namespace
}  // namespace quiral::test
