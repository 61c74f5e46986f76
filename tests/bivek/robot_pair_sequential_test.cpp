// RobotPair's sequential commands against two simulated controllers: the
// first arm, then the second, never the second once the first has failed;
// tagged error texts and classes.

#include <gtest/gtest.h>

#include "tests/bivek/pair_test_util.h"

namespace quiral::bivek::testing_util {
namespace {

class RobotPairSequentialTest : public PairTest {};

TEST_F(RobotPairSequentialTest, EnableTagsTheFailingArmAndStopsAtTheFirst) {
  // The first arm fails: the second is not asked.
  sim().Set(first_sn(), {{"estop", true}});
  ASSERT_TRUE(
      WaitUntil([&] { return pair().estop_released() == std::make_pair(false, true); }, 3s));
  size_t first_since = RequestTotal(sim(), first_sn());
  size_t second_since = RequestTotal(sim(), second_sn());
  EXPECT_TRUE(
      Throws<std::logic_error>([&] { pair().Enable(); },
                               "[quiral::bivek::RobotPair::Enable](first) E-stop is not released"));
  EXPECT_TRUE(Requests(second_sn(), 1, second_since).empty());

  // The second arm fails: the first has been enabled.
  sim().Set(first_sn(), {{"estop", false}});
  sim().Set(second_sn(), {{"estop", true}});
  ASSERT_TRUE(
      WaitUntil([&] { return pair().estop_released() == std::make_pair(true, false); }, 3s));
  first_since = RequestTotal(sim(), first_sn());
  second_since = RequestTotal(sim(), second_sn());
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] { pair().Enable(); },
      "[quiral::bivek::RobotPair::Enable](second) E-stop is not released"));
  EXPECT_EQ(Requests(first_sn(), 1, first_since).size(), 1u);
  EXPECT_TRUE(Requests(second_sn(), 1, second_since).empty());

  // A refused request on the first arm: a runtime error, tagged.
  sim().Set(second_sn(), {{"estop", false}});
  ASSERT_TRUE(WaitUntil([&] { return pair().estop_released() == std::make_pair(true, true); }, 3s));
  sim().Fault(first_sn(), {{"procedure_id", 1}, {"kind", "fail"}});
  second_since = RequestTotal(sim(), second_sn());
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { pair().Enable(); },
      "[quiral::bivek::RobotPair::Enable](first) Failed to deliver the request"));
  EXPECT_TRUE(Requests(second_sn(), 1, second_since).empty());

  // Both succeed, first arm first.
  first_since = RequestTotal(sim(), first_sn());
  second_since = RequestTotal(sim(), second_sn());
  pair().Enable();
  const auto first = Requests(first_sn(), 1, first_since);
  const auto second = Requests(second_sn(), 1, second_since);
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_LT(first[0]["t_ns"].get<int64_t>(), second[0]["t_ns"].get<int64_t>());
}

