// Creation of the participant nodes: whitelist entries are checked whole,
// and two threads create and delete nodes at the same time, as the two arms
// of a pair do when they connect. Built with ThreadSanitizer (the DDS
// layer's sources compiled in): a race inside the library's participant
// creation fails the test process.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "middleware/default_node.h"
#include "middleware/realtime_udp_node.h"
#include "tests/middleware/middleware_test_util.h"

namespace {

namespace mw = quiral::middleware2;
using quiral_test::ErrorText;
using quiral_test::kLoopbackOnly;
using quiral_test::TestDomain;

// The part before the '\0' is an address, the entry is not.
TEST(NodeCreation, AWhitelistEntryWithANullCharacterIsRefused) {
  const std::string entry("127.0.0.1\0x", 11);
  EXPECT_EQ(ErrorText<std::invalid_argument>(
                [&] { mw::DefaultNode node("bad", 0, TestDomain(), {entry}); }),
            "[quiral::middleware2::DefaultNode] Interface whitelist entry is not an IPv4 "
            "address: \"127.0.0.1\\0x\"");
}

// The library's first participant of a process is where its creation
// races: CTest runs this case in a process of its own.
TEST(NodeCreation, TwoThreadsCreateAndDeleteNodesAtOnce) {
  auto arm = [] {
    for (int round = 0; round < 2; ++round) {
      const mw::DefaultNode node("arm", 0, TestDomain(), kLoopbackOnly);
      const mw::RealtimeUdpNode realtime("arm_rt", TestDomain(), kLoopbackOnly);
    }
  };
  std::thread first(arm), second(arm);
  first.join();
  second.join();
}

}  // namespace
