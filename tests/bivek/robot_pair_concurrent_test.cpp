// RobotPair's concurrent commands against two simulated controllers: both
// arms at once, the call ending only when both tasks have, tagged errors,
// selectors, and each arm's arguments reaching that arm.

#include <gtest/gtest.h>

#include "tests/bivek/pair_test_util.h"

namespace quiral::bivek::testing_util {
namespace {

class RobotPairConcurrentTest : public PairTest {
 protected:
  // Delays the next reply of one procedure of one arm.
  static void DelayReply(const std::string& serial, int procedure, int delay_ms) {
    sim().Fault(serial, {{"procedure_id", procedure},
                         {"kind", "late_reply"},
                         {"delay_ms", delay_ms},
                         {"count", 1}});
  }
  static json Outputs(const std::string& serial) { return sim().State(serial)["digital_outputs"]; }
};

// An arm's remote call that takes 1.5 s on each arm: both wait at once.
TEST_F(RobotPairConcurrentTest, BothArmsWaitAtTheSameTime) {
  DelayReply(first_sn(), 8, 1500);
  DelayReply(second_sn(), 8, 1500);
  auto start = std::chrono::steady_clock::now();
  pair().SetDigitalOutputs({{{0, true}}, {{1, true}}});
  double elapsed = SecondsSince(start);
  EXPECT_GE(elapsed, 1.4);
  EXPECT_LT(elapsed, 2.5);
  EXPECT_EQ(Outputs(first_sn())[0], 1);
  EXPECT_EQ(Outputs(first_sn())[1], 0);
  EXPECT_EQ(Outputs(second_sn())[1], 1);
  EXPECT_EQ(Outputs(second_sn())[0], 0);

  // Fault clearing that never succeeds: about one time-out, not two.
  for (const std::string* serial : {&first_sn(), &second_sn()}) {
    sim().Set(*serial, {{"fault", "minor"}, {"fault_clearable", false}});
  }
  ASSERT_TRUE(WaitUntil([&] { return pair().which_fault() == std::make_pair(true, true); }, 3s));
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(pair().ClearFault(1), std::make_pair(false, false));
  elapsed = SecondsSince(start);
  EXPECT_GE(elapsed, 0.95);
  EXPECT_LT(elapsed, 1.9);
  // Clearable on the second arm only: each arm's own result.
  sim().Set(second_sn(), {{"fault_clearable", true}, {"clear_fault_delay_ms", 100}});
  EXPECT_EQ(pair().ClearFault(1), std::make_pair(false, true));
}

TEST_F(RobotPairConcurrentTest, AFailedFirstArmLeavesOnlyAfterTheSecondArmFinished) {
  // The first arm refuses at once, the second answers 1.5 s later.
  DelayReply(second_sn(), 8, 1500);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        pair().SetDigitalOutputs({{{18, true}}, {{2, true}}});
      },
      "[quiral::bivek::RobotPair::SetDigitalOutputs](first) Input map contains port index "
      "outside the valid range"));
  EXPECT_GE(SecondsSince(start), 1.4);
  // The second arm's command ran to its end.
  EXPECT_EQ(Outputs(second_sn())[2], 1);
  EXPECT_EQ(Outputs(first_sn())[2], 0);

  // The second arm fails: the first arm's command has taken effect.
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        pair().SetDigitalOutputs({{{3, true}}, {{99, true}}});
      },
      "[quiral::bivek::RobotPair::SetDigitalOutputs](second) Input map contains port index "
      "outside the valid range"));
  EXPECT_EQ(Outputs(first_sn())[3], 1);

  // Both fail: only the first arm's error leaves; the second's is logged.
  LogCapture log(spdlog::level::warn);
  sim().Fault(second_sn(), {{"procedure_id", 8}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        pair().SetDigitalOutputs({{{18, true}}, {{4, true}}});
      },
      "[quiral::bivek::RobotPair::SetDigitalOutputs](first) Input map contains port index "
      "outside the valid range"));
  EXPECT_EQ(log.Count(spdlog::level::warn,
                      "[quiral::bivek::RobotPair::SetDigitalOutputs](second) Also failed: Failed "
                      "to deliver the request"),
            1);
  // A failed delivery is a runtime error, tagged.
  sim().Fault(first_sn(), {{"procedure_id", 8}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        pair().SetDigitalOutputs({{{5, true}}, {{5, true}}});
      },
      "[quiral::bivek::RobotPair::SetDigitalOutputs](first) Failed to deliver the request"));
}

