// One Robot used from two threads, as the collision monitor does: the user
// streams motion commands at 1 kHz while another thread stops the arm and
// switches its mode; a stop overtakes a switch whose request goes
// unanswered. Under ThreadSanitizer (scripts/run-sanitizers.sh) a data race
// fails the test process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "msgs/vek_msgs/joint_commands.h"
#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;
using std::chrono::steady_clock;

TEST(RobotThreadsTest, StopFromAnotherThreadWhileStreaming) {
  SimRobot env;
  Robot* robot = env.robot.get();
  ASSERT_TRUE(env.sim.WaitMatched(env.serial, 10s, {"motion_commands"}));
  robot->SwitchMode(Mode::RT_JOINT_POSITION);

  // The stream: each command carries its own running number k in its
  // first velocity, so that the controller's records show which command
  // got which sequence number.
  std::atomic<bool> done{false};
  std::atomic<int> published{0};
  std::thread streamer([&] {
    const std::vector<float> home = {0.0f, -0.7f, 0.0f, 1.57f, 0.0f, 0.7f, 0.0f};
    auto next = steady_clock::now();
    for (int k = 1; !done.load(); ++k) {
      vek_msgs::msg::JointCommands command;
      command.position(home);
      command.velocity(std::vector<float>(7, 0.0f));
      command.velocity()[0] = static_cast<float>(k);
      (void)robot->states();  // as a control loop would
      env.impl().PublishJointCommand(command);
      published.store(k);
      next += 1ms;
      std::this_thread::sleep_until(next);
    }
  });

  // The other thread: stop, then resume streaming mode, three times.
  std::thread monitor([&] {
    for (int round = 0; round < 3; ++round) {
      const int from = published.load();
      WaitUntil([&] { return published.load() >= from + 150; }, 10s, 1ms);
      robot->Stop();
      robot->SwitchMode(Mode::RT_JOINT_POSITION);
    }
  });
  monitor.join();
  const int until = published.load();
  WaitUntil([&] { return published.load() >= until + 100; }, 10s, 1ms);
  done.store(true);
  streamer.join();
  const int total = published.load();

  // Every command reached the controller whole, and the counter moved by
  // one per command except where a mode switch restarted it.
  json items;
  WaitUntil(
      [&] {
        items = env.sim.MotionCommands(env.serial)["items"];
        return items.size() >= static_cast<size_t>(total) * 9 / 10 &&
               items.back()["joint"]["velocity"][0].get<float>() >= static_cast<float>(total - 5);
      },
      5s, 50ms);
  ASSERT_GE(items.size(), static_cast<size_t>(total) * 9 / 10)
      << "of " << total << " commands published";
  int restarts = 0;
  long last_k = 0;
  uint64_t last_seq = 0;
  for (const json& item : items) {
    const json& joint = item["joint"];
    ASSERT_EQ(joint["position"].size(), 7u) << item.dump();
    ASSERT_EQ(joint["velocity"].size(), 7u) << item.dump();
    const long k = static_cast<long>(joint["velocity"][0].get<float>());
    const uint64_t seq = item["sequence_num"].get<uint64_t>();
    ASSERT_GE(seq, 1u) << item.dump();
    ASSERT_GT(k, last_k) << item.dump();
    if (last_k != 0) {
      const uint64_t steps = static_cast<uint64_t>(k - last_k);
      if (seq != last_seq + steps) {
        // Restarted in between: counts only the commands since then.
        ASSERT_LE(seq, steps) << "k " << last_k << " -> " << k << ", seq " << last_seq << " -> "
                              << seq;
        ++restarts;
      }
    }
    last_k = k;
    last_seq = seq;
  }
  EXPECT_GE(restarts, 3);
  EXPECT_LE(restarts, 6);
}

// The stop waits only for the switch's request on the wire (2 s without a
// reply), not for its second attempt; the switch then sends nothing more.
TEST(RobotThreadsTest, AStopOvertakesASwitchWhoseRequestGoesUnanswered) {
  SimRobot env;
  env.sim.Fault(env.serial, {{"procedure_id", 7}, {"kind", "no_reply"}});
  const size_t ops = env.OpsTotal();
  auto switching = std::async(std::launch::async, [&] {
    EXPECT_TRUE(Throws<std::runtime_error>([&] { env.robot->SwitchMode(Mode::RT_JOINT_POSITION); },
                                           P("SwitchMode") + " Interrupted by a stop"));
  });
  ASSERT_TRUE(WaitUntil([&] { return !env.Requests(ops, 7).empty(); }, 3s));
  env.robot->Stop();
  switching.get();
  EXPECT_EQ(env.IntArgs(7, ops), (std::vector<std::vector<int>>{{5}, {1}}));
  EXPECT_EQ(env.robot->mode(), Mode::IDLE);
}

}  // namespace
}  // namespace quiral::vek
