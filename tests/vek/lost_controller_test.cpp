// A Robot whose controller has gone: what it last reported no longer counts,
// commands are refused or fail instead of reporting success, and a
// controller with the same serial number (or its states, back again) makes
// it work again without a new Robot.
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;

const std::string kUnknownStatus = " Robot is not operational: Unknown status";
const std::string kLost = " Lost connection to the robot";
const std::vector<double> kHome = {0, -0.7, 0, 1.57, 0, 0.7, 0}, kZeros(7, 0.0), kOnes(7, 1.0);

TEST(LostControllerTest, AKilledControllerIsLostUntilOneWithItsSerialIsBack) {
  const std::string serial = UniqueSerial("Varno4");
  auto sim = std::make_unique<SimProcess>(std::vector<std::string>{serial},
                                          std::vector<std::string>{"--initial-state", "ready"});
  auto robot = MakeRobot(serial);
  robot->SwitchMode(Mode::NRT_JOINT_POSITION);
  ASSERT_EQ(::kill(sim->pid(), SIGKILL), 0);
  sim.reset();
  ASSERT_TRUE(WaitUntil([&] { return !robot->connected(); }, 3s));
  EXPECT_FALSE(robot->operational());
  EXPECT_EQ(robot->operational_status(), OperationalStatus::UNKNOWN);
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { robot->SendJointPosition(kHome, kZeros, kOnes, kOnes); },
      P("SendJointPosition") + kUnknownStatus));
  EXPECT_TRUE(Throws<std::logic_error>([&] { robot->SwitchMode(Mode::IDLE); },
                                       P("SwitchMode") + kUnknownStatus));
  EXPECT_TRUE(Throws<std::logic_error>([&] { robot->Stop(); }, P("SwitchMode") + kUnknownStatus));
  EXPECT_TRUE(Throws<std::runtime_error>([&] { robot->RunAutoRecovery(); },
                                         P("RunAutoRecovery") + kLost));
  EXPECT_TRUE(Throws<std::runtime_error>([&] { robot->ClearFault(1); }, P("ClearFault") + kLost));

  SimProcess successor({serial}, {"--initial-state", "ready"});
  ASSERT_TRUE(WaitUntil([&] { return robot->operational(); }, 10s));
  robot->SwitchMode(Mode::NRT_JOINT_POSITION);
  ASSERT_TRUE(successor.WaitMatched(serial, 10s, {"motion_commands"}));
  EXPECT_TRUE(WaitUntil(
      [&] {
        robot->SendJointPosition(kHome, kZeros, kOnes, kOnes);
        return successor.State(serial)["motion_applied"].get<int>() > 0;
      },
      5s, 50ms));
}

// The states stop while the controller still answers: the reply comes
// after the link was seen lost, and the wait that follows it fails.
TEST(LostControllerTest, WaitsOnTheStatesFailWhenTheStatesStop) {
  SimRobot env;
  const struct {
    int procedure;
    Mode mode;
    std::function<void()> call;
    std::string operation;
  } cases[] = {
      {7, Mode::NRT_JOINT_POSITION, [&] { env.robot->SwitchMode(Mode::NRT_PLAN_EXECUTION); },
       "SwitchMode"},
      {2, Mode::IDLE, [&] { env.robot->ClearFault(5); }, "ClearFault"},
      {22, Mode::NRT_PLAN_EXECUTION, [&] { env.robot->ExecutePlan("WaitPlan", false, true); },
       "ExecutePlan"},
  };
  for (const auto& c : cases) {
    env.Fresh();
    env.Switch(c.mode);
    env.sim.Fault(env.serial,
                  {{"procedure_id", c.procedure}, {"kind", "late_reply"}, {"delay_ms", 1500}});
    env.sim.Command("stop_states", {{"serial", env.serial}});
    EXPECT_TRUE(Throws<std::runtime_error>(c.call, P(c.operation) + kLost));
    env.sim.Command("start_states", {{"serial", env.serial}});
    ASSERT_TRUE(WaitUntil([&] { return env.robot->operational(); }, 5s));
  }
}

}  // namespace
}  // namespace quiral::vek