TEST_F(RobotPairConcurrentTest, SwitchModeKeepsWhatTheOtherArmDid) {
  // The single-mode form sends that mode to both and tags like the pair form;
  // the first arm has switched.
  sim().Fault(second_sn(), {{"procedure_id", 7}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { pair().SwitchMode(Mode::NRT_JOINT_POSITION); },
      "[quiral::bivek::RobotPair::SwitchMode](second) Failed to switch control mode to "
      "[NRT_JOINT_POSITION]"));
  EXPECT_EQ(sim().State(first_sn())["mode"], 6);
  EXPECT_EQ(sim().State(second_sn())["mode"], 1);

  // A mode the first arm rejects: its error, after the second has switched.
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        pair().SwitchMode({static_cast<Mode>(99), Mode::NRT_PLAN_EXECUTION});
      },
      "[quiral::bivek::RobotPair::SwitchMode](first) Invalid control mode input"));
  EXPECT_EQ(sim().State(second_sn())["mode"], 7);
  EXPECT_EQ(sim().State(first_sn())["mode"], 6);
}

TEST_F(RobotPairConcurrentTest, StopAndStopPlanLeaveUnselectedArmsUntouched) {
  ASSERT_TRUE(SetModes(Mode::NRT_PLAN_EXECUTION, Mode::NRT_PLAN_EXECUTION));
  size_t first_since = RequestTotal(sim(), first_sn());
  size_t second_since = RequestTotal(sim(), second_sn());

  pair().StopPlan({false, false});
  pair().StopPlan({false, true});
  EXPECT_TRUE(Requests(first_sn(), 26, first_since).empty());
  EXPECT_EQ(Requests(second_sn(), 26, second_since).size(), 1u);
  pair().StopPlan();
  EXPECT_EQ(Requests(first_sn(), 26, first_since).size(), 1u);
  EXPECT_EQ(Requests(second_sn(), 26, second_since).size(), 2u);
  sim().Fault(second_sn(), {{"procedure_id", 26}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        pair().StopPlan({false, true});
      },
      "[quiral::bivek::RobotPair::StopPlan](second) Failed to deliver the request"));

  pair().Stop({false, false});
  EXPECT_TRUE(Requests(first_sn(), 7, first_since).empty());
  EXPECT_TRUE(Requests(second_sn(), 7, second_since).empty());
  pair().Stop({false, true});
  EXPECT_TRUE(Requests(first_sn(), 7, first_since).empty());
  EXPECT_EQ(sim().State(second_sn())["mode"], 1);
  EXPECT_EQ(sim().State(first_sn())["mode"], 7);

  // In IDLE, StopPlan is refused: a logic error, tagged.
  ASSERT_TRUE(WaitUntil([&] { return pair().mode().second == Mode::IDLE; }, 3s));
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] {
        pair().StopPlan({false, true});
      },
      "[quiral::bivek::RobotPair::StopPlan](second) Robot is not in an applicable control mode"));

  // A failed stop names the arm only; the other arm has stopped.
  ASSERT_TRUE(SetModes(Mode::NRT_PLAN_EXECUTION, Mode::NRT_PLAN_EXECUTION));
  LogCapture log(spdlog::level::err);
  sim().Fault(second_sn(), {{"procedure_id", 7}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { pair().Stop(); }, "[quiral::bivek::RobotPair::Stop](second) Failed to stop the robot"));
  EXPECT_EQ(sim().State(first_sn())["mode"], 1);
  EXPECT_EQ(log.Count(spdlog::level::err,
                      "[quiral::bivek::RobotPair::Stop](second) Failed to stop the robot: Failed "
                      "to switch control mode to IDLE"),
            1);
  pair().Stop();
  EXPECT_EQ(sim().State(second_sn())["mode"], 1);
}

