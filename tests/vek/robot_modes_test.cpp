// Control modes, enabling, fault clearing, stopping, automatic recovery,
// brakes and the external-axis switches of a Robot against the simulated
// controller.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "msgs/vek_msgs/joint_commands.h"
#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;
using std::chrono::steady_clock;
using Ints = std::vector<std::vector<int>>;

const std::vector<double> kHome = {0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0};

vek_msgs::msg::JointCommands PositionCommand(const std::vector<double>& q) {
  vek_msgs::msg::JointCommands command;
  command.position(AsFloats(q));
  return command;
}

// Milliseconds of the first standstill wait logged; -1 when none was.
long StandstillMillis(const LogCapture& log) {
  const auto lines = log.Starting(
      spdlog::level::debug, "[quiral::vek::Robot] Time taken to decelerate and stop the robot: ");
  if (lines.empty()) return -1;
  const size_t start = lines[0].rfind(": ") + 2;
  return std::stol(lines[0].substr(start, lines[0].size() - start - 3));
}

class RobotModesTest : public RobotTest {
 protected:
  Robot::Impl& impl() { return env_->impl(); }
  // Puts the controller into the raw `mode` and waits until the Robot has it.
  void ForceMode(int mode) {
    env_->sim.Set(env_->serial, {{"mode", mode}});
    ASSERT_TRUE(
        WaitUntil([&] { return robot().mode() == (mode > 12 ? Mode::UNKNOWN : Mode(mode)); }, 2s));
  }
  bool BackInIdle() {
    return env_->sim.WaitForState(
        env_->serial, [](const json& s) { return s["mode"] == 1; }, 3s);
  }
};

TEST_F(RobotModesTest, SwitchModeGoesThroughIdleAndRestartsTheCounter) {
  ASSERT_TRUE(env_->sim.WaitMatched(env_->serial, 5s, {"motion_commands"}));
  impl().verbose = true;
  LogCapture log(spdlog::level::debug);
  size_t ops = env_->OpsTotal();
  // From IDLE one request, and the mode is seen when the call returns;
  // three commands set the arm moving.
  robot().SwitchMode(Mode::RT_JOINT_POSITION);
  EXPECT_EQ(env_->IntArgs(7, ops), (Ints{{5}}));
  EXPECT_EQ(robot().mode(), Mode::RT_JOINT_POSITION);
  const size_t motion = env_->MotionTotal();
  std::vector<double> far = kHome;
  far[0] = 1.2;
  for (int i = 0; i < 3; ++i) impl().PublishJointCommand(PositionCommand(far));
  EXPECT_EQ(env_->NextMotion(motion, 3).at(2)["sequence_num"], 3);
  ASSERT_TRUE(WaitUntil([&] { return robot().states().motor_velocity.at(0) > 1.0; }, 2s));

  // The same mode again: IDLE, a wait in 10 ms steps until the arm stands
  // still, then the mode; the held command is dropped, the series restarts.
  ops = env_->OpsTotal();
  robot().SwitchMode(Mode::RT_JOINT_POSITION);
  EXPECT_TRUE(robot().stopped());
  EXPECT_EQ(env_->IntArgs(7, ops), (Ints{{1}, {5}}));
  const long waited = StandstillMillis(log);
  EXPECT_GE(waited, 50);
  EXPECT_LT(waited, 700);
  EXPECT_EQ(waited % 10, 0);
  EXPECT_EQ(env_->Counter(), 0u);
  impl().verbose = false;
}

