// Start-up, connection monitor and heartbeat against a simulated controller
// in its own process.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/client/client_test_util.h"

namespace quiral_client_test {
namespace {

// Destroys the client: the monitor threads end at once.
void ExpectQuickDestruction(std::unique_ptr<VEKClient>& client) {
  const auto start = Clock::now();
  client.reset();
  EXPECT_LT(SecondsSince(start), 1.5);
}

TEST(ClientConnection, ConnectsBeatsAtAbout100HzAndFollowsTheStates) {
  const std::string serial = UniqueSerial();
  SimProcess sim({serial});
  const auto t0 = Clock::now();
  auto client = StartClient(serial);
  // Six endpoint pauses, two request/reply clients and the first sample.
  EXPECT_GE(SecondsSince(t0), 0.95);
  EXPECT_LT(SecondsSince(t0), 3.5);
  EXPECT_TRUE(client->connected.load());
  // Every endpoint is seen by the controller, on its own topic.
  EXPECT_TRUE(sim.WaitMatched(serial, 5s));

  // A 10 ms period without compensation is a little under 100 beats per
  // second (fewer on a loaded machine), but well above a 20 ms period's 50.
  json beats;
  ASSERT_TRUE(WaitUntil(
      [&] {
        beats = sim.Command("heartbeats", {{"serial", serial}})["t_ns"];
        return beats.size() > 2 &&
               beats.back().get<int64_t>() - beats.front().get<int64_t>() > 2500000000;
      },
      10s, 50ms));
  const int64_t from = beats.front().get<int64_t>() + 250000000;
  int in_window = 0;
  for (const auto& t : beats) in_window += t >= from && t < from + 2000000000;
  EXPECT_GE(in_window, 2 * 65);
  EXPECT_LE(in_window, 2 * 101);

  // Silent states: disconnected after one second; the next sample
  // reconnects at once. Twice, so the monitor is seen to re-arm.
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    const auto stopped = Clock::now();
    sim.Command("stop_states", {{"serial", serial}});
    ASSERT_TRUE(WaitUntil([&] { return !client->connected.load(); }, 3s, 1ms));
    EXPECT_GE(SecondsSince(stopped), 0.98);
    EXPECT_LT(SecondsSince(stopped), 1.5);
    const auto started = Clock::now();
    sim.Command("start_states", {{"serial", serial}});
    ASSERT_TRUE(WaitUntil([&] { return client->connected.load(); }, 2s, 1ms));
    EXPECT_LT(SecondsSince(started), 0.3);
  }

  // A second start is refused rather than crashing on a running monitor.
  EXPECT_THROW(client->Init(serial, false), std::logic_error);
  ExpectQuickDestruction(client);
}

TEST(ClientConnection, NoControllerFailsAfterTheStartupWaitAndStaysDestructible) {
  LogCapture log;
  const std::string serial = UniqueSerial() + "-X";  // nobody serves it
  auto client = std::make_unique<VEKClient>(kLoopback, /*verbose=*/true);
  std::string error;
  try {
    client->Init(serial, false);
  } catch (const std::runtime_error& e) {
    error = e.what();
  }
  const auto failed_at = Clock::now();
  EXPECT_EQ(error,
            "[quiral::vek::Robot] Failed to connect to [" + serial +
                "]. Please check that: a) Remote mode (Ethernet) is enabled on the target robot; "
                "b) Ethernet connection with the target robot is established; c) The specified "
                "serial number of the target robot is correct; d) No firewall is active or this "
                "VEK program is whitelisted; e) VEK version is compatible with the target "
                "robot's software version");
  // The wait starts right after the search is announced and lasts 10 × 200 ms.
  const auto searching = log.FirstTime("[quiral::vek::Robot] Searching for [" + serial + "] ...");
  ASSERT_NE(searching, Clock::time_point{});
  const double waited = std::chrono::duration<double>(failed_at - searching).count();
  EXPECT_GE(waited, 1.99);
  EXPECT_LT(waited, 2.5);
  ExpectQuickDestruction(client);
}

}  // namespace
}  // namespace quiral_client_test