TEST_F(RobotPairConcurrentTest, PlansPrimitivesAndVariablesPerArm) {
  ASSERT_TRUE(SetModes(Mode::NRT_PLAN_EXECUTION, Mode::NRT_PLAN_EXECUTION));
  sim().Set(first_sn(), {{"plans", {{{"name", "Alpha"}, {"duration_ms", 5000}}}}});
  sim().Set(
      second_sn(),
      {{"plans",
        {{{"name", "Beta"}, {"duration_ms", 5000}}, {{"name", "Gamma"}, {"duration_ms", 5000}}}}});
  size_t first_since = RequestTotal(sim(), first_sn());
  size_t second_since = RequestTotal(sim(), second_sn());
  pair().ExecutePlan(std::make_pair(std::string("Alpha"), std::string("Beta")), true, false);
  EXPECT_EQ(Requests(first_sn(), 22, first_since).back()["long_string"], "Alpha");
  EXPECT_EQ(Requests(second_sn(), 22, second_since).back()["long_string"], "Beta");
  EXPECT_EQ(Requests(second_sn(), 22, second_since).back()["int_args"], json({1}));
  pair().ExecutePlan(std::make_pair(0u, 1u), false, false);
  EXPECT_EQ(Requests(first_sn(), 22, first_since).back()["long_string"], "Alpha");
  EXPECT_EQ(Requests(second_sn(), 22, second_since).back()["long_string"], "Gamma");
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] { pair().ExecutePlan(std::make_pair(0u, 2u), false, false); },
      "[quiral::bivek::RobotPair::ExecutePlan](second) Input parameter [index] is outside the "
      "valid range"));

  pair().PausePlan({true, false});
  EXPECT_EQ(Requests(first_sn(), 24, first_since).size(), 1u);
  EXPECT_EQ(Requests(second_sn(), 25, second_since).size(), 1u);
  EXPECT_TRUE(Requests(second_sn(), 24, second_since).empty());
  sim().Fault(first_sn(), {{"procedure_id", 25}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        pair().PausePlan({false, false});
      },
      "[quiral::bivek::RobotPair::PausePlan](first) Failed to execute resume request"));

  // Primitives: a name the arm refuses to send is an invalid argument,
  // which this operation reports as a logic error.
  ASSERT_TRUE(SetModes(Mode::NRT_PRIMITIVE_EXECUTION, Mode::NRT_PRIMITIVE_EXECUTION));
  const std::map<std::string, vek::ParamVariant> none;
  const std::map<std::string, vek::ParamVariant> speed = {{"speed", 0.25}};
  pair().ExecutePrimitive({"Home", "Wave"}, {none, speed}, false);
  EXPECT_EQ(Requests(first_sn(), 21, first_since).back()["long_string"], "Home()");
  EXPECT_EQ(Requests(second_sn(), 21, second_since).back()["long_string"], "Wave(speed = 0.25)");
  try {
    pair().ExecutePrimitive({std::string("Ho\0me", 5), "Home"}, {none, none}, false);
    FAIL() << "no error";
  } catch (const std::logic_error& e) {
    EXPECT_EQ(typeid(e), typeid(std::logic_error));
    EXPECT_EQ(
        std::string(e.what()).rfind("[quiral::bivek::RobotPair::ExecutePrimitive](first) ", 0), 0u)
        << e.what();
  }
  const auto states = pair().primitive_states();
  EXPECT_FALSE(states.second.empty());

  // Global variables: each arm's own map, both ways.
  sim().Set(first_sn(), {{"global_variables", {{"counter", "0"}, {"label", "idle"}}}});
  sim().Set(second_sn(), {{"global_variables", {{"counter", "0"}, {"speed", "0.5"}}}});
  pair().SetGlobalVariables({{{"counter", 3}}, {{"speed", 0.75}}});
  const auto vars = pair().global_variables();
  EXPECT_EQ(std::get<int>(vars.first.at("counter")), 3);
  EXPECT_EQ(std::get<std::string>(vars.first.at("label")), "idle");
  EXPECT_EQ(std::get<double>(vars.second.at("speed")), 0.75);
  EXPECT_EQ(vars.second.count("label"), 0u);
  // An empty map keeps its class, tagged.
  EXPECT_TRUE(Throws<std::length_error>(
      [&] {
        pair().SetGlobalVariables({{{"counter", 4}}, {}});
      },
      "[quiral::bivek::RobotPair::SetGlobalVariables](second) Input map [global_vars] is "
      "empty"));
  sim().Fault(first_sn(), {{"procedure_id", 11}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { pair().global_variables(); },
      "[quiral::bivek::RobotPair::global_variables](first) No reply from the robot"));
}

