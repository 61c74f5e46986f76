// What the middleware tests share: the peer process (see
// middleware_peer.cpp), the operations service's request/reply client and
// error texts.
#pragma once

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "middleware/fast_dds_rpc_client.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "tests/middleware/support/test_domain.h"
#include "tests/support/child_process.h"

namespace quiral_test {

using RpcClient = quiral::middleware2::FastDDSRpcClient<vek_msgs::msg::RPCRequestPubSubType,
                                                        vek_msgs::msg::RPCReplyPubSubType>;

// Starts the peer as `role` on this process's domain, `args` following the
// domain; waits for it to be ready unless told otherwise.
inline std::unique_ptr<ChildProcess> StartPeer(const std::string& role, std::vector<std::string> args,
                                               bool wait_ready = true) {
  args.insert(args.begin(), {role, std::to_string(TestDomain())});
  auto peer = std::make_unique<ChildProcess>(QUIRAL_MIDDLEWARE_PEER, args);
  if (wait_ready) {
    EXPECT_TRUE(peer->ExpectLine("ready", std::chrono::seconds(10)));
  }
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

}  // namespace quiral_test
