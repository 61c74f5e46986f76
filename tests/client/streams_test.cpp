// Real-time states, data stream, event log and motion commands of a full
// client against the simulated controller.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/client/client_test_util.h"

namespace quiral_client_test {
namespace {

class Streams : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(env_.sim.WaitMatched(env_.serial, 5s)); }
  void Set(const json& fields) { env_.sim.Set(env_.serial, fields); }

  LogCapture log_;  // outlives the client
  SimClient env_;
};

// 16 bits on the wire, read back as signed values; floats widened.
TEST_F(Streams, StatesAndTheBasicStreamFollowTheController) {
  auto& rt = env_.client->rt_states_sub;
  auto& stream = env_.client->lumo_data_stream;
  Set({{"mode", 65535}, {"gripper", {{"width", 0.0625}, {"force", 12.5}, {"is_moving", true}}}});
  ASSERT_TRUE(WaitUntil([&] { return rt.CurrExtCtrlMode() == -1; }, 2s));
  const auto gripper = rt.GripperStates();
  EXPECT_EQ(std::make_tuple(gripper.width, gripper.force, gripper.is_moving),
            std::make_tuple(0.0625, 12.5, true));
  Set({{"estop", true}, {"safety_board_state", -1}, {"ext_wrench", {1, 2, 3, 4, 5, 6}}});
  ASSERT_TRUE(WaitUntil([&] { return stream.GetRobotStates().ext_wrench_in_tcp[5] == 6.0; }, 2s));
  EXPECT_TRUE(stream.SafetyInputs()[7]);  // e-stop
  EXPECT_EQ(stream.SafetyBoardState(), qor::SafetyBoardState::UNKNOWN);
  EXPECT_EQ(stream.GetRobotStates().ext_wrench_in_tcp_raw,
            (std::array<double, 6>{1, 2, 3, 4, 5, 6}));
}

// Every entry is kept, also a repeated one; the four known levels are
// printed, each at its own log level.
TEST_F(Streams, EventLogKeepsEveryEntryAndPrintsTheFourKnownLevels) {
  for (const int level : {0, 1, 2, 3, 4, 5, 2}) {
    env_.sim.Command("event", {{"serial", env_.serial},
                               {"level", level},
                               {"event_id", 100 + level},
                               {"description", "entry " + std::to_string(level)},
                               {"recommended_actions", "r"}});
  }
  auto& log_event = env_.client->lumo_log_event;
  ASSERT_TRUE(WaitUntil([&] { return log_event.events().size() == 7; }, 5s));
  const std::vector<quiral::vek::RobotEvent> list = log_event.events();
  EXPECT_EQ(std::to_string(list[3].level) + " " + std::to_string(list[3].id) + " " +
                list[3].description + " " + list[3].recommended_actions,
            "3 103 entry 3 r");
  EXPECT_EQ(list[6].id, 102);
  ASSERT_TRUE(log_.WaitFor("[Event Log] [102] entry 2", 2s, 2));
  EXPECT_EQ(log_.Count(spdlog::level::info, "[Event Log] [101] entry 1"), 1);
  EXPECT_EQ(log_.Count(spdlog::level::warn, "[Event Log] [102] entry 2"), 2);
  EXPECT_EQ(log_.Count(spdlog::level::err, "[Event Log] [103] entry 3"), 1);
  EXPECT_EQ(log_.Count(spdlog::level::critical, "[Event Log] [104] entry 4"), 1);
}

TEST_F(Streams, AClearFromAnotherThreadNeverTearsAStreamedCommand) {
  auto& motion = env_.client->motion_commands_pub;
  std::atomic<bool> streaming{true};
  std::thread stopper([&] {
    while (streaming.load()) {
      motion.Clear();
      std::this_thread::yield();
    }
  });
  constexpr int kCommands = 3000;
  for (int i = 1; i <= kCommands; ++i) {
    const float v = static_cast<float>(i);
    if (i % 2 == 0) {
      vek_msgs::msg::JointCommands joint;
      joint.position(std::vector<float>(7, v));
      joint.velocity(std::vector<float>(7, v));
      motion.SetJointCommands(joint, static_cast<uint64_t>(i));
    } else {
      vek_msgs::msg::CartesianCommands cartesian;
      cartesian.pose({v, 0.1f, 0.5f, 0, 1, 0, 0});
      motion.SetCartesianMultiCommands({cartesian}, {std::vector<float>(7, v)},
                                       static_cast<uint64_t>(i));
    }
    motion.Publish();
    if (i % 100 == 0) std::this_thread::sleep_for(1ms);  // let the controller keep up
  }
  streaming.store(false);
  stopper.join();

  json got;
  ASSERT_TRUE(WaitUntil(
      [&] {
        got = env_.sim.MotionCommands(env_.serial);
        return got["total"].get<size_t>() > kCommands / 2;
      },
      5s, 20ms));
  // Each message is a whole one: all-default after a Clear, or the fields
  // of one sequence number.
  size_t streamed = 0;
  for (const auto& m : got["items"]) {
    const uint64_t seq = m["sequence_num"].get<uint64_t>();
    const json seven = std::vector<float>(7, static_cast<float>(seq));
    if (seq == 0) {
      EXPECT_TRUE(m["joint"]["position"].empty() && m["joint_multi_positions"].empty() &&
                  m["cartesian_multi"].empty());
    } else if (++streamed, seq % 2 == 0) {
      EXPECT_EQ(m["joint"]["position"], seven) << seq;
      EXPECT_EQ(m["joint"]["velocity"], seven) << seq;
    } else {
      EXPECT_EQ(m["joint_multi_positions"], json::array({seven})) << seq;
      EXPECT_EQ(m["cartesian_multi"].at(0)["pose"][0], seven[0]) << seq;
    }
  }
  EXPECT_GT(streamed, 0u);
}

}  // namespace
}  // namespace quiral_client_test