// A switch from a robot that never comes to rest waits 700 ms in IDLE
// before its second request. A Stop from another thread during that wait
// does not wait for it, and the switch then ends without its second request.
TEST_F(RobotModesTest, TheStandstillWaitEndsAfter700MillisecondsAndAStopOvertakesTheSwitch) {
  ForceMode(5);
  env_->Set({{"velocity_override", std::vector<double>(7, 0.3)}});
  ASSERT_FALSE(robot().stopped());
  LogCapture log(spdlog::level::debug);
  size_t ops = env_->OpsTotal();
  const auto start = steady_clock::now();
  robot().SwitchMode(Mode::RT_JOINT_TORQUE);
  EXPECT_GE(steady_clock::now() - start, 700ms);
  EXPECT_EQ(StandstillMillis(log), 700);
  EXPECT_EQ(env_->IntArgs(7, ops), (Ints{{1}, {2}}));

  ForceMode(5);
  ops = env_->OpsTotal();
  auto switching =
      std::async(std::launch::async, [&] { robot().SwitchMode(Mode::RT_JOINT_TORQUE); });
  ASSERT_TRUE(WaitUntil([&] { return !env_->Requests(ops, 7).empty(); }, 3s));
  robot().Stop();
  EXPECT_TRUE(Throws<std::runtime_error>([&] { switching.get(); },
                                         P("SwitchMode") + " Interrupted by a stop"));
  for (const std::vector<int>& args : env_->IntArgs(7, ops)) EXPECT_EQ(args, std::vector<int>{1});
  EXPECT_TRUE(BackInIdle());
}

// The real-time states held at IDLE, as until their next sample after a
// switch: the Stop still asks for IDLE.
TEST_F(RobotModesTest, AStopRightAfterASwitchAsksForIdleBeforeTheStatesShowTheMode) {
  env_->sim.Command("stop_states", {{"serial", env_->serial}, {"topics", {"rt_states"}}});
  const size_t ops = env_->OpsTotal();
  robot().SwitchMode(Mode::NRT_JOINT_POSITION);
  ASSERT_EQ(robot().mode(), Mode::IDLE);
  robot().Stop();
  env_->sim.Command("start_states", {{"serial", env_->serial}, {"topics", {"rt_states"}}});
  EXPECT_EQ(env_->IntArgs(7, ops), (Ints{{6}, {1}}));
  EXPECT_TRUE(BackInIdle());
}

TEST_F(RobotModesTest, RefusedSwitchesAndStops) {
  const auto switch_to = [&](Mode mode) { return [&, mode] { robot().SwitchMode(mode); }; };
  env_->Refused<std::invalid_argument>(switch_to(Mode::AUTO_RECOVERY),
                                       P("SwitchMode") + " Invalid control mode input");
  // Not operational: a logic_error here; Stop goes through the same gate.
  env_->Set({{"estop", true}});
  const std::string not_operational =
      P("SwitchMode") + " Robot is not operational: E-Stop not released";
  env_->Refused<std::logic_error>(switch_to(Mode::NRT_PLAN_EXECUTION), not_operational);
  env_->Refused<std::logic_error>([&] { robot().Stop(); }, not_operational);
  env_->Set({{"estop", false}, {"safety_board_state", 12}});
  // A refused request leaves the counter and the held command as they were.
  ForceMode(5);
  impl().PublishJointCommand(PositionCommand(kHome));
  env_->sim.Fault(env_->serial, {{"procedure_id", 7}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(switch_to(Mode::NRT_PLAN_EXECUTION),
                                         P("SwitchMode") + " Failed to switch control mode to IDLE"));
  EXPECT_EQ(env_->Counter(), 1u);
}

TEST_F(RobotModesTest, EnableReturnsAtTheAcknowledgementAndClearFaultPollsEverySecond) {
  env_->Set({{"safety_board_state", 72}});
  const json enable = env_->SentBy([&] { robot().Enable(); });
  EXPECT_EQ(enable["procedure_id"], 1);
  // Returns while the brakes are still releasing.
  EXPECT_TRUE(WaitUntil(
      [&] { return robot().operational_status() == OperationalStatus::RELEASING_BRAKE; }, 2s, 1ms));
  EXPECT_TRUE(WaitUntil([&] { return robot().operational(); }, 3s));
  env_->Set({{"estop", true}});
  env_->Refused<std::logic_error>([&] { robot().Enable(); },
                                  P("Enable") + " E-stop is not released");
  env_->Set({{"estop", false}});
  env_->FailsOnce(
      1, [&] { robot().Enable(); }, P("Enable") + " Failed to deliver the request");

  // Gone after 1.5 s: seen at the second poll.
  env_->sim.Set(env_->serial, {{"clear_fault_delay_ms", 1500}});
  env_->Set({{"fault", "minor"}});
  const auto start = steady_clock::now();
  EXPECT_TRUE(env_->SentBy([&] { EXPECT_TRUE(robot().ClearFault(3)); })["int_args"].empty());
  EXPECT_GE(steady_clock::now() - start, 2s);
  EXPECT_LT(steady_clock::now() - start, 2900ms);
}

TEST(RobotRecoveryTest, BringsJointsBackInsideTheirLimits) {
  SimRobot env({"--initial-state", "recovery"});
  Robot& robot = *env.robot;
  ASSERT_TRUE(env.sim.WaitMatched(env.serial, 5s, {"motion_commands"}));
  ASSERT_TRUE(WaitUntil([&] { return robot.recovery(); }, 2s));
  // One joint beyond its limit is brought 0.18 rad inside it; the others
  // stay where they are.
  const RobotInfo info = robot.info();
  const std::vector<double> start = robot.states().link_position;
  ASSERT_GT(start.at(2), info.q_max[2]);
  EXPECT_EQ(env.SentBy([&] { robot.RunAutoRecovery(); })["int_args"], json({12}));
  EXPECT_TRUE(robot.stopped());
  const std::vector<json> items = env.NextMotion(0);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0]["sequence_num"], 1);
  std::vector<float> expected = AsFloats(start);
  expected[2] = static_cast<float>(info.q_max[2] - 0.18);
  const json& joint = items[0]["joint"];
  EXPECT_EQ(joint["position"], json(expected));
  EXPECT_EQ(json({joint["max_vel"], joint["max_acc"]}),
            json({std::vector<float>(7, 0.18f), std::vector<float>(7, 0.5f)}));
}

