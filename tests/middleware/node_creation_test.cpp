// Node creation, built with ThreadSanitizer: whitelist entries are checked
// whole, and two threads create nodes at once, as the arms of a pair do.
#include <gtest/gtest.h>

#include <thread>

#include "middleware/default_node.h"
#include "middleware/realtime_udp_node.h"
#include "tests/middleware/middleware_test_util.h"

namespace mw = quiral::middleware2;
using namespace quiral_test;

TEST(NodeCreation, AWhitelistEntryWithANullCharacterIsRefused) {
  const std::vector<std::string> whitelist = {std::string("127.0.0.1\0x", 11)};
  EXPECT_EQ(ErrorText<std::invalid_argument>(
                [&] { mw::DefaultNode node("n", 0, TestDomain(), whitelist); }),
            "[quiral::middleware2::DefaultNode] Interface whitelist entry is not an IPv4 address: "
            "\"127.0.0.1\\0x\"");
}

// Races show at the first participants of a process: CTest runs this case
// in a process of its own.
TEST(NodeCreation, TwoThreadsCreateNodesAtOnce) {
  auto arm = [] { mw::RealtimeUdpNode node("arm", TestDomain(), kLoopbackOnly); };
  std::thread first(arm), second(arm);
  first.join();
  second.join();
}