TEST_F(RobotPairConcurrentTest, SettingsReachEachArm) {
  const size_t first_since = RequestTotal(sim(), first_sn());
  const size_t second_since = RequestTotal(sim(), second_sn());
  const auto floats = [&](const std::string& serial, int procedure, size_t since) {
    return Requests(serial, procedure, since).back()["float_args"].get<std::vector<double>>();
  };

  pair().SetPassiveForceControl({true, false});
  EXPECT_EQ(Requests(first_sn(), 82, first_since).back()["int_args"], json({1}));
  EXPECT_EQ(Requests(second_sn(), 82, second_since).back()["int_args"], json({0}));

  ASSERT_TRUE(SwitchBoth(Mode::NRT_JOINT_IMPEDANCE));
  const std::vector<double> k1(7, 100.0);
  const std::vector<double> k2(7, 200.0);
  const std::vector<double> z(7, 0.5);
  pair().SetJointImpedance({k1, k2}, {z, z});
  EXPECT_EQ(floats(first_sn(), 71, first_since)[0], 100.0);
  EXPECT_EQ(floats(second_sn(), 71, second_since)[0], 200.0);
  pair().SetMaxContactTorque({std::vector<double>(7, 10.0), std::vector<double>(7, 20.0)});
  EXPECT_EQ(floats(first_sn(), 76, first_since)[6], 10.0);
  EXPECT_EQ(floats(second_sn(), 76, second_since)[6], 20.0);
  pair().SetJointInertiaScale({std::vector<double>(7, 0.75), std::vector<double>(7, 1.0)});
  EXPECT_EQ(floats(first_sn(), 75, first_since)[0], 0.75);
  EXPECT_EQ(floats(second_sn(), 75, second_since)[0], 1.0);
  // A wrong size on one arm fails that arm only.
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        pair().SetJointImpedance({k1, std::vector<double>(3, 1.0)}, {z, z});
      },
      "[quiral::bivek::RobotPair::SetJointImpedance](second) Size of input vector [K_q] does "
      "not match robot DoF"));
  // Passive force control needs IDLE: a logic error, tagged.
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] {
        pair().SetPassiveForceControl({true, true});
      },
      "[quiral::bivek::RobotPair::SetPassiveForceControl](first) Robot is not in IDLE mode"));

  ASSERT_TRUE(SwitchBoth(Mode::NRT_CARTESIAN_MOTION_FORCE));
  const std::array<double, 6> kx1 = {1000, 1000, 1000, 100, 100, 100};
  const std::array<double, 6> kx2 = {2000, 2000, 2000, 200, 200, 200};
  const std::array<double, 6> zx = {0.7, 0.7, 0.7, 0.7, 0.7, 0.7};
  pair().SetCartesianImpedance({kx1, kx2}, {zx, zx});
  EXPECT_EQ(floats(first_sn(), 70, first_since)[0], 1000.0);
  EXPECT_EQ(floats(second_sn(), 70, second_since)[0], 2000.0);
  pair().SetMaxContactWrench({{1, 2, 3, 4, 5, 6}, {6, 5, 4, 3, 2, 1}});
  EXPECT_EQ(floats(first_sn(), 72, first_since)[0], 1.0);
  EXPECT_EQ(floats(second_sn(), 72, second_since)[0], 6.0);
  pair().SetNullSpacePosture({std::vector<double>(7, 0.1), std::vector<double>(7, -0.1)});
  EXPECT_NEAR(floats(first_sn(), 73, first_since)[0], 0.1, 1e-6);
  EXPECT_NEAR(floats(second_sn(), 73, second_since)[0], -0.1, 1e-6);
  pair().SetNullSpaceObjectives({0.1, 0.2}, {0.3, 0.4}, {0.5, 0.6});
  const auto first_objectives = floats(first_sn(), 74, first_since);
  const auto second_objectives = floats(second_sn(), 74, second_since);
  ASSERT_EQ(first_objectives.size(), 3u);
  ASSERT_EQ(second_objectives.size(), 3u);
  EXPECT_NEAR(first_objectives[0], 0.1, 1e-6);
  EXPECT_NEAR(first_objectives[1], 0.3, 1e-6);
  EXPECT_NEAR(first_objectives[2], 0.5, 1e-6);
  EXPECT_NEAR(second_objectives[0], 0.2, 1e-6);
  EXPECT_NEAR(second_objectives[2], 0.6, 1e-6);
  pair().SetForceControlAxis(
      {{true, false, false, false, false, false}, {false, false, true, false, false, false}},
      {{0.1, 0.1, 0.1}, {0.2, 0.2, 0.2}});
  EXPECT_EQ(Requests(first_sn(), 80, first_since).back()["int_args"], json({1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Requests(second_sn(), 80, second_since).back()["int_args"], json({0, 0, 1, 0, 0, 0}));
  // An invalid frame from an arm becomes a logic error, tagged.
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] {
        pair().SetForceControlFrame({vek::CoordType::WORLD, static_cast<vek::CoordType>(7)},
                                    {std::array<double, 7>{0, 0, 0, 1, 0, 0, 0},
                                     std::array<double, 7>{0, 0, 0, 1, 0, 0, 0}});
      },
      "[quiral::bivek::RobotPair::SetForceControlFrame](second) Input parameter [root_coord] is "
      "invalid"));
}

