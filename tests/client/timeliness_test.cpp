// The timeliness monitor against the simulated controller's count of late
// real-time commands.
#include <gtest/gtest.h>

#include <string>

#include "tests/client/client_test_util.h"

namespace quiral_client_test {
namespace {

class ClientTimeliness : public ::testing::Test {
 protected:
  // A controller that counted `late` late commands before the client came.
  void Start(uint64_t late) {
    sim_->Set(serial_, {{"timeliness_failures", late}});
    client_ = StartClient(serial_);
    ASSERT_TRUE(WaitUntil([&] { return Count() == late; }, 2s));
  }
  uint64_t Count() { return client_->rt_states_sub.TimelinessFailures(); }
  // Sets the controller's count and waits until the client has it.
  void SetLate(uint64_t late) {
    sim_->Set(serial_, {{"timeliness_failures", late}});
    ASSERT_TRUE(WaitUntil([&] { return Count() == late; }, 2s, 1ms));
  }
  bool Raised(std::chrono::milliseconds within = 200ms) {
    return WaitUntil([&] { return client_->timeliness_limit_reached.load(); }, within, 1ms);
  }
  bool Cleared() {
    return WaitUntil([&] { return !client_->timeliness_limit_reached.load(); }, 3s, 1ms);
  }
  // The monitor checks every millisecond: a breach would show within a few.
  bool StaysClear(std::chrono::milliseconds period) { return !Raised(period); }

  std::string serial_ = UniqueSerial();
  std::unique_ptr<SimProcess> sim_ =
      std::make_unique<SimProcess>(std::vector<std::string>{serial_});
  std::unique_ptr<VEKClient> client_;
};

TEST_F(ClientTimeliness, TwentyOneLateCommandsInOneSecondRaiseTheFlagTwentyDoNot) {
  Start(1000);  // counted before the client started: no alarm
  ASSERT_TRUE(StaysClear(300ms));
  // 21 more within the second: the flag rises at once, and falls once the
  // older count has left the one-second window.
  const auto jump = Clock::now();
  SetLate(1021);
  ASSERT_TRUE(Raised());
  ASSERT_TRUE(Cleared());
  EXPECT_GE(SecondsSince(jump), 0.95);
  EXPECT_LT(SecondsSince(jump), 1.5);
  // 20 more within the second stay within the limit.
  SetLate(1041);
  EXPECT_TRUE(StaysClear(400ms));
}

TEST_F(ClientTimeliness, ARestartedCountOrOneCountedDuringASilenceIsNoAlarm) {
  Start(5000000);
  // The controller restarts its count: no wrap-around into a huge number,
  // and counting goes on from the new baseline.
  SetLate(3);
  EXPECT_TRUE(StaysClear(500ms));
  SetLate(30);
  EXPECT_TRUE(Raised());
  ASSERT_TRUE(Cleared());
  // Late commands counted while the states were silent are not placed in
  // the last second.
  sim_->Command("stop_states", {{"serial", serial_}});
  ASSERT_TRUE(WaitUntil([&] { return !client_->connected.load(); }, 3s, 1ms));
  sim_->Set(serial_, {{"timeliness_failures", 500}});
  sim_->Command("start_states", {{"serial", serial_}});
  ASSERT_TRUE(WaitUntil([&] { return Count() == 500; }, 2s, 1ms));
  EXPECT_TRUE(StaysClear(300ms));
  SetLate(530);
  EXPECT_TRUE(Raised());
}

}  // namespace
}  // namespace quiral_client_test
