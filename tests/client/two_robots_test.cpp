// Two clients for two robots in one process: each talks only to its own
// controller.
#include <gtest/gtest.h>

#include <string>

#include "tests/client/client_test_util.h"

namespace quiral_client_test {
namespace {

TEST(TwoRobots, EachClientTalksOnlyToItsOwnController) {
  const std::string left = UniqueSerial("Varno4");
  const std::string right = UniqueSerial("Varno10");
  SimProcess sim({left, right});
  sim.Set(right, {{"server_version", "v-right"}, {"mode", 5}});
  auto a = StartClient(left);
  auto b = StartClient(right);
  ASSERT_TRUE(a->connected.load() && b->connected.load());
  for (const auto& serial : {left, right}) {
    // Exactly one client's endpoints on each controller's topics.
    ASSERT_TRUE(sim.WaitMatched(serial, 5s));
    // The state is held for the loop: items() refers into it.
    const nlohmann::json state = sim.State(serial);
    for (const auto& [name, count] : state["matched"].items()) {
      EXPECT_EQ(count.get<int>(), 1) << serial << " " << name;
    }
  }

  // Remote calls, states, events and heartbeats reach their own side only.
  std::string version;
  ASSERT_EQ(a->operations_rpc.RequestServerVersion(version).code, kOk);
  EXPECT_EQ(version, "v1.9.3");
  ASSERT_EQ(b->operations_rpc.RequestServerVersion(version).code, kOk);
  EXPECT_EQ(version, "v-right");
  ASSERT_EQ(a->operations_rpc.GeneralCall(20, "", {10}, {}, {}).code, kOk);
  EXPECT_EQ(sim.Requests(left)["total"], 2);
  EXPECT_EQ(sim.Requests(right)["total"], 1);
  EXPECT_TRUE(WaitUntil([&] { return b->rt_states_sub.CurrExtCtrlMode() == 5; }, 2s));
  EXPECT_EQ(a->rt_states_sub.CurrExtCtrlMode(), 1);
  sim.Command("event", {{"serial", right}, {"level", 0}, {"event_id", 7}, {"count", 3}});
  ASSERT_TRUE(WaitUntil([&] { return EventCount(b->lumo_log_event) == 3; }, 5s));
  sim.Command("event", {{"serial", left}, {"level", 0}, {"event_id", 9}});
  ASSERT_TRUE(WaitUntil([&] { return EventCount(a->lumo_log_event) == 1; }, 5s));
  EXPECT_EQ(EventCount(b->lumo_log_event), 3u);
  EXPECT_TRUE(WaitUntil(
      [&] {
        return sim.State(left)["heartbeats"]["count"] > 20 &&
               sim.State(right)["heartbeats"]["count"] > 20;
      },
      3s, 20ms));

  // A silent controller disconnects only its own client.
  sim.Command("stop_states", {{"serial", right}});
  ASSERT_TRUE(WaitUntil([&] { return !b->connected.load(); }, 3s));
  EXPECT_TRUE(a->connected.load());
  sim.Command("start_states", {{"serial", right}});
  EXPECT_TRUE(WaitUntil([&] { return b->connected.load(); }, 2s));

  // Destroying one client leaves the other working.
  a.reset();
  ASSERT_EQ(b->operations_rpc.RequestServerVersion(version).code, kOk);
  EXPECT_TRUE(b->connected.load());
}

}  // namespace
}  // namespace quiral_client_test