TEST_F(RobotPairConcurrentTest, JointMotionAndUntaggedOperationalErrors) {
  sim().WaitMatched(first_sn(), 5s, {"motion_commands"});
  sim().WaitMatched(second_sn(), 5s, {"motion_commands"});
  ASSERT_TRUE(SwitchBoth(Mode::NRT_JOINT_POSITION));
  const auto q = [&](const std::string& serial) {
    return sim().State(serial)["joints"]["position"].get<std::vector<double>>();
  };
  const std::vector<double> zero(7, 0.0);
  const std::vector<double> vmax(7, 1.0);
  std::vector<double> first_q = q(first_sn());
  std::vector<double> second_q = q(second_sn());
  first_q[0] += 0.01;
  second_q[6] -= 0.01;
  const PerArm<json> sent = SendUntilReceived([&] {
    pair().SendJointPosition({first_q, second_q}, {zero, zero}, {vmax, vmax}, {vmax, vmax});
  });
  ASSERT_FALSE(sent.first.is_null());
  ASSERT_FALSE(sent.second.is_null());
  EXPECT_NEAR(sent.first["joint"]["position"][0].get<double>(), first_q[0], 1e-5);
  EXPECT_NEAR(sent.second["joint"]["position"][6].get<double>(), second_q[6], 1e-5);

  // An arm that is not operational: its runtime error leaves untagged.
  sim().Set(second_sn(), {{"safety_board_state", 72}});
  ASSERT_TRUE(WaitUntil([&] { return !pair().operational(); }, 3s));
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        pair().SendJointPosition({first_q, second_q}, {zero, zero}, {vmax, vmax}, {vmax, vmax});
      },
      "[quiral::vek::Robot::SendJointPosition] Robot is not operational: Not enabled"));
  // The first arm's errors keep their tag.
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        pair().SendJointPosition({first_q, second_q}, {zero, zero}, {zero, vmax}, {vmax, vmax});
      },
      "[quiral::bivek::RobotPair::SendJointPosition](first) Input parameters [max_vel] and "
      "[max_acc] must be greater than 0"));

  // One arm's empty waypoint list fails that arm; the other's are sent.
  sim().Set(second_sn(), {{"safety_board_state", 12}});
  ASSERT_TRUE(SetModes(Mode::NRT_SUPER_PRIMITIVE, Mode::NRT_SUPER_PRIMITIVE));
  vek::NrtCartesianCmd waypoint;
  waypoint.pose = {kSecondBase[0], kSecondBase[1], kSecondBase[2] + 0.8, 1, 0, 0, 0};
  waypoint.max_linear_vel = waypoint.max_angular_vel = waypoint.max_linear_acc =
      waypoint.max_angular_acc = 1.0;
  const PerArm<json> multi = SendUntilReceived(
      [&] {
        EXPECT_TRUE(Throws<std::invalid_argument>(
            [&] {
              pair().SendMultiCartesianMotionForce({{}, {waypoint}}, {{}, {second_q}});
            },
            "[quiral::bivek::RobotPair::SendMultiCartesianMotionForce](first) Input parameter "
            "[cart_cmds] cannot be empty"));
      },
      {false, true});
  ASSERT_FALSE(multi.second.is_null());
  EXPECT_NEAR(multi.second["cartesian_multi"][0]["pose"][2].get<double>(), 0.8, 1e-5);
}

