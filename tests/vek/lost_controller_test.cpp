// A Robot whose controller has gone: what it last reported no longer
// counts, and the controller back (its states, or a new process with its
// serial number) makes the same Robot work again.
#include <gtest/gtest.h>
#include <signal.h>

#include <tuple>

#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;

TEST(LostControllerTest, NothingSucceedsWithoutTheControllerAndAllDoesWhenItIsBack) {
  SimRobot env;
  Robot& robot = *env.robot;
  const std::string lost = " Lost connection to the robot";
  // The states stop, the controller still answers: its reply comes after
  // the link was seen lost, and the wait on the states that follows fails.
  const std::tuple<int, Mode, std::function<void()>, std::string> waits[] = {
      {7, Mode::NRT_JOINT_POSITION, [&] { robot.SwitchMode(Mode::NRT_PLAN_EXECUTION); },
       "SwitchMode"},
      {2, Mode::IDLE, [&] { robot.ClearFault(5); }, "ClearFault"},
      {22, Mode::NRT_PLAN_EXECUTION, [&] { robot.ExecutePlan("WaitPlan", false, true); },
       "ExecutePlan"}};
  for (const auto& [procedure, mode, call, operation] : waits) {
    env.Fresh();
    env.Switch(mode);
    env.sim.Fault(env.serial,
                  {{"procedure_id", procedure}, {"kind", "late_reply"}, {"delay_ms", 1500}});
    env.sim.Command("stop_states", {{"serial", env.serial}});
    EXPECT_TRUE(Throws<std::runtime_error>(call, P(operation) + lost));
    env.sim.Command("start_states", {{"serial", env.serial}});
    ASSERT_TRUE(WaitUntil([&] { return robot.operational(); }, 5s));
  }

  ASSERT_EQ(::kill(env.sim.pid(), SIGKILL), 0);
  ASSERT_TRUE(WaitUntil([&] { return !robot.connected(); }, 3s));
  EXPECT_FALSE(robot.operational());
  EXPECT_EQ(robot.operational_status(), OperationalStatus::UNKNOWN);
  const std::string unknown = " Robot is not operational: Unknown status";
  const std::vector<double> home = {0, -0.7, 0, 1.57, 0, 0.7, 0}, zeros(7, 0.0), ones(7, 1.0);
  auto send = [&] { robot.SendJointPosition(home, zeros, ones, ones); };
  EXPECT_TRUE(Throws<std::runtime_error>(send, P("SendJointPosition") + unknown));
  EXPECT_TRUE(Throws<std::logic_error>([&] { robot.Stop(); }, P("SwitchMode") + unknown));
  EXPECT_TRUE(
      Throws<std::runtime_error>([&] { robot.RunAutoRecovery(); }, P("RunAutoRecovery") + lost));

  SimProcess successor({env.serial}, {"--initial-state", "ready"});
  ASSERT_TRUE(WaitUntil([&] { return robot.operational(); }, 10s));
  robot.SwitchMode(Mode::NRT_JOINT_POSITION);
  ASSERT_TRUE(successor.WaitMatched(env.serial, 10s, {"motion_commands"}));
  // Best effort: sent until one has moved the robot.
  auto sent = [&] { return send(), successor.State(env.serial)["motion_applied"] > 0; };
  EXPECT_TRUE(WaitUntil(sent, 5s, 50ms));
}

}  // namespace
}  // namespace quiral::vek
