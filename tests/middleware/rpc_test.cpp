// Request/reply against the operations service of a simulated controller in
// a process of its own. The requests carry procedure ids the simulator does
// not know, so every reply is a refusal that names the request's id.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <optional>
#include <thread>

#include "middleware/default_node.h"
#include "tests/middleware/middleware_test_util.h"
#include "tests/support/sim_process.h"

namespace {

using quiral_test::RpcClient;
using vek_msgs::msg::RPCReply;
using vek_msgs::msg::RPCRequest;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

RPCRequest Request(uint16_t id) {
  RPCRequest request;
  request.procedure_id(id);
  return request;
}

bool Answers(const RPCReply& reply, uint16_t id) {
  return reply.procedure_id() == id && !reply.success();
}

class Rpc : public ::testing::Test {
 protected:
  quiral::test::SimProcess& Sim() {
    if (!sim_) sim_.emplace(std::vector<std::string>{serial_});
    return *sim_;
  }
  // Every reply of the simulator late by `delay_ms`, or none when negative.
  void Delay(int delay_ms) {
    Sim().ClearFaults(serial_);
    Sim().Fault(serial_, {{"procedure_id", "all"},
                         {"kind", delay_ms < 0 ? "no_reply" : "late_reply"},
                         {"delay_ms", std::max(delay_ms, 0)},
                         {"count", -1}});
  }
  // The requests the simulator has taken, once there are `count` or 10 s passed.
  size_t WaitForRequests(size_t count) {
    size_t seen = 0;
    quiral::test::WaitUntil(
        [&] { return (seen = Sim().Requests(serial_)["total"].get<size_t>()) >= count; }, 10s);
    return seen;
  }
  std::shared_ptr<RpcClient> Client() {
    std::string topic = "quiral_vek/RPC/" + serial_;
    std::replace(topic.begin(), topic.end(), '-', '_');
    return std::make_shared<RpcClient>(node_.participant, topic);
  }

  const std::string serial_ = quiral::test::UniqueSerial();
  std::optional<quiral::test::SimProcess> sim_;
  quiral::middleware2::DefaultNode node_{"rpc_client", 0, 10, quiral_test::kLoopbackOnly};
};

TEST_F(Rpc, SilentServer) {
  Delay(-1);
  auto client = Client();
  RPCReply reply;
  reply.string_container({"untouched"});
  auto start = Clock::now();
  EXPECT_FALSE(client->SendRequestAndGetReply(Request(7), reply, 2.0));
  EXPECT_GE(Clock::now() - start, 2s);
  EXPECT_LT(Clock::now() - start, 4s);
  EXPECT_EQ(reply.string_container(), std::vector<std::string>{"untouched"});
  EXPECT_EQ(WaitForRequests(1), 1u);
  // Below 1 ms the request is written but no reply awaited.
  start = Clock::now();
  EXPECT_FALSE(client->SendRequestAndGetReply(Request(2), reply, 0.0009));
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(WaitForRequests(2), 2u);
}

TEST_F(Rpc, PromptServerAnswersEveryCallWellBeforeTheTimeout) {
  // A client made before its server finds it within the deadline.
  auto client = Client();
  Sim();
  RPCReply reply;
  // A reply lost between the write and the wait would show as a call that
  // waited out the whole 2 s.
  auto slowest = Clock::duration::zero();
  for (uint16_t id = 200; id < 400; ++id) {
    const auto start = Clock::now();
    ASSERT_TRUE(client->SendRequestAndGetReply(Request(id), reply, id == 200 ? 20.0 : 2.0)) << id;
    if (id > 200) slowest = std::max(slowest, Clock::now() - start);
    ASSERT_TRUE(Answers(reply, id)) << id;
  }
  EXPECT_LT(slowest, 1s);
}

TEST_F(Rpc, SlowServer) {
  Delay(20);
  auto client = Client();
  // Overlapping calls would take each other's replies.
  std::atomic<int> failures{0};
  const auto start = Clock::now();
  std::vector<std::thread> callers;
  for (uint16_t t = 0; t < 4; ++t) {
    callers.emplace_back([&, t] {
      for (uint16_t i = 1; i <= 10; ++i) {
        const auto id = static_cast<uint16_t>(200 + t * 100 + i);
        RPCReply reply;
        failures += client->SendRequestAndGetReply(Request(id), reply, 5.0) && Answers(reply, id)
                        ? 0
                        : 1;
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GE(Clock::now() - start, 20ms * 40);

  Delay(300);
  RPCReply reply;
  EXPECT_TRUE(client->SendRequestAndGetReply(Request(209), reply,
                                             std::numeric_limits<double>::infinity()));
  EXPECT_TRUE(Answers(reply, 209));
  // A reply that comes after its call gave up does not end the next call:
  // the simulator names the request each reply answers.
  reply = RPCReply();
  EXPECT_FALSE(client->SendRequestAndGetReply(Request(201), reply, 0.1));
  EXPECT_EQ(reply, RPCReply());
  EXPECT_TRUE(client->SendRequestAndGetReply(Request(202), reply, 2.0));
  EXPECT_TRUE(Answers(reply, 202));
}

}  // namespace
