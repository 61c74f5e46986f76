// Destroying a request/reply client while replies keep pouring in; the
// sanitizer builds (scripts/run-sanitizers.sh) catch a reply written into a
// destroyed client.
#include "middleware/default_node.h"
#include "tests/middleware/middleware_test_util.h"

namespace {

using vek_msgs::msg::RPCReply;

// A flood reply is whole when its integer, its text and every raw byte
// tell the same number.
bool IsWholeFloodReply(const RPCReply& reply) {
  if (reply.int_container().size() != 1 || reply.string_container().size() != 1) {
    return false;
  }
  const int32_t n = reply.int_container().front();
  return reply.string_container().front() == "flood " + std::to_string(n) &&
         reply.raw_bytes_container() == std::vector<uint8_t>(4096, static_cast<uint8_t>(n & 0xff));
}

TEST(RpcClientDestruction, CleanWhileTheServerFloodsReplies) {
  quiral::middleware2::DefaultNode node("rpc_flooded", 0, quiral_test::TestDomain(),
                                        quiral_test::kLoopbackOnly);
  const std::string topic = quiral_test::UniqueTopic("flood");
  auto server = quiral_test::StartPeer("flood", {topic});
  int answered = 0;
  for (int round = 0; round < 8; ++round) {
    auto client = std::make_shared<quiral_test::RpcClient>(node.participant, topic);
    // Every reply handed out is one whole sample, never a mix of two.
    for (int call = 0; call < 20; ++call) {
      RPCReply reply;
      if (client->SendRequestAndGetReply(vek_msgs::msg::RPCRequest(), reply, 2.0)) {
        ++answered;
        EXPECT_TRUE(IsWholeFloodReply(reply));
      }
    }
    client.reset();  // replies are still arriving
  }
  EXPECT_EQ(answered, 8 * 20);
}

}  // namespace
