// Two clients for two robots in one process: each talks only to its own
// controller.
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/client/client_test_util.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using quiral::test::SimProcess;
using quiral::test::UniqueSerial;
using quiral::test::WaitUntil;
using quiral_client_test::StartClient;

size_t EventCount(quiral::vek_impl::VEKClient& client) {
  std::lock_guard<std::mutex> lock(client.lumo_log_event.mutex);
  return client.lumo_log_event.event_list.size();
}

TEST(TwoRobots, EachClientTalksOnlyToItsOwnController) {
  const std::string left = UniqueSerial("Varno4");
  const std::string right = UniqueSerial("Varno10");
  SimProcess sim({left, right});
  sim.Set(right, {{"server_version", "v-right"}, {"mode", 5}});
  auto a = StartClient(left);
  auto b = StartClient(right);
  ASSERT_TRUE(a->connected.load());
  ASSERT_TRUE(b->connected.load());
  ASSERT_TRUE(sim.WaitMatched(left, 5s));
  ASSERT_TRUE(sim.WaitMatched(right, 5s));
  for (const auto& serial : {left, right}) {
    // Exactly one client's endpoints on each controller's topics.
    const json matched = sim.State(serial)["matched"];
    for (const auto& [name, count] : matched.items()) EXPECT_EQ(count.get<int>(), 1) << serial << " " << name;
  }

  // Remote calls reach their own controller only.
  std::string version;
  ASSERT_EQ(a->operations_rpc.RequestServerVersion(version).code, 100000);
  EXPECT_EQ(version, "v1.9.3");
  ASSERT_EQ(b->operations_rpc.RequestServerVersion(version).code, 100000);
  EXPECT_EQ(version, "v-right");
  ASSERT_EQ(a->operations_rpc.GeneralCall(20, "", {10}, {}, {}).code, 100000);
  EXPECT_EQ(sim.Requests(left)["total"].get<int>(), 2);
  EXPECT_EQ(sim.Requests(right)["total"].get<int>(), 1);
  EXPECT_EQ(sim.State(right)["velocity_scale"].get<int>(), 100);

  // States: each client sees its own controller's mode.
  EXPECT_TRUE(WaitUntil([&] { return b->rt_states_sub.CurrExtCtrlMode() == 5; }, 2s));
  EXPECT_EQ(a->rt_states_sub.CurrExtCtrlMode(), 1);

  // Events go to their own client.
  sim.Command("event", {{"serial", right}, {"level", 0}, {"event_id", 7}, {"count", 3}});
  ASSERT_TRUE(WaitUntil([&] { return EventCount(*b) == 3; }, 5s));
  sim.Command("event", {{"serial", left}, {"level", 0}, {"event_id", 9}});
  ASSERT_TRUE(WaitUntil([&] { return EventCount(*a) == 1; }, 5s));
  EXPECT_EQ(EventCount(*b), 3u);

  // Heartbeats from each client reach their own controller.
  EXPECT_TRUE(WaitUntil([&] {
    return sim.State(left)["heartbeats"]["count"].get<int>() > 20 &&
           sim.State(right)["heartbeats"]["count"].get<int>() > 20;
  }, 3s, 20ms));

  // A silent controller disconnects only its own client.
  sim.Command("stop_states", {{"serial", right}});
  ASSERT_TRUE(WaitUntil([&] { return !b->connected.load(); }, 3s));
  EXPECT_TRUE(a->connected.load());
  sim.Command("start_states", {{"serial", right}});
  EXPECT_TRUE(WaitUntil([&] { return b->connected.load(); }, 2s));

  // Destroying one client leaves the other working.
  a.reset();
  ASSERT_EQ(b->operations_rpc.RequestServerVersion(version).code, 100000);
  EXPECT_TRUE(b->connected.load());
}

}  // namespace
