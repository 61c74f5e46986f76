// Real-time states, data streams, the event log and motion commands of a
// full client against the simulated controller.
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/client/client_test_util.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using quiral::test::SimProcess;
using quiral::test::UniqueSerial;
using quiral::test::WaitUntil;
using quiral_client_test::LogCapture;
using quiral_client_test::StartClient;

class Streams : public ::testing::Test {
 protected:
  void SetUp() override {
    serial_ = UniqueSerial("Varno4");
    sim_ = std::make_unique<SimProcess>(std::vector<std::string>{serial_});
    client_ = StartClient(serial_);
    ASSERT_TRUE(sim_->WaitMatched(serial_, 5s));
  }

  LogCapture log_;
  std::string serial_;
  std::unique_ptr<SimProcess> sim_;
  std::unique_ptr<quiral::vek_impl::VEKClient> client_;
};

TEST_F(Streams, RealtimeStatesFollowTheController) {
  auto& rt = client_->rt_states_sub;
  EXPECT_GT(rt.SampleCount(), 0u);
  EXPECT_EQ(rt.CurrExtCtrlMode(), 1);  // IDLE
  sim_->Set(serial_, {{"mode", 9}, {"program_running", true},
                      {"gripper", {{"width", 0.0625}, {"force", 12.5}, {"is_moving", true}}}});
  ASSERT_TRUE(WaitUntil([&] { return rt.CurrExtCtrlMode() == 9 && rt.ProgramRunning(); }, 2s));
  const auto gripper = rt.GripperStates();
  EXPECT_EQ(gripper.width, 0.0625);
  EXPECT_EQ(gripper.force, 12.5);
  EXPECT_TRUE(gripper.is_moving);
  // 16 bits on the wire, read back as a signed value.
  sim_->Set(serial_, {{"mode", 65535}, {"program_running", false}});
  EXPECT_TRUE(WaitUntil([&] { return rt.CurrExtCtrlMode() == -1 && !rt.ProgramRunning(); }, 2s));
  // Samples keep being counted.
  const uint64_t count = rt.SampleCount();
  EXPECT_TRUE(WaitUntil([&] { return rt.SampleCount() >= count + 10; }, 2s));
}

TEST_F(Streams, StatusInputsAndMeasuredValuesFromTheBasicStream) {
  auto& stream = client_->lumo_data_stream;
  ASSERT_TRUE(WaitUntil([&] { return stream.GetRobotStates().link_position.size() == 7; }, 2s));
  EXPECT_EQ(stream.SafetyBoardState(), qor::SafetyBoardState::CAT_1_STOP);
  EXPECT_EQ(stream.GetSystemState(), qor::SystemState::STOPPED_EXTERNAL_AUTO);
  EXPECT_FALSE(stream.SafetyInputs()[7]);

  const json state = sim_->State(serial_);
  const auto states = stream.GetRobotStates();
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(states.link_position[i],
              static_cast<double>(state["joints"]["position"][i].get<float>())) << i;
  }
  EXPECT_EQ(states.motor_velocity.size(), 7u);
  EXPECT_EQ(states.temperature.size(), 7u);
  EXPECT_GT(std::abs(states.tcp_pose[2]), 0.0);
  EXPECT_NE(states.timestamp[0] + states.timestamp[1], 0);
  const auto actions = stream.GetRobotActions();
  EXPECT_EQ(actions.position_des.size(), 7u);
  EXPECT_EQ(actions.torque_des.size(), 7u);

  std::array<bool, 18> inputs{};
  inputs[0] = inputs[17] = true;
  sim_->Set(serial_, {{"estop", true}, {"enabling_button", true}, {"digital_inputs", inputs},
                      {"safety_board_state", -1}, {"system_state", 15},
                      {"ext_wrench", {1, 2, 3, 4, 5, 6}}});
  ASSERT_TRUE(WaitUntil([&] { return stream.SafetyInputs()[7]; }, 2s));
  ASSERT_TRUE(WaitUntil([&] { return stream.SafetyBoardState() == qor::SafetyBoardState::UNKNOWN; }, 2s));
  EXPECT_TRUE(stream.SafetyInputs()[5]);
  EXPECT_EQ(stream.GetDigitalInput(), inputs);
  EXPECT_EQ(stream.GetSystemState(), qor::SystemState::FAULT_EXTERNAL_AUTO);
  ASSERT_TRUE(WaitUntil([&] { return stream.GetRobotStates().ext_wrench_in_tcp[5] == 6.0; }, 2s));
  auto with_wrench = stream.GetRobotStates();
  auto expected = with_wrench;
  stream.SetExtWrenchInWorld(expected);
  EXPECT_EQ(with_wrench.ext_wrench_in_world, expected.ext_wrench_in_world);
  EXPECT_EQ(with_wrench.ext_wrench_in_tcp_raw, (std::array<double, 6>{1, 2, 3, 4, 5, 6}));
}