TEST_F(RobotPairSequentialTest, PlanCommandsPerArmAndSelectors) {
  ASSERT_TRUE(SetModes(Mode::NRT_PLAN_EXECUTION, Mode::NRT_PLAN_EXECUTION));

  // One flag per arm: both arms are called, each with its own.
  size_t first_since = RequestTotal(sim(), first_sn());
  size_t second_since = RequestTotal(sim(), second_sn());
  pair().SetBreakpointMode({true, false});
  auto first = Requests(first_sn(), 27, first_since);
  auto second = Requests(second_sn(), 27, second_since);
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(first[0]["int_args"], json({1}));
  EXPECT_EQ(second[0]["int_args"], json({0}));

  // Selector: only the selected arm steps; none selected cannot fail.
  sim().Fault(first_sn(), {{"procedure_id", 28}, {"kind", "fail"}, {"count", -1}});
  pair().StepBreakpoint({false, false});
  pair().StepBreakpoint({false, true});
  EXPECT_TRUE(Requests(first_sn(), 28, first_since).empty());
  EXPECT_EQ(Requests(second_sn(), 28, second_since).size(), 1u);
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        pair().StepBreakpoint({true, true});
      },
      "[quiral::bivek::RobotPair::StepBreakpoint](first) Failed to deliver the request"));
  EXPECT_EQ(Requests(second_sn(), 28, second_since).size(), 1u);

  // Velocity scale out of range on the first arm: invalid_argument, tagged;
  // the second arm keeps its scale.
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        pair().SetVelocityScale({101, 50});
      },
      "[quiral::bivek::RobotPair::SetVelocityScale](first) Input parameter [velocity_scale] "
      "cannot exceed 100%"));
  EXPECT_TRUE(Requests(second_sn(), 20, second_since).empty());
  pair().SetVelocityScale({30, 60});
  EXPECT_EQ(Requests(first_sn(), 20, first_since).back()["int_args"], json({30}));
  EXPECT_EQ(Requests(second_sn(), 20, second_since).back()["int_args"], json({60}));

  // Plan lists and plan information come from each arm.
  sim().Set(first_sn(), {{"plans", {"Alpha", "Beta"}}});
  sim().Set(second_sn(), {{"plans", {"Gamma"}}});
  const auto plans = pair().plan_list();
  EXPECT_EQ(plans.first, (std::vector<std::string>{"Alpha", "Beta"}));
  EXPECT_EQ(plans.second, (std::vector<std::string>{"Gamma"}));
  const auto info = pair().plan_info();
  EXPECT_EQ(info.first.item_0, "");
  sim().Fault(second_sn(), {{"service", "data"}, {"request_id", 3}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { pair().plan_info(); },
      "[quiral::bivek::RobotPair::plan_info](second) No reply from the robot"));
  sim().Fault(first_sn(), {{"procedure_id", 23}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { pair().plan_list(); },
      "[quiral::bivek::RobotPair::plan_list](first) No reply from the robot"));

  // plan_info outside plan execution: a logic error, tagged.
  ASSERT_TRUE(SetModes(Mode::IDLE, Mode::NRT_PLAN_EXECUTION));
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] { pair().plan_info(); },
      "[quiral::bivek::RobotPair::plan_info](first) Robot is not in an applicable control "
      "mode"));
}

TEST_F(RobotPairSequentialTest, BrakesAxesAndPositioner) {
  // Only the first arm is a medical robot: it engages its brakes, then the
  // second refuses.
  size_t first_since = RequestTotal(sim(), first_sn());
  size_t second_since = RequestTotal(sim(), second_sn());
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] { pair().Brake(true); },
      "[quiral::bivek::RobotPair::Brake](second) This function is only available to medical "
      "robots"));
  const auto brake = Requests(first_sn(), 9, first_since);
  ASSERT_EQ(brake.size(), 1u);
  EXPECT_EQ(brake[0]["int_args"], json({1}));
  EXPECT_TRUE(sim().State(first_sn())["brakes_engaged"].get<bool>());

  // Only runtime errors are re-tagged: the first arm's logic error leaves
  // as it is, and the second arm is not called.
  ASSERT_TRUE(SetModes(Mode::NRT_JOINT_POSITION, Mode::IDLE));
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] {
        pair().LockExternalAxes({true, true});
      },
      "[quiral::vek::Robot::LockExternalAxes] Robot is not in IDLE mode"));
  EXPECT_TRUE(Requests(second_sn(), 13, second_since).empty());
  ASSERT_TRUE(SetModes(Mode::IDLE, Mode::IDLE));
  pair().LockExternalAxes({true, false});
  EXPECT_EQ(Requests(first_sn(), 13, first_since).back()["int_args"], json({1}));
  EXPECT_EQ(Requests(second_sn(), 13, second_since).back()["int_args"], json({0}));

  pair().SyncWithPositioner({false, true});
  EXPECT_EQ(Requests(first_sn(), 14, first_since).back()["int_args"], json({0}));
  EXPECT_EQ(Requests(second_sn(), 14, second_since).back()["int_args"], json({1}));
  sim().Fault(second_sn(), {{"procedure_id", 14}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        pair().SyncWithPositioner({true, true});
      },
      "[quiral::bivek::RobotPair::SyncWithPositioner](second) Failed to deliver the request"));
}

