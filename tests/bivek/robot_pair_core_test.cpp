// RobotPair against two simulated controllers: construction, queries and
// the world frame of reported poses and Cartesian targets.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "bivek/robot_pair_access.h"
#include "tests/bivek/pair_test_util.h"

namespace quiral::bivek::testing_util {
namespace {

using Pose = std::array<double, 7>;

// The pose as the controller computed it (before the narrowing to floats).
Pose SimTcp(const std::string& serial) {
  return PairTest::sim().State(serial)["tcp_pose"].get<Pose>();
}

// A recorded Cartesian pose (floats) against the expected base-frame pose.
void ExpectPose(const json& recorded, const Pose& expected) {
  ASSERT_EQ(recorded.size(), 7u);
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_NEAR(recorded[i].get<double>(), expected[i], 1e-5) << "element " << i;
  }
}

Pose Shifted(Pose pose, const std::array<double, 3>& by, double sign) {
  for (size_t i = 0; i < 3; ++i) pose[i] += sign * by[i];
  return pose;
}

class RobotPairCoreTest : public PairTest {};

TEST_F(RobotPairCoreTest, StatesAndActionsAreInTheWorldFrame) {
  const auto arms = pair().instances();
  const auto states = pair().states();
  const auto actions = pair().actions();
  const vek::RobotStates first_own = arms.first->states();
  const vek::RobotStates second_own = arms.second->states();
  const vek::RobotActions first_actions = arms.first->actions();
  const vek::RobotActions second_actions = arms.second->actions();

  // Positions shifted by each arm's own base; quaternions untouched. The
  // arms are at rest, so every sample carries the same values.
  EXPECT_EQ(states.first.tcp_pose, Shifted(first_own.tcp_pose, kFirstBase, 1));
  EXPECT_EQ(states.first.flange_pose, Shifted(first_own.flange_pose, kFirstBase, 1));
  EXPECT_EQ(states.second.tcp_pose, Shifted(second_own.tcp_pose, kSecondBase, 1));
  EXPECT_EQ(states.second.flange_pose, Shifted(second_own.flange_pose, kSecondBase, 1));
  EXPECT_EQ(actions.first.tcp_pose_des, Shifted(first_actions.tcp_pose_des, kFirstBase, 1));
  EXPECT_EQ(actions.second.tcp_pose_des, Shifted(second_actions.tcp_pose_des, kSecondBase, 1));

  // Against the controllers' own computation.
  ExpectPose(json(states.first.tcp_pose), Shifted(SimTcp(first_sn()), kFirstBase, 1));
  ExpectPose(json(states.second.tcp_pose), Shifted(SimTcp(second_sn()), kSecondBase, 1));

  // Everything else is the arm's own.
  EXPECT_EQ(states.first.link_position, first_own.link_position);
  EXPECT_EQ(states.second.link_position, second_own.link_position);
  EXPECT_EQ(states.first.tcp_velocity, first_own.tcp_velocity);
  EXPECT_EQ(states.first.ext_wrench_in_world, first_own.ext_wrench_in_world);
  EXPECT_EQ(states.second.ext_wrench_in_tcp, second_own.ext_wrench_in_tcp);
  EXPECT_EQ(actions.first.position_des, first_actions.position_des);
  EXPECT_EQ(actions.second.tcp_velocity_des, second_actions.tcp_velocity_des);
  // The arms themselves know nothing of the world frame.
  EXPECT_NE(first_own.tcp_pose, states.first.tcp_pose);

  // The classes built on the pair see the same base positions.
  const RobotPair& const_pair = pair();
  EXPECT_EQ(detail::RobotPairAccess::translations_in_world(const_pair),
            std::make_pair(kFirstBase, kSecondBase));
  EXPECT_EQ(detail::RobotPairAccess::impl(const_pair)->robots, arms);
}

TEST_F(RobotPairCoreTest, QueriesAskEachArm) {
  EXPECT_TRUE(pair().connected());
  const auto info = pair().info();
  EXPECT_EQ(info.first.serial_number, first_sn());
  EXPECT_EQ(info.second.serial_number, second_sn());
  EXPECT_EQ(info.first.DoF, 7u);
  const auto arms = pair().instances();
  EXPECT_EQ(pair().instances(), arms);
  EXPECT_EQ(arms.first->info().serial_number, first_sn());

  EXPECT_EQ(pair().operational_status(),
            std::make_pair(vek::OperationalStatus::READY, vek::OperationalStatus::READY));
  EXPECT_FALSE(pair().busy());
  EXPECT_FALSE(pair().fault());

  // The second arm alone: busy, reduced, enabling button, digital inputs.
  std::vector<bool> inputs(18, false);
  inputs[0] = inputs[17] = true;
  sim().Set(second_sn(), {{"program_running", true},
                          {"safety_board_state", 10},
                          {"enabling_button", true},
                          {"digital_inputs", inputs}});
  ASSERT_TRUE(WaitUntil([&] { return pair().which_busy() == std::make_pair(false, true); }, 3s));
  EXPECT_TRUE(pair().busy());
  EXPECT_TRUE(WaitUntil([&] { return pair().reduced() == std::make_pair(false, true); }, 3s));
  EXPECT_TRUE(WaitUntil(
      [&] { return pair().enabling_button_pressed() == std::make_pair(false, true); }, 3s));
  EXPECT_TRUE(WaitUntil([&] { return pair().digital_inputs().second[17]; }, 3s));
  const auto digital = pair().digital_inputs();
  EXPECT_TRUE(digital.second[0]);
  for (bool input : digital.first) EXPECT_FALSE(input);
  EXPECT_EQ(pair().operational_status().second, vek::OperationalStatus::IN_REDUCED_STATE);
  EXPECT_TRUE(pair().operational());

  // The first arm alone: e-stop, fault, mode.
  sim().Set(first_sn(), {{"estop", true}});
  ASSERT_TRUE(
      WaitUntil([&] { return pair().estop_released() == std::make_pair(false, true); }, 3s));
  EXPECT_FALSE(pair().operational());
  sim().Set(first_sn(), {{"estop", false}, {"fault", "minor"}, {"safety_board_state", 12}});
  ASSERT_TRUE(WaitUntil([&] { return pair().which_fault() == std::make_pair(true, false); }, 3s));
  EXPECT_TRUE(pair().fault());
  EXPECT_EQ(pair().operational_status().first, vek::OperationalStatus::MINOR_FAULT);
  sim().Set(first_sn(), {{"fault", nullptr}, {"recovery", true}});
  EXPECT_TRUE(WaitUntil([&] { return pair().recovery() == std::make_pair(true, false); }, 3s));

  ASSERT_TRUE(SetModes(Mode::NRT_PLAN_EXECUTION, Mode::IDLE));
  sim().Set(first_sn(), {{"recovery", false}});

  // Event logs are kept per arm.
  sim().WaitMatched(second_sn(), 5s, {"event_log"});
  sim().Command("event", {{"serial", second_sn()},
                          {"level", 2},
                          {"event_id", 4101},
                          {"description", "Joint 3 warm"},
                          {"consequences", ""},
                          {"probable_causes", ""},
                          {"recommended_actions", ""}});
  ASSERT_TRUE(WaitUntil([&] { return pair().event_log().second.size() == 1; }, 3s));
  const auto log = pair().event_log();
  EXPECT_TRUE(log.first.empty());
  EXPECT_EQ(log.second[0].id, 4101);
  EXPECT_EQ(log.second[0].description, "Joint 3 warm");
}

TEST_F(RobotPairCoreTest, CartesianTargetsReachEachArmInItsBaseFrame) {
  sim().WaitMatched(first_sn(), 5s, {"motion_commands"});
  sim().WaitMatched(second_sn(), 5s, {"motion_commands"});
  const std::array<double, 6> zero6 = {};

  // Non-real-time: a target at the first arm's own base position with the
  // identity orientation reaches it as the origin; the second arm's target
  // is its current TCP pose, given in the world frame.
  ASSERT_TRUE(SwitchBoth(Mode::NRT_CARTESIAN_MOTION_FORCE));
  const Pose second_base_tcp = SimTcp(second_sn());
  const PerArm<Pose> poses = {{kFirstBase[0], kFirstBase[1], kFirstBase[2], 1, 0, 0, 0},
                              Shifted(second_base_tcp, kSecondBase, 1)};
  const PerArm<Pose> poses_before = poses;
  const PerArm<json> sent = SendUntilReceived([&] {
    pair().SendCartesianMotionForce(poses, {zero6, zero6}, {zero6, zero6}, {0.5, 0.5}, {1.0, 1.0},
                                    {2.0, 2.0}, {5.0, 5.0});
  });
  EXPECT_EQ(poses, poses_before);
  ASSERT_FALSE(sent.first.is_null());
  ASSERT_FALSE(sent.second.is_null());
  ExpectPose(sent.first["cartesian"]["pose"], {0, 0, 0, 1, 0, 0, 0});
  ExpectPose(sent.second["cartesian"]["pose"], second_base_tcp);

  // Multi-waypoint: every waypoint of each arm moved by that arm's base;
  // everything else of a waypoint unchanged.
  ASSERT_TRUE(SwitchBoth(Mode::NRT_SUPER_PRIMITIVE));
  vek::NrtCartesianCmd a;
  a.pose = {1.1, 2.2, 3.3, 0, 1, 0, 0};
  a.wrench = {1, 2, 3, 0, 0, 0};
  a.max_linear_vel = 0.5;
  a.max_angular_vel = 1.0;
  a.max_linear_acc = 2.0;
  a.max_angular_acc = 5.0;
  vek::NrtCartesianCmd b = a;
  b.pose = {1.0, 2.0, 3.5, 1, 0, 0, 0};
  vek::NrtCartesianCmd c = a;
  c.pose = {-0.5, 0.25, -1.5, 0, 0, 0, 1};
  const std::vector<double> q(7, 0.1);
  const PerArm<std::vector<vek::NrtCartesianCmd>> cmds = {{a, b}, {c}};
  const PerArm<json> multi = SendUntilReceived([&] {
    pair().SendMultiCartesianMotionForce(cmds, {{q, q}, {q}});
  });
  EXPECT_EQ(cmds.first[0].pose, a.pose);
  ASSERT_FALSE(multi.first.is_null());
  ASSERT_FALSE(multi.second.is_null());
  const json& first_multi = multi.first["cartesian_multi"];
  ASSERT_EQ(first_multi.size(), 2u);
  ExpectPose(first_multi[0]["pose"], {0.1, 0.2, 0.3, 0, 1, 0, 0});
  ExpectPose(first_multi[1]["pose"], {0, 0, 0.5, 1, 0, 0, 0});
  EXPECT_NEAR(first_multi[0]["wrench"][2].get<double>(), 3.0, 1e-6);
  EXPECT_NEAR(first_multi[1]["max_angular_acc"].get<double>(), 5.0, 1e-6);
  ASSERT_EQ(multi.second["cartesian_multi"].size(), 1u);
  ExpectPose(multi.second["cartesian_multi"][0]["pose"], {0, 0, 0.5, 0, 0, 0, 1});

  // Real-time streaming.
  ASSERT_TRUE(SwitchBoth(Mode::RT_CARTESIAN_MOTION_FORCE));
  const Pose first_base_tcp = SimTcp(first_sn());
  const PerArm<Pose> stream = {Shifted(first_base_tcp, kFirstBase, 1),
                               Shifted(SimTcp(second_sn()), kSecondBase, 1)};
  const PerArm<json> streamed = SendUntilReceived([&] {
    pair().StreamCartesianMotionForce(stream, {zero6, zero6}, {zero6, zero6}, {zero6, zero6});
  });
  ASSERT_FALSE(streamed.first.is_null());
  ASSERT_FALSE(streamed.second.is_null());
  ExpectPose(streamed.first["cartesian"]["pose"], first_base_tcp);
  ExpectPose(streamed.second["cartesian"]["pose"], Shifted(stream.second, kSecondBase, -1));

  // Force-control frames are not positions of the world: unchanged.
  pair().SetForceControlFrame({vek::CoordType::WORLD, vek::CoordType::TCP},
                              {Pose{1, 2, 3, 1, 0, 0, 0}, Pose{0, 0, 0.1, 1, 0, 0, 0}});
  const auto first_frame = Requests(first_sn(), 81, 0).back();
  const auto second_frame = Requests(second_sn(), 81, 0).back();
  EXPECT_EQ(first_frame["string_args"], json({"WORLD"}));
  ExpectPose(first_frame["float_args"], {1, 2, 3, 1, 0, 0, 0});
  EXPECT_EQ(second_frame["string_args"], json({"TCP"}));
  ExpectPose(second_frame["float_args"], {0, 0, 0.1, 1, 0, 0, 0});
}

// ------------------------------------------------------------------ construction

TEST(RobotPairConstructionTest, ConnectsLogsAndHandsOutArmsThatOutliveIt) {
  const std::string first = UniqueSerial("Varno4");
  const std::string second = UniqueSerial("Varno4");
  SimProcess sim({first, second}, {"--initial-state", "ready"});
  LogCapture log(spdlog::level::info);
  std::pair<std::shared_ptr<vek::Robot>, std::shared_ptr<vek::Robot>> arms;
  {
    // The second serial number as written with "_": the same robot to the
    // arm, another robot than the first.
    std::string second_underscore = second;
    second_underscore[second_underscore.find('-')] = '_';
    std::unique_ptr<RobotPair> pair = MakePair({first, second_underscore});
    EXPECT_TRUE(pair->connected());
    EXPECT_EQ(pair->info().second.serial_number, second);
    arms = pair->instances();
    EXPECT_EQ(log.Count(spdlog::level::info,
                        "| | | | | | | | | |  Quiral BIVEK v1.2.3  | | | | | | | | | |"),
              1);
    EXPECT_EQ(
        log.Count(spdlog::level::info, "[quiral::bivek::RobotPair] Connecting to robot pair [" +
                                           first + "]-[" + second_underscore + "] ..."),
        1);
    EXPECT_EQ(log.Count(spdlog::level::info, ">>>>> Quiral BIVEK exited <<<<<"), 0);
  }
  EXPECT_EQ(log.Count(spdlog::level::info, ">>>>> Quiral BIVEK exited <<<<<"), 1);
  // The pair is gone; its arms live on with their holders, still connected.
  ASSERT_TRUE(arms.first && arms.second);
  EXPECT_TRUE(arms.first->connected());
  EXPECT_TRUE(arms.second->connected());
  arms.second->SwitchMode(Mode::NRT_PLAN_EXECUTION);
  EXPECT_EQ(sim.State(second)["mode"], 7);
  EXPECT_TRUE(sim.State(first)["matched"]["heartbeat"].get<int>() >= 1);
}

TEST(RobotPairConstructionTest, AnArmThatCannotConnectFailsItAfterTheOtherWasDestroyed) {
  const std::string served = UniqueSerial("Varno4");
  const std::string unserved = UniqueSerial("Varno4");
  SimProcess sim({served}, {"--initial-state", "ready"});
  LogCapture log(spdlog::level::info);
  const std::string expected = "[quiral::bivek::RobotPair](second) Failed to connect to [" +
                               unserved + "]. Please check that: a)";
  std::string text;
  try {
    RobotPair pair({served, unserved}, {kFirstBase, kSecondBase}, kWhitelist);
    FAIL() << "constructed";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(typeid(e), typeid(std::runtime_error));
    text = e.what();
  }
  EXPECT_EQ(text.rfind(expected, 0), 0u) << text;
  EXPECT_EQ(log.Count(spdlog::level::info, ">>>>> Quiral BIVEK exited <<<<<"), 1);
  // The first arm had connected; it is gone with the pair.
  EXPECT_TRUE(
      WaitUntil([&] { return sim.State(served)["matched"]["heartbeat"].get<int>() == 0; }, 5s));
}

TEST(RobotPairConstructionTest, BadArgumentsAreRefusedBeforeAnyConnection) {
  const std::array<double, 3> zero = {};
  // Both arms fail: the first arm's error only.
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        RobotPair({"bad", "Varno4"}, {zero, zero}, kWhitelist);
      },
      "[quiral::bivek::RobotPair](first) Format of the provided robot serial number [bad] is "
      "invalid"));
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] {
        RobotPair({"Nomodel-1", "bad"}, {zero, zero}, kWhitelist);
      },
      "[quiral::bivek::RobotPair](first) Robot model [Nomodel] is not supported"));

  // One robot named twice, in any of the forms the arms accept.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        RobotPair({"Varno4-SIM001", "Varno4-SIM001"}, {zero, zero}, kWhitelist);
      },
      "[quiral::bivek::RobotPair] Serial numbers [Varno4-SIM001] and [Varno4-SIM001] name the "
      "same robot"));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        RobotPair({"Varno4-SIM001", " Varno4_SIM001"}, {zero, zero}, kWhitelist);
      },
      "[quiral::bivek::RobotPair] Serial numbers [Varno4-SIM001] and [ Varno4_SIM001] name the "
      "same robot"));

  // Base positions that are not finite numbers.
  const std::string non_finite =
      "[quiral::bivek::RobotPair] Input parameter [translations_in_world] contains non-finite "
      "value";
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        RobotPair({"Varno4-A1", "Varno4-A2"}, {{0, nan, 0}, zero}, kWhitelist);
      },
      non_finite));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        RobotPair({"Varno4-A1", "Varno4-A2"}, {zero, {0, 0, -inf}}, kWhitelist);
      },
      non_finite));
  // None of these waited for a robot.
  EXPECT_LT(SecondsSince(start), 1.0);
}

}  // namespace
}  // namespace quiral::bivek::testing_util