TEST_F(Streams, EventLogKeepsEveryEntryAndPrintsTheFourKnownLevels) {
  for (int level = 0; level <= 5; ++level) {
    sim_->Command("event", {{"serial", serial_}, {"level", level}, {"event_id", 100 + level},
                            {"description", "entry " + std::to_string(level)},
                            {"consequences", "c"}, {"probable_causes", "p"},
                            {"recommended_actions", "r"}});
  }
  // The same id twice: both kept.
  sim_->Command("event", {{"serial", serial_}, {"level", 2}, {"event_id", 102},
                          {"description", "again"}});
  auto& log_event = client_->lumo_log_event;
  auto events = [&] {
    std::lock_guard<std::mutex> lock(log_event.mutex);
    return log_event.event_list;
  };
  ASSERT_TRUE(WaitUntil([&] { return events().size() == 7; }, 5s));
  const auto list = events();
  for (int level = 0; level <= 5; ++level) {
    EXPECT_EQ(list[level].level, level);
    EXPECT_EQ(list[level].id, 100 + level);
    EXPECT_EQ(list[level].description, "entry " + std::to_string(level));
    EXPECT_EQ(list[level].consequences, "c");
    EXPECT_EQ(list[level].probable_causes, "p");
    EXPECT_EQ(list[level].recommended_actions, "r");
  }
  EXPECT_EQ(list[6].id, 102);
  EXPECT_EQ(list[6].description, "again");
  for (size_t i = 1; i < list.size(); ++i) EXPECT_GE(list[i].timestamp, list[i - 1].timestamp);
  EXPECT_LE(list.back().timestamp, std::chrono::system_clock::now());

  // Each line is printed right after its entry was stored.
  ASSERT_TRUE(log_.WaitFor("[Event Log] [102] again", 2s));
  EXPECT_EQ(log_.Count("[Event Log] [101] entry 1", spdlog::level::info), 1u);
  EXPECT_EQ(log_.Count("[Event Log] [102] entry 2", spdlog::level::warn), 1u);
  EXPECT_EQ(log_.Count("[Event Log] [103] entry 3", spdlog::level::err), 1u);
  EXPECT_EQ(log_.Count("[Event Log] [104] entry 4", spdlog::level::critical), 1u);
  EXPECT_EQ(log_.Count("[Event Log] [102] again", spdlog::level::warn), 1u);
  EXPECT_EQ(log_.CountContaining("entry 0"), 0u);
  EXPECT_EQ(log_.CountContaining("entry 5"), 0u);
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

TEST_F(Streams, MotionCommandSettersChangeOnlyTheirOwnFields) {
  auto& motion = client_->motion_commands_pub;
  size_t seen = 0;
  // Publishes and returns the controller's record of it (best effort on
  // loopback: sent again until it arrives).
  auto publish = [&]() -> json {
    json record;
    EXPECT_TRUE(WaitUntil(
        [&] {
          EXPECT_EQ(motion.Publish().code, 100000);
          return WaitUntil(
              [&] {
                const json got = sim_->MotionCommands(serial_, seen);
                if (got["items"].empty()) return false;
                record = got["items"].back();
                seen = got["total"].get<size_t>();
                return true;
              },
              200ms, 5ms);
        },
        3s, 1ms));
    return record;
  };

  motion.SetCartesianMultiCommands({CartesianCommandsOf(0.3f), CartesianCommandsOf(0.4f)},
                                   {std::vector<float>(7, 0.1f), std::vector<float>(7, 0.2f)}, 1);
  json r = publish();
  EXPECT_EQ(r["sequence_num"].get<uint64_t>(), 1u);
  EXPECT_EQ(r["cartesian_multi"].size(), 2u);
  EXPECT_EQ(r["joint_multi_positions"].size(), 2u);
  EXPECT_EQ(r["cartesian"]["pose"][0].get<float>(), 0.0f);

  motion.SetJointCommands(JointCommandsOf(0.25f), 2);
  r = publish();
  EXPECT_EQ(r["sequence_num"].get<uint64_t>(), 2u);
  EXPECT_EQ(r["joint"]["position"][6].get<float>(), 0.25f);
  EXPECT_EQ(r["cartesian_multi"].size(), 2u);  // kept
  EXPECT_EQ(r["joint_multi_positions"][1][0].get<float>(), 0.2f);

  motion.SetCartesianCommands(CartesianCommandsOf(0.35f), 3);
  r = publish();
  EXPECT_EQ(r["sequence_num"].get<uint64_t>(), 3u);
  EXPECT_EQ(r["cartesian"]["pose"][0].get<float>(), 0.35f);
  EXPECT_TRUE(r["cartesian_multi"].empty());
  EXPECT_TRUE(r["joint_multi_positions"].empty());
  EXPECT_EQ(r["joint"]["position"].size(), 7u);  // kept

  motion.Clear();
  r = publish();
  EXPECT_EQ(r["sequence_num"].get<uint64_t>(), 0u);
  EXPECT_TRUE(r["joint"]["position"].empty());
  EXPECT_EQ(r["cartesian"]["pose"][0].get<float>(), 0.0f);
}

TEST_F(Streams, AClearFromAnotherThreadNeverTearsAStreamedCommand) {
  auto& motion = client_->motion_commands_pub;
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
        got = sim_->MotionCommands(serial_);
        return got["total"].get<size_t>() > kCommands / 2;
      },
      5s, 20ms));
  // Each message is a whole one: all-default after a Clear, or the fields
  // of one sequence number.
  size_t cleared = 0, streamed = 0;
  for (const auto& m : got["items"]) {
    const uint64_t seq = m["sequence_num"].get<uint64_t>();
    const auto& joint = m["joint"]["position"];
    const auto& multi = m["joint_multi_positions"];
    if (seq == 0) {
      ++cleared;
      EXPECT_TRUE(joint.empty());
      EXPECT_TRUE(multi.empty());
      EXPECT_TRUE(m["cartesian_multi"].empty());
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
  EXPECT_GT(cleared + streamed, static_cast<size_t>(kCommands / 2));
}

}  // namespace
