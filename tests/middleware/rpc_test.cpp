// Request/reply against a server in a child process.
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "middleware/default_node.h"
#include "middleware/fast_dds_rpc_client.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "tests/middleware/support/child_process.h"
#include "tests/middleware/support/test_domain.h"

namespace {

namespace mw = quiral::middleware2;
using quiral_test::ChildProcess;
using quiral_test::TestDomain;
using quiral_test::UniqueTopic;
using vek_msgs::msg::RPCReply;
using vek_msgs::msg::RPCRequest;
using Client =
    mw::FastDDSRpcClient<vek_msgs::msg::RPCRequestPubSubType, vek_msgs::msg::RPCReplyPubSubType>;
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
  // Starts a server role of the peer on this test's topic; waits for it to
  // be ready unless told otherwise.
  std::unique_ptr<ChildProcess> StartServer(const std::string& role, int delay_ms = 0,
                                            bool wait_ready = true) {
    std::vector<std::string> args{role, std::to_string(TestDomain()), topic_};
    if (role == "echo") {
      args.push_back(std::to_string(delay_ms));
    }
    auto child = std::make_unique<ChildProcess>(QUIRAL_MIDDLEWARE_PEER, args);
    if (wait_ready) {
      EXPECT_TRUE(child->ExpectLine("ready", 10s));
    }
    return child;
  }

  static uint64_t RequestsSeenBy(ChildProcess& silent) {
    EXPECT_TRUE(silent.WriteLine("count"));
    const std::string line = silent.ReadLine(10s).value_or("count 0");
    return std::stoull(line.substr(6));
  }

  // Asks until the silent server has seen `count` requests or 10 s passed.
  static uint64_t WaitForRequests(ChildProcess& silent, uint64_t count) {
    const auto deadline = Clock::now() + 10s;
    uint64_t seen = RequestsSeenBy(silent);
    while (seen < count && Clock::now() < deadline) {
      seen = RequestsSeenBy(silent);
    }
    return seen;
  }

  const std::string topic_ = UniqueTopic("rpc");
  mw::DefaultNode node_{"rpc_client", 0, TestDomain(), quiral_test::kLoopbackOnly};
};

TEST_F(Rpc, TimeoutIsCheckedBeforeAnythingIsWritten) {
  auto server = StartServer("silent");
  Client client(node_.participant, topic_);
  RPCReply reply;
  const struct {
    double timeout;
    const char* text;
  } cases[] = {
      {0.0, "timeout_sec must be greater than 0"},
      {-1.0, "timeout_sec must be greater than 0"},
      {1e-17, "timeout_sec must be greater than 0"},
      {-std::numeric_limits<double>::infinity(), "timeout_sec must be greater than 0"},
      {std::nan(""), "timeout_sec must not be NaN"},
      {4294967.296, "timeout_sec must be at most 4294967.295 or infinite"},
      {1e300, "timeout_sec must be at most 4294967.295 or infinite"},
  };
  for (const auto& c : cases) {
    try {
      client.SendRequestAndGetReply(Request(1), reply, c.timeout);
      ADD_FAILURE() << "accepted " << c.timeout;
    } catch (const std::invalid_argument& error) {
      EXPECT_STREQ(error.what(), c.text) << c.timeout;
    }
  }
  // One real request afterwards shows the server was reachable all along.
  EXPECT_FALSE(client.SendRequestAndGetReply(Request(2), reply, 1.0));
  EXPECT_EQ(WaitForRequests(*server, 1), 1u);
  EXPECT_EQ(reply, RPCReply());
}

TEST_F(Rpc, SilentServerTimesOutAfterTwoSeconds) {
  auto server = StartServer("silent");
  Client client(node_.participant, topic_);
  RPCReply reply;
  reply.string_container({"untouched"});
  const auto start = Clock::now();
  EXPECT_FALSE(client.SendRequestAndGetReply(Request(7), reply, 2.0));
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, 2s);
  EXPECT_LT(elapsed, 4s);
  EXPECT_EQ(reply.string_container(), std::vector<std::string>{"untouched"});
  EXPECT_EQ(WaitForRequests(*server, 1), 1u);
}

TEST_F(Rpc, WithoutAnyServerTheCallWaitsOutItsDeadline) {
  Client client(node_.participant, topic_);
  RPCReply reply;
  const auto start = Clock::now();
  EXPECT_FALSE(client.SendRequestAndGetReply(Request(1), reply, 0.5));
  EXPECT_GE(Clock::now() - start, 500ms);
}

TEST_F(Rpc, ImmediateServerAnswers200CallsInARowWellBeforeTheTimeout) {
  auto server = StartServer("echo");
  Client client(node_.participant, topic_);
  auto slowest = Clock::duration::zero();
  for (uint16_t id = 1; id <= 200; ++id) {
    const RPCRequest request = Request(id);
    RPCReply reply;
    const auto start = Clock::now();
    ASSERT_TRUE(client.SendRequestAndGetReply(request, reply, 2.0)) << "call " << id;
    slowest = std::max(slowest, Clock::now() - start);
    ASSERT_TRUE(Answers(reply, request)) << "call " << id;
  }
  // A reply lost between the write and the wait would show as a call that
  // waited out the whole 2 s.
  EXPECT_LT(slowest, 1s);
}

