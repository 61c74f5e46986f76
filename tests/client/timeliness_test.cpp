// The timeliness monitor against the simulated controller's count of late
// real-time commands.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "tests/client/client_test_util.h"

namespace {

using namespace std::chrono_literals;
using quiral::test::SimProcess;
using quiral::test::UniqueSerial;
using quiral::test::WaitUntil;
using quiral_client_test::Clock;
using quiral_client_test::Seconds;
using quiral_client_test::StartClient;

// Sets the controller's count and waits until the client's snapshot shows it.
void SetLateCount(SimProcess& sim, const std::string& serial,
                  quiral::vek_impl::VEKClient& client, uint64_t count) {
  sim.Set(serial, {{"timeliness_failures", count}});
  ASSERT_TRUE(WaitUntil([&] { return client.rt_states_sub.TimelinessFailures() == count; }, 2s, 1ms));
}

// True when the flag stays false for the whole `period` (the monitor checks
// every millisecond, so a breach would show within a few).
bool StaysClear(const quiral::vek_impl::VEKClient& client, std::chrono::milliseconds period) {
  return !WaitUntil([&] { return client.timeliness_limit_reached.load(); }, period, 1ms);
}

TEST(ClientTimeliness, TwentyOneLateCommandsInOneSecondSetTheFlagTwentyDoNot) {
  const std::string serial = UniqueSerial("Varno4");
  SimProcess sim({serial});
  sim.Set(serial, {{"timeliness_failures", 1000}});
  auto client = StartClient(serial);
  EXPECT_DOUBLE_EQ(client->timeliness_failure_limit.load(), 2.0);
  ASSERT_EQ(client->rt_states_sub.TimelinessFailures(), 1000u);
  ASSERT_TRUE(StaysClear(*client, 300ms));

  // 21 more within the second: the flag rises at once ...
  const auto t_jump = Clock::now();
  SetLateCount(sim, serial, *client, 1021);
  ASSERT_TRUE(WaitUntil([&] { return client->timeliness_limit_reached.load(); }, 200ms, 1ms));
  // ... and falls once the older count has left the one-second window.
  ASSERT_TRUE(WaitUntil([&] { return !client->timeliness_limit_reached.load(); }, 3s, 1ms));
  const double held = Seconds(Clock::now() - t_jump);
  EXPECT_GE(held, 0.95);
  EXPECT_LT(held, 1.5);

  // 20 more within the second stay within the limit.
  SetLateCount(sim, serial, *client, 1041);
  EXPECT_TRUE(StaysClear(*client, 400ms));

  // A limit of 0 reacts to a single late command, once the 20 have left
  // the window.
  ASSERT_TRUE(StaysClear(*client, 1100ms));
  client->timeliness_failure_limit.store(0.0);
  ASSERT_TRUE(StaysClear(*client, 100ms));
  SetLateCount(sim, serial, *client, 1042);
  EXPECT_TRUE(WaitUntil([&] { return client->timeliness_limit_reached.load(); }, 200ms, 1ms));
}

TEST(ClientTimeliness, ACountFoundAtStartOrRestartedByTheControllerIsNoAlarm) {
  const std::string serial = UniqueSerial("Varno4");
  SimProcess sim({serial});
  // The controller has counted many late commands before the client starts.
  sim.Set(serial, {{"timeliness_failures", 5000000}});
  auto client = StartClient(serial);
  ASSERT_TRUE(WaitUntil([&] { return client->rt_states_sub.TimelinessFailures() == 5000000; }, 2s));
  EXPECT_TRUE(StaysClear(*client, 500ms));

  // The controller restarts its count: no wrap-around into a huge number.
  SetLateCount(sim, serial, *client, 3);
  EXPECT_TRUE(StaysClear(*client, 500ms));

  // Counting goes on from the new baseline.
  SetLateCount(sim, serial, *client, 30);
  EXPECT_TRUE(WaitUntil([&] { return client->timeliness_limit_reached.load(); }, 200ms, 1ms));
}

TEST(ClientTimeliness, LateCommandsCountedDuringASilenceAreNotPlacedInTheLastSecond) {
  const std::string serial = UniqueSerial("Varno4");
  SimProcess sim({serial});
  auto client = StartClient(serial);
  SetLateCount(sim, serial, *client, 10);
  sim.Command("stop_states", {{"serial", serial}});
  ASSERT_TRUE(WaitUntil([&] { return !client->connected.load(); }, 3s, 1ms));
  sim.Set(serial, {{"timeliness_failures", 500}});
  sim.Command("start_states", {{"serial", serial}});
  ASSERT_TRUE(WaitUntil([&] { return client->rt_states_sub.TimelinessFailures() == 500; }, 2s, 1ms));
  EXPECT_TRUE(StaysClear(*client, 300ms));
  SetLateCount(sim, serial, *client, 530);
  EXPECT_TRUE(WaitUntil([&] { return client->timeliness_limit_reached.load(); }, 200ms, 1ms));
}

}  // namespace
