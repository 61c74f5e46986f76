// Request/reply against a server in a child process.
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>

#include "middleware/default_node.h"
#include "tests/middleware/middleware_test_util.h"

namespace {

using quiral_test::ChildProcess;
using quiral_test::ErrorText;
using quiral_test::RpcClient;
using vek_msgs::msg::RPCReply;
using vek_msgs::msg::RPCRequest;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

RPCRequest Request(uint16_t id) {
  RPCRequest request;
  request.procedure_id(id);
  request.int_args({id, 1000 + id});
  request.string_args({"request " + std::to_string(id)});
  request.raw_bytes_arg(std::vector<uint8_t>(64 + id % 64, static_cast<uint8_t>(id)));
  return request;
}

// The echo server's answer carries the request back.
bool Answers(const RPCReply& reply, const RPCRequest& request) {
  return reply.procedure_id() == request.procedure_id() && reply.success() &&
         reply.int_container() == request.int_args() &&
         reply.string_container() == request.string_args() &&
         reply.raw_bytes_container() == request.raw_bytes_arg();
}

class Rpc : public ::testing::Test {
 protected:
  std::unique_ptr<ChildProcess> StartEcho(int delay_ms, bool wait_ready = true) {
    return quiral_test::StartPeer("echo", {topic_, std::to_string(delay_ms)}, wait_ready);
  }
  // The requests the server has taken, once there are `count` or 10 s passed.
  static uint64_t WaitForRequests(ChildProcess& server, uint64_t count) {
    const auto deadline = Clock::now() + 10s;
    uint64_t seen = 0;
    do {
      EXPECT_TRUE(server.WriteLine("count"));
      seen = std::stoull(server.ReadLine(10s).value_or("count 0").substr(6));
    } while (seen < count && Clock::now() < deadline);
    return seen;
  }

  const std::string topic_ = quiral_test::UniqueTopic("rpc");
  quiral::middleware2::DefaultNode node_{"rpc_client", 0, quiral_test::TestDomain(),
                                         quiral_test::kLoopbackOnly};
};

TEST_F(Rpc, SilentServer) {
  auto server = StartEcho(-1);
  RpcClient client(node_.participant, topic_);
  RPCReply reply;
  reply.string_container({"untouched"});
  // A bad time-out is refused before anything is written.
  const std::pair<double, const char*> bad[] = {
      {1e-17, "timeout_sec must be greater than 0"},
      {std::nan(""), "timeout_sec must not be NaN"},
      {4294967.296, "timeout_sec must be at most 4294967.295 or infinite"}};
  for (const auto& [timeout, text] : bad) {
    EXPECT_EQ(ErrorText<std::invalid_argument>(
                  [&] { client.SendRequestAndGetReply(Request(1), reply, timeout); }),
              text);
  }
  auto start = Clock::now();
  EXPECT_FALSE(client.SendRequestAndGetReply(Request(7), reply, 2.0));
  EXPECT_GE(Clock::now() - start, 2s);
  EXPECT_LT(Clock::now() - start, 4s);
  EXPECT_EQ(reply.string_container(), std::vector<std::string>{"untouched"});
  EXPECT_EQ(WaitForRequests(*server, 1), 1u);
  // Below 1 ms the request is written but no reply awaited.
  start = Clock::now();
  EXPECT_FALSE(client.SendRequestAndGetReply(Request(2), reply, 0.0009));
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(WaitForRequests(*server, 2), 2u);
}

TEST_F(Rpc, PromptServerAnswersEveryCallWellBeforeTheTimeout) {
  // A client made before its server waits for it within the deadline.
  std::unique_ptr<ChildProcess> server;
  RPCReply reply;
  {
    RpcClient early(node_.participant, topic_);
    server = StartEcho(0, /*wait_ready=*/false);
    EXPECT_TRUE(early.SendRequestAndGetReply(Request(5), reply, 20.0));
    EXPECT_TRUE(Answers(reply, Request(5)));
    ASSERT_TRUE(server->ExpectLine("ready", 10s));
  }
  // A reply lost between the write and the wait would show as a call that
  // waited out the whole 2 s.
  RpcClient client(node_.participant, topic_);
  auto slowest = Clock::duration::zero();
  for (uint16_t id = 1; id <= 200; ++id) {
    const auto start = Clock::now();
    ASSERT_TRUE(client.SendRequestAndGetReply(Request(id), reply, 2.0)) << "call " << id;
    slowest = std::max(slowest, Clock::now() - start);
    ASSERT_TRUE(Answers(reply, Request(id))) << "call " << id;
  }
  EXPECT_LT(slowest, 1s);
}

TEST_F(Rpc, SlowServer) {
  auto server = StartEcho(20);
  RpcClient client(node_.participant, topic_);
  // Overlapping calls would take each other's replies.
  std::atomic<int> failures{0};
  const auto start = Clock::now();
  std::vector<std::thread> callers;
  for (uint16_t t = 0; t < 4; ++t) {
    callers.emplace_back([&, t] {
      for (uint16_t i = 1; i <= 10; ++i) {
        const RPCRequest request = Request(static_cast<uint16_t>(t * 100 + i));
        RPCReply reply;
        failures +=
            client.SendRequestAndGetReply(request, reply, 5.0) && Answers(reply, request) ? 0 : 1;
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GE(Clock::now() - start, 20ms * 40);

  ASSERT_TRUE(server->WriteLine("delay 300"));
  ASSERT_TRUE(server->ExpectLine("delay 300", 10s));
  RPCReply reply;
  EXPECT_TRUE(
      client.SendRequestAndGetReply(Request(9), reply, std::numeric_limits<double>::infinity()));
  EXPECT_TRUE(Answers(reply, Request(9)));
  // A reply that comes after its call gave up goes to the next awaiting
  // call; callers tell replies apart by their id.
  reply = RPCReply();
  EXPECT_FALSE(client.SendRequestAndGetReply(Request(1), reply, 0.1));
  EXPECT_EQ(reply, RPCReply());
  EXPECT_TRUE(client.SendRequestAndGetReply(Request(2), reply, 2.0));
  EXPECT_EQ(reply.procedure_id(), 1u);
}

}  // namespace