// Right after start-up a single attempt must not be lost because the
// request writer has not met the server's reader yet.
TEST_F(Rpc, FirstCallRightAfterConstructionSucceeds) {
  auto server = StartServer("echo");
  for (uint16_t round = 1; round <= 3; ++round) {
    Client client(node_.participant, topic_);
    RPCReply reply;
    EXPECT_TRUE(client.SendRequestAndGetReply(Request(round), reply, 2.0)) << round;
    EXPECT_EQ(reply.procedure_id(), round);
  }
}

TEST_F(Rpc, ServerStartingAfterTheClientIsWaitedForWithinTheDeadline) {
  Client client(node_.participant, topic_);
  auto server = StartServer("echo", 0, /*wait_ready=*/false);
  RPCReply reply;
  EXPECT_TRUE(client.SendRequestAndGetReply(Request(5), reply, 20.0));
  EXPECT_TRUE(Answers(reply, Request(5)));
}

TEST_F(Rpc, ConcurrentCallersAreSerialised) {
  constexpr int kDelayMs = 20;
  constexpr uint32_t kThreads = 4;
  constexpr uint32_t kCallsPerThread = 10;
  auto server = StartServer("echo", kDelayMs);
  Client client(node_.participant, topic_);
  std::atomic<int> failures{0};
  std::atomic<int> mismatches{0};
  const auto start = Clock::now();
  std::vector<std::thread> callers;
  for (uint32_t t = 0; t < kThreads; ++t) {
    callers.emplace_back([&, t] {
      for (uint32_t i = 0; i < kCallsPerThread; ++i) {
        const RPCRequest request = Request(static_cast<uint16_t>(t * 100 + i + 1));
        RPCReply reply;
        if (!client.SendRequestAndGetReply(request, reply, 5.0)) {
          ++failures;
        } else if (!Answers(reply, request)) {
          ++mismatches;
        }
      }
    });
  }
  for (std::thread& caller : callers) {
    caller.join();
  }
  EXPECT_EQ(failures.load(), 0);
  // Overlapping calls would take each other's replies.
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kDelayMs * kThreads * kCallsPerThread));
}

TEST_F(Rpc, LateReplyGoesToTheNextAwaitingCall) {
  auto server = StartServer("echo", 500);
  Client client(node_.participant, topic_);
  RPCReply reply;
  // Once answered, the request writer has surely met the server.
  ASSERT_TRUE(client.SendRequestAndGetReply(Request(3), reply, 5.0));
  reply = RPCReply();
  EXPECT_FALSE(client.SendRequestAndGetReply(Request(1), reply, 0.1));
  EXPECT_EQ(reply, RPCReply());
  // The answer to the first request arrives while the second call awaits;
  // callers tell replies apart by their id.
  EXPECT_TRUE(client.SendRequestAndGetReply(Request(2), reply, 2.0));
  EXPECT_EQ(reply.procedure_id(), 1u);
}

TEST_F(Rpc, InfiniteTimeoutWaitsForTheReply) {
  auto server = StartServer("echo", 300);
  Client client(node_.participant, topic_);
  RPCReply reply;
  EXPECT_TRUE(client.SendRequestAndGetReply(Request(9), reply,
                                            std::numeric_limits<double>::infinity()));
  EXPECT_TRUE(Answers(reply, Request(9)));
}

TEST_F(Rpc, SubMillisecondTimeoutWritesButDoesNotWait) {
  auto server = StartServer("silent");
  Client client(node_.participant, topic_);
  RPCReply reply;
  // Let the writer meet the server's reader first.
  EXPECT_FALSE(client.SendRequestAndGetReply(Request(1), reply, 1.0));
  const auto start = Clock::now();
  EXPECT_FALSE(client.SendRequestAndGetReply(Request(2), reply, 0.0009));
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(WaitForRequests(*server, 2), 2u);
}

// Every kind of field, and a raw-byte list far above one datagram.
TEST_F(Rpc, OperationsMessagesTravelWhole) {
  auto server = StartServer("echo");
  Client client(node_.participant, topic_);
  RPCRequest request;
  request.procedure_id(7);
  request.int_args({1, -2, 3});
  request.float_args({0.5f, -1.25f});
  request.string_args({"IDLE", "", "NRT_PLAN_EXECUTION"});
  request.long_string_arg("assign x = 1");
  request.raw_bytes_arg(std::vector<uint8_t>(200000, 0xA5));
  request.tool_params().name("gripper");
  request.tool_params().mass(1.5f);
  request.tool_params().tcp_location()[3] = 1.0f;
  RPCReply reply;
  ASSERT_TRUE(client.SendRequestAndGetReply(request, reply, 2.0));
  EXPECT_EQ(reply.procedure_id(), 7u);
  EXPECT_TRUE(reply.success());
  EXPECT_EQ(reply.int_container(), request.int_args());
  EXPECT_EQ(reply.float_container(), request.float_args());
  EXPECT_EQ(reply.string_container(), request.string_args());
  EXPECT_EQ(reply.raw_bytes_container(), request.raw_bytes_arg());
  EXPECT_EQ(reply.tool_params(), request.tool_params());
}

}  // namespace
