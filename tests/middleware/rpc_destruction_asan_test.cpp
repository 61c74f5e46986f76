// Destroying a request/reply client while replies keep pouring in. Built
// with AddressSanitizer together with the DDS layer's own sources.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "middleware/default_node.h"
#include "middleware/fast_dds_rpc_client.h"
#include "tests/middleware/support/child_process.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "tests/middleware/support/test_domain.h"

// The DDS library frees one of its own reader objects with a sized delete
// of a smaller type when a data reader is deleted. That happens wholly
// inside the (uninstrumented) library, so the check for it is turned off;
// every other error of AddressSanitizer stays on.
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }

namespace {

namespace mw = quiral::middleware2;
using quiral_test::ChildProcess;
using quiral_test::TestDomain;
using quiral_test::UniqueTopic;
using vek_msgs::msg::RPCReply;
using vek_msgs::msg::RPCRequest;
using Client =
    mw::FastDDSRpcClient<vek_msgs::msg::RPCRequestPubSubType, vek_msgs::msg::RPCReplyPubSubType>;
using namespace std::chrono_literals;

// A flood reply is whole when its integer, its text and every raw byte
// tell the same number.
bool IsWholeFloodReply(const RPCReply& reply) {
  if (reply.int_container().size() != 1 || reply.string_container().size() != 1 ||
      reply.raw_bytes_container().size() != 4096) {
    return false;
  }
  const int32_t n = reply.int_container().front();
  if (reply.string_container().front() != "flood " + std::to_string(n)) {
    return false;
  }
  for (uint8_t byte : reply.raw_bytes_container()) {
    if (byte != static_cast<uint8_t>(n & 0xff)) {
      return false;
    }
  }
  return true;
}

TEST(RpcClientDestruction, CleanWhileTheServerFloodsReplies) {
  mw::DefaultNode node("rpc_flooded", 0, TestDomain(), quiral_test::kLoopbackOnly);
  const std::string topic = UniqueTopic("flood");
  ChildProcess server(QUIRAL_MIDDLEWARE_PEER,
                      std::vector<std::string>{"flood", std::to_string(TestDomain()), topic});
  ASSERT_TRUE(server.ExpectLine("ready", 10s));
  int answered = 0;
  for (int round = 0; round < 8; ++round) {
    auto client = std::make_shared<Client>(node.participant, topic);
    // Every reply handed out is one whole sample, never a mix of two.
    for (int call = 0; call < 20; ++call) {
      RPCReply reply;
      if (client->SendRequestAndGetReply(RPCRequest(), reply, 2.0)) {
        ++answered;
        EXPECT_TRUE(IsWholeFloodReply(reply));
      }
    }
    client.reset();  // replies are still arriving
  }
  EXPECT_EQ(answered, 8 * 20);
}

}  // namespace