// The wait for the end of a recovery has no time limit but does not
// outlive the link.
TEST(RobotRecoveryTest, ALostLinkEndsTheWait) {
  SimRobot env({"--initial-state", "recovery"});
  ASSERT_TRUE(env.sim.WaitMatched(env.serial, 5s, {"motion_commands"}));
  env.sim.Set(env.serial, {{"velocity_override", std::vector<double>(7, 0.3)}});  // never at rest
  ASSERT_TRUE(WaitUntil([&] { return env.robot->recovery() && !env.robot->stopped(); }, 2s));
  auto recovery = std::async(std::launch::async, [&] { env.robot->RunAutoRecovery(); });
  ASSERT_TRUE(env.WaitMotionTotal(1));
  EXPECT_EQ(recovery.wait_for(700ms), std::future_status::timeout);
  env.sim.Command("stop_states", {{"serial", env.serial}});
  const bool ended = recovery.wait_for(5s) == std::future_status::ready;
  if (!ended) {  // let the call end before the test does
    env.sim.Set(env.serial, {{"velocity_override", nullptr}});
    env.sim.Command("start_states", {{"serial", env.serial}});
  }
  ASSERT_TRUE(ended);
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { recovery.get(); },
      P("RunAutoRecovery") + " Lost connection to the robot"));
}

TEST(RobotBrakeAndAxesTest, BrakesExternalAxesAndPositioner) {
  SimRobot medical({"--initial-state", "ready"}, "Varno4M");
  Robot& arm = *medical.robot;
  medical.Set({{"velocity_override", std::vector<double>(7, 0.1)}});
  medical.Refused<std::logic_error>([&] { arm.Brake(true); },
                                    P("Brake") + " Robot is not fully stopped");
  medical.Set({{"velocity_override", nullptr}});
  // Each switch on and off: its request and the controller's state.
  const std::tuple<int, std::string, std::function<void(bool)>> switches[] = {
      {9, "brakes_engaged", [&](bool on) { arm.Brake(on); }},
      {13, "external_axes_locked", [&](bool on) { arm.LockExternalAxes(on); }},
      {14, "synced_with_positioner", [&](bool on) { arm.SyncWithPositioner(on); }}};
  for (const auto& [procedure, field, call] : switches) {
    const size_t ops = medical.OpsTotal();
    for (const bool on : {true, false}) {
      call(on);
      EXPECT_EQ(medical.sim.State(medical.serial)[field], on);
    }
    EXPECT_EQ(medical.IntArgs(procedure, ops), (Ints{{1}, {0}}));
  }
}

}  // namespace
}  // namespace quiral::vek