TEST_F(RobotPairConcurrentTest, AutomaticRecoveryOfBothArms) {
  // Neither arm in recovery: nothing to be done.
  const auto start = std::chrono::steady_clock::now();
  pair().RunAutoRecovery();
  EXPECT_LT(SecondsSince(start), 1.0);

  // The second arm in recovery with a joint beyond its limit: it recovers,
  // the first arm is left alone.
  std::vector<double> joints = {0, -0.7, 0, 2.72, 0, 0.7, 0};
  sim().Set(second_sn(), {{"joints", joints}, {"recovery", true}});
  ASSERT_TRUE(WaitUntil([&] { return pair().recovery() == std::make_pair(false, true); }, 3s));
  const size_t first_since = RequestTotal(sim(), first_sn());
  pair().RunAutoRecovery();
  EXPECT_LT(sim().State(second_sn())["joints"]["position"][3].get<double>(), 2.67);
  EXPECT_TRUE(Requests(first_sn(), 7, first_since).empty());

  // Failing to enter recovery mode: tagged runtime error.
  sim().Set(first_sn(), {{"recovery", true}});
  sim().Fault(first_sn(), {{"procedure_id", 7}, {"kind", "fail"}});
  ASSERT_TRUE(WaitUntil([&] { return pair().recovery().first; }, 3s));
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { pair().RunAutoRecovery(); },
      "[quiral::bivek::RobotPair::RunAutoRecovery](first) Failed to enter automatic recovery "
      "mode"));
  sim().Set(first_sn(), {{"recovery", false}});
  sim().Set(second_sn(), {{"recovery", false}});
}

}  // namespace
}  // namespace quiral::bivek::testing_util