TEST_F(RobotPairSequentialTest, StreamingCommandsReachEachArm) {
  sim().WaitMatched(first_sn(), 5s, {"motion_commands"});
  sim().WaitMatched(second_sn(), 5s, {"motion_commands"});
  ASSERT_TRUE(SwitchBoth(Mode::RT_JOINT_POSITION));
  const auto q = [&](const std::string& serial) {
    return sim().State(serial)["joints"]["position"].get<std::vector<double>>();
  };
  const std::vector<double> zero(7, 0.0);
  std::vector<double> first_q = q(first_sn());
  std::vector<double> second_q = q(second_sn());
  const PerArm<json> sent = SendUntilReceived([&] {
    pair().StreamJointPosition({first_q, second_q}, {zero, zero}, {zero, zero});
  });
  ASSERT_FALSE(sent.first.is_null());
  ASSERT_FALSE(sent.second.is_null());
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_NEAR(sent.first["joint"]["position"][i].get<double>(), first_q[i], 1e-5);
    EXPECT_NEAR(sent.second["joint"]["position"][i].get<double>(), second_q[i], 1e-5);
  }

  // A wrong size on the first arm: tagged, and the second arm gets nothing.
  const size_t first_since = MotionTotal(first_sn());
  const size_t second_since = MotionTotal(second_sn());
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        pair().StreamJointPosition({std::vector<double>(6, 0.0), second_q}, {zero, zero},
                                   {zero, zero});
      },
      "[quiral::bivek::RobotPair::StreamJointPosition](first) Size of input vector [positions] "
      "does not match robot DoF"));
  // Every command either arm records from then on is one of the torque
  // commands below.
  ASSERT_TRUE(SwitchBoth(Mode::RT_JOINT_TORQUE));
  std::vector<double> torques(7, 0.0);
  torques[2] = 1.5;
  const PerArm<json> torque = SendUntilReceived([&] {
    pair().StreamJointTorque({zero, torques}, {true, false}, {true, true}, {0.0, 50.0});
  });
  ASSERT_FALSE(torque.second.is_null());
  EXPECT_NEAR(torque.second["joint"]["torque"][2].get<double>(), 1.5, 1e-6);
  EXPECT_EQ(torque.second["joint"]["disable_gravity_comp"], true);
  EXPECT_EQ(torque.second["joint"]["disable_soft_limit"], false);
  EXPECT_NEAR(torque.second["joint"]["friction_comp_scale"].get<double>(), 50.0, 1e-6);
  for (const auto& [serial, since] :
       {std::make_pair(first_sn(), first_since), std::make_pair(second_sn(), second_since)}) {
    const json items =
        sim().Command("motion_commands", {{"serial", serial}, {"since", since}})["items"];
    for (const json& item : items) EXPECT_TRUE(item["joint"]["position"].empty()) << item.dump();
  }

  // Streaming in a mode that does not take it: logic error, tagged.
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] {
        pair().StreamJointPosition({first_q, second_q}, {zero, zero}, {zero, zero});
      },
      "[quiral::bivek::RobotPair::StreamJointPosition](first) Robot is not in an applicable "
      "control mode"));
  const std::array<double, 7> pose = {0, 0, 0, 1, 0, 0, 0};
  const std::array<double, 6> zero6 = {};
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] {
        pair().StreamCartesianMotionForce({pose, pose}, {zero6, zero6}, {zero6, zero6},
                                          {zero6, zero6});
      },
      "[quiral::bivek::RobotPair::StreamCartesianMotionForce](first) Robot is not in an "
      "applicable control mode"));
}

}  // namespace
}  // namespace quiral::bivek::testing_util
