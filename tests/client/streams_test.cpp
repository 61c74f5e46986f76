// Real-time states, data stream, event log and motion commands of a full
// client against the simulated controller.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
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

TEST_F(Streams, StatesAndTheBasicStreamFollowTheController) {
  auto& rt = env_.client->rt_states_sub;
  auto& stream = env_.client->lumo_data_stream;
  EXPECT_EQ(rt.CurrExtCtrlMode(), 1);  // IDLE
  Set({{"mode", 9},
       {"program_running", true},
       {"gripper", {{"width", 0.0625}, {"force", 12.5}, {"is_moving", true}}}});
  ASSERT_TRUE(WaitUntil([&] { return rt.CurrExtCtrlMode() == 9 && rt.ProgramRunning(); }, 2s));
  const auto gripper = rt.GripperStates();
  EXPECT_EQ(gripper.width, 0.0625);
  EXPECT_EQ(gripper.force, 12.5);
  EXPECT_TRUE(gripper.is_moving);
  // 16 bits on the wire, read back as a signed value.
  Set({{"mode", 65535}, {"program_running", false}});
  EXPECT_TRUE(WaitUntil([&] { return rt.CurrExtCtrlMode() == -1 && !rt.ProgramRunning(); }, 2s));

  ASSERT_TRUE(WaitUntil([&] { return stream.GetRobotStates().link_position.size() == 7; }, 2s));
  EXPECT_EQ(stream.SafetyBoardState(), qor::SafetyBoardState::CAT_1_STOP);
  EXPECT_EQ(stream.GetSystemState(), qor::SystemState::STOPPED_EXTERNAL_AUTO);
  const json joints = env_.sim.State(env_.serial)["joints"];
  const auto states = stream.GetRobotStates();
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(states.link_position[i], static_cast<double>(joints["position"][i].get<float>()))
        << i;
  }
  EXPECT_EQ(states.motor_velocity.size(), 7u);
  EXPECT_TRUE(states.timestamp[0] != 0 || states.timestamp[1] != 0);
  EXPECT_EQ(stream.GetRobotActions().torque_des.size(), 7u);

  std::array<bool, 18> inputs{};
  inputs[0] = inputs[17] = true;
  Set({{"estop", true},
       {"enabling_button", true},
       {"digital_inputs", inputs},
       {"safety_board_state", -1},
       {"system_state", 15},
       {"ext_wrench", {1, 2, 3, 4, 5, 6}}});
  ASSERT_TRUE(WaitUntil([&] { return stream.GetRobotStates().ext_wrench_in_tcp[5] == 6.0; }, 2s));
  EXPECT_TRUE(stream.SafetyInputs()[7]);  // e-stop
  EXPECT_TRUE(stream.SafetyInputs()[5]);  // enabling button
  EXPECT_EQ(stream.GetDigitalInput(), inputs);
  EXPECT_EQ(stream.SafetyBoardState(), qor::SafetyBoardState::UNKNOWN);
  EXPECT_EQ(stream.GetSystemState(), qor::SystemState::FAULT_EXTERNAL_AUTO);
  auto with_wrench = stream.GetRobotStates();
  auto expected = with_wrench;
  stream.SetExtWrenchInWorld(expected);
  EXPECT_EQ(with_wrench.ext_wrench_in_world, expected.ext_wrench_in_world);
  EXPECT_EQ(with_wrench.ext_wrench_in_tcp_raw, (std::array<double, 6>{1, 2, 3, 4, 5, 6}));
}

TEST_F(Streams, EventLogKeepsEveryEntryAndPrintsTheFourKnownLevels) {
  for (int level = 0; level <= 5; ++level) {
    env_.sim.Command("event", {{"serial", env_.serial},
                               {"level", level},
                               {"event_id", 100 + level},
                               {"description", "entry " + std::to_string(level)},
                               {"consequences", "c"},
                               {"probable_causes", "p"},
                               {"recommended_actions", "r"}});
  }
  // The same id twice: both kept.
  env_.sim.Command(
      "event",
      {{"serial", env_.serial}, {"level", 2}, {"event_id", 102}, {"description", "again"}});
  auto& log_event = env_.client->lumo_log_event;
  ASSERT_TRUE(WaitUntil([&] { return EventCount(log_event) == 7; }, 5s));
  std::vector<quiral::vek::RobotEvent> list;
  {
    std::lock_guard<std::mutex> lock(log_event.mutex);
    list = log_event.event_list;
  }
  for (int level = 0; level <= 5; ++level) {
    EXPECT_EQ(list[level].level, level);
    EXPECT_EQ(list[level].id, 100 + level);
    EXPECT_EQ(list[level].description, "entry " + std::to_string(level));
    EXPECT_EQ(
        list[level].consequences + list[level].probable_causes + list[level].recommended_actions,
        "cpr");
  }
  EXPECT_EQ(list[6].description, "again");
  for (size_t i = 1; i < list.size(); ++i) EXPECT_GE(list[i].timestamp, list[i - 1].timestamp);

  // Each line is printed right after its entry was stored.
  ASSERT_TRUE(log_.WaitFor("[Event Log] [102] again", 2s));
  EXPECT_EQ(log_.Count(spdlog::level::info, "[Event Log] [101] entry 1"), 1);
  EXPECT_EQ(log_.Count(spdlog::level::warn, "[Event Log] [102] entry 2"), 1);
  EXPECT_EQ(log_.Count(spdlog::level::err, "[Event Log] [103] entry 3"), 1);
  EXPECT_EQ(log_.Count(spdlog::level::critical, "[Event Log] [104] entry 4"), 1);
  EXPECT_EQ(log_.CountContaining("entry 0") + log_.CountContaining("entry 5"), 0);
}

vek_msgs::msg::JointCommands JointCommandsOf(float value) {
  vek_msgs::msg::JointCommands jc;
  jc.position(std::vector<float>(7, value));
  jc.velocity(std::vector<float>(7, value));
  jc.max_vel(std::vector<float>(7, 1.0f));
  return jc;
}

vek_msgs::msg::CartesianCommands CartesianCommandsOf(float x) {
  vek_msgs::msg::CartesianCommands cc;
  cc.pose({x, 0.1f, 0.5f, 0, 1, 0, 0});
  cc.max_linear_vel(0.5f);
  return cc;
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
      motion.SetJointCommands(JointCommandsOf(v), static_cast<uint64_t>(i));
    } else {
      motion.SetCartesianMultiCommands({CartesianCommandsOf(v)}, {std::vector<float>(7, v)},
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
    const auto& joint = m["joint"]["position"];
    const auto& multi = m["joint_multi_positions"];
    if (seq == 0) {
      EXPECT_TRUE(joint.empty() && multi.empty() && m["cartesian_multi"].empty());
      continue;
    }
    ++streamed;
    const float v = static_cast<float>(seq);
    if (seq % 2 == 0) {
      ASSERT_EQ(joint.size(), 7u) << seq;
      for (const auto& p : joint) EXPECT_EQ(p.get<float>(), v) << seq;
      for (const auto& p : m["joint"]["velocity"]) EXPECT_EQ(p.get<float>(), v) << seq;
    } else {
      ASSERT_EQ(multi.size(), 1u) << seq;
      for (const auto& p : multi[0]) EXPECT_EQ(p.get<float>(), v) << seq;
      ASSERT_EQ(m["cartesian_multi"].size(), 1u) << seq;
      EXPECT_EQ(m["cartesian_multi"][0]["pose"][0].get<float>(), v) << seq;
    }
  }
  EXPECT_GT(streamed, 0u);
}

}  // namespace
}  // namespace quiral_client_test
