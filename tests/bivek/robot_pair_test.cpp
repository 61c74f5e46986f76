// RobotPair against two simulated controllers (the first a medical model):
// positions in the world frame, both arms at once,
// selectors, each operation's tagged errors, and construction.

#include "bivek/robot_pair.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <typeinfo>
#include <utility>
#include <vector>

#include "tests/vek/robot_test_util.h"

namespace quiral::bivek {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test::SimProcess;
using test::UniqueSerial;
using test::WaitUntil;
using vek::Mode;
using vek::testing_util::RequestsOf;
using vek::testing_util::RequestTotal;
using vek::testing_util::Throws;
using vek::testing_util::ThrowsAs;

template <class T>
using PerArm = std::pair<T, T>;
using Pose = std::array<double, 7>;
using Base = std::array<double, 3>;

const std::vector<std::string> kWhitelist = {"127.0.0.1"};
// Base positions of the two arms in the world frame.
const PerArm<Base> kBases = {{1.0, 2.0, 3.0}, {-0.5, 0.25, -2.0}};
const PerArm<std::array<double, 6>> kZero6 = {};

Pose Shifted(Pose pose, const Base& by) {
  for (size_t i = 0; i < 3; ++i) pose[i] += by[i];
  return pose;
}

// A recorded Cartesian pose (floats on the wire) against the expected one.
void ExpectPose(const json& recorded, const Pose& expected) {
  ASSERT_EQ(recorded.size(), 7u) << recorded;
  for (size_t i = 0; i < 7; ++i) EXPECT_NEAR(recorded[i].get<double>(), expected[i], 1e-5) << i;
}

bool Await(const std::function<bool()>& condition) { return WaitUntil(condition, 3s); }

// A fresh simulator with two ready controllers and a pair connected to them.
class RobotPairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = std::make_unique<SimProcess>(std::vector<std::string>{sn_[0], sn_[1]},
                                        std::vector<std::string>{"--initial-state", "ready"});
    pair_ = std::make_unique<RobotPair>(std::make_pair(sn_[0], sn_[1]), kBases, kWhitelist);
    ASSERT_TRUE(Await([&] { return pair_->operational(); }));
    ASSERT_TRUE(SetModes(Mode::IDLE, Mode::IDLE));
  }

  // Sets both controllers' modes directly, waits until the pair sees them
  // and marks the request records for New.
  bool SetModes(Mode first, Mode second) {
    for (int arm : {0, 1}) {
      sim_->Set(sn_[arm], {{"mode", static_cast<int>(arm == 0 ? first : second)}});
      mark_[arm] = RequestTotal(*sim_, sn_[arm]);
    }
    return Await([&] { return pair_->mode() == std::make_pair(first, second); });
  }
  // Requests of one procedure that reached an arm since the mark.
  std::vector<json> New(int arm, int procedure) {
    return RequestsOf(*sim_, sn_[arm], procedure, mark_[arm]);
  }
  int SimMode(int arm) { return sim_->State(sn_[arm])["mode"].get<int>(); }

  // Motion commands are best effort and may be lost: switches both arms to
  // `mode`, then calls `send` until both arms have recorded a command, at
  // most 5 times; returns each arm's newest record (null when none).
  PerArm<json> SendUntilReceived(Mode mode, const std::function<void()>& send) {
    pair_->SwitchMode(mode);
    EXPECT_TRUE(Await([&] { return pair_->mode() == std::make_pair(mode, mode); }));
    const auto motion = [&](int arm, size_t since) {
      return sim_->Command("motion_commands", {{"serial", sn_[arm]}, {"since", since}})["items"];
    };
    const size_t since[2] = {motion(0, 0).size(), motion(1, 0).size()};
    json newest[2];
    const auto received = [&] {
      for (int arm : {0, 1}) {
        const json items = motion(arm, since[arm]);
        if (!items.empty()) newest[arm] = items.back();
      }
      return !newest[0].is_null() && !newest[1].is_null();
    };
    for (int attempt = 0; attempt < 5 && !received(); ++attempt) {
      send();
      WaitUntil(received, 1s, 10ms);
    }
    return {newest[0], newest[1]};
  }

  const std::array<std::string, 2> sn_ = {UniqueSerial("Varno4M"), UniqueSerial("Varno10")};
  std::unique_ptr<SimProcess> sim_;
  std::unique_ptr<RobotPair> pair_;
  size_t mark_[2] = {0, 0};
};

TEST_F(RobotPairTest, PositionsCrossThePairInTheWorldFrame) {
  // Reported: x, y, z shifted by each arm's own base; quaternions and
  // everything else the arm's own. At rest, every sample is the same.
  const auto arms = pair_->instances();
  const auto states = pair_->states();
  const vek::RobotStates first = arms.first->states(), second = arms.second->states();
  EXPECT_EQ(states.first.tcp_pose, Shifted(first.tcp_pose, kBases.first));
  EXPECT_EQ(states.first.flange_pose, Shifted(first.flange_pose, kBases.first));
  EXPECT_EQ(states.second.tcp_pose, Shifted(second.tcp_pose, kBases.second));
  EXPECT_EQ(states.second.flange_pose, Shifted(second.flange_pose, kBases.second));
  EXPECT_EQ(states.second.link_position, second.link_position);
  EXPECT_EQ(pair_->actions().second.tcp_pose_des,
            Shifted(arms.second->actions().tcp_pose_des, kBases.second));

  // Commanded: a target at an arm's base reaches that arm as its origin.
  for (int arm : {0, 1}) ASSERT_TRUE(sim_->WaitMatched(sn_[arm], 5s, {"motion_commands"}));
  const Pose origin = {0, 0, 0, 1, 0, 0, 0}, tcp = second.tcp_pose;
  const PerArm<Pose> targets = {Shifted(origin, kBases.first), Shifted(tcp, kBases.second)};
  const PerArm<json> sent = SendUntilReceived(Mode::NRT_CARTESIAN_MOTION_FORCE, [&] {
    pair_->SendCartesianMotionForce(targets, kZero6, kZero6, {0.5, 0.5}, {1, 1}, {2, 2}, {5, 5});
  });
  ExpectPose(sent.first["cartesian"]["pose"], origin);
  ExpectPose(sent.second["cartesian"]["pose"], tcp);

  // Every waypoint moved by its arm's base; the rest of a waypoint unchanged.
  vek::NrtCartesianCmd a;
  a.pose = {1.1, 2.2, 3.3, 0, 1, 0, 0};
  a.wrench = {1, 2, 3, 0, 0, 0};
  a.max_linear_vel = a.max_angular_vel = a.max_linear_acc = a.max_angular_acc = 1.0;
  vek::NrtCartesianCmd b = a, c = a;
  b.pose = {1.0, 2.0, 3.5, 1, 0, 0, 0};
  c.pose = {-0.5, 0.25, -1.5, 0, 0, 0, 1};
  const std::vector<double> q(7, 0.1);
  const PerArm<json> multi = SendUntilReceived(Mode::NRT_SUPER_PRIMITIVE, [&] {
    pair_->SendMultiCartesianMotionForce({{a, b}, {c}}, {{q, q}, {q}});
  });
  const json& waypoints = multi.first["cartesian_multi"];
  ASSERT_EQ(waypoints.size(), 2u);
  ExpectPose(waypoints[0]["pose"], {0.1, 0.2, 0.3, 0, 1, 0, 0});
  ExpectPose(waypoints[1]["pose"], {0, 0, 0.5, 1, 0, 0, 0});
  EXPECT_NEAR(waypoints[1]["wrench"][2].get<double>(), 3.0, 1e-6);
  ASSERT_EQ(multi.second["cartesian_multi"].size(), 1u);
  ExpectPose(multi.second["cartesian_multi"][0]["pose"], {0, 0, 0.5, 0, 0, 0, 1});
}

// A reply delayed by 1.5 s on each arm costs 1.5 s in all.
TEST_F(RobotPairTest, ConcurrentCommandsRunBothArmsAtOnce) {
  for (const std::string& sn : sn_) {
    sim_->Fault(sn, {{"procedure_id", 8}, {"kind", "late_reply"}, {"delay_ms", 1500}});
  }
  const auto start = std::chrono::steady_clock::now();
  pair_->SetDigitalOutputs({{{0, true}}, {{1, true}}});
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed.count(), 1.4);
  EXPECT_LT(elapsed.count(), 2.5);
  const json first = sim_->State(sn_[0])["digital_outputs"];
  const json second = sim_->State(sn_[1])["digital_outputs"];
  EXPECT_EQ(std::make_pair(first[0], first[1]), std::make_pair(json(1), json(0)));
  EXPECT_EQ(std::make_pair(second[0], second[1]), std::make_pair(json(0), json(1)));

}

TEST_F(RobotPairTest, SelectorsLeaveTheOtherArmUntouched) {
  ASSERT_TRUE(SetModes(Mode::NRT_PLAN_EXECUTION, Mode::NRT_PLAN_EXECUTION));
  for (const PerArm<bool>& selected : {std::make_pair(false, false), std::make_pair(false, true)}) {
    pair_->StepBreakpoint(selected);
    pair_->StopPlan(selected);
    pair_->Stop(selected);
  }
  for (int procedure : {28, 26, 7}) {  // step, stop plan, switch mode
    EXPECT_TRUE(New(0, procedure).empty()) << procedure;
    EXPECT_EQ(New(1, procedure).size(), 1u) << procedure;
  }
  EXPECT_EQ(SimMode(0), 7);
}

// Each operation passes on some classes of an arm's error tagged with the
// arm, converts some, and lets others leave as the arm threw them.
TEST_F(RobotPairTest, ErrorClassesAndTextsPerOperation) {
  const std::string op = "[quiral::bivek::RobotPair::";
  const Mode idle = Mode::IDLE, plan = Mode::NRT_PLAN_EXECUTION, joint = Mode::NRT_JOINT_POSITION;
  const auto fail_next = [&](int arm, int procedure) {
    sim_->Fault(sn_[arm], {{"procedure_id", procedure}, {"kind", "fail"}});
  };
  const std::vector<double> q(7, 0.0), one(7, 1.0);
  const struct {
    PerArm<Mode> modes;
    std::function<void()> call;
    const std::type_info& type;
    std::string text;
    int second_untouched = 0;          // a procedure the second arm must not see
    PerArm<int> sim_modes = {-1, -1};  // the controllers' modes afterwards
  } rows[] = {
      // clang-format off
      // Logic errors of this one leave untagged.
      {{joint, idle}, [&] { pair_->LockExternalAxes({true, true}); }, typeid(std::logic_error),
       "[quiral::vek::Robot::LockExternalAxes] Robot is not in IDLE mode", 13},
      // An invalid argument of the arm becomes a logic error here.
      {{Mode::NRT_PRIMITIVE_EXECUTION, Mode::NRT_PRIMITIVE_EXECUTION},
       [&] { pair_->ExecutePrimitive({std::string("Ho\0me", 5), "Home"}, {}, false); },
       typeid(std::logic_error),
       op + "ExecutePrimitive](first) Input parameter [primitive_name] contains a null character"},
      {{idle, idle}, [&] { pair_->SetGlobalVariables({{{"counter", 4}}, {}}); },
       typeid(std::length_error),
       op + "SetGlobalVariables](second) Input map [global_vars] is empty"},
      // One arm failing to switch or to stop leaves the other switched or stopped.
      {{idle, idle}, [&] { fail_next(1, 7); pair_->SwitchMode(joint); }, typeid(std::runtime_error),
       op + "SwitchMode](second) Failed to switch control mode to [NRT_JOINT_POSITION]", 0, {6, 1}},
      {{plan, plan}, [&] { fail_next(1, 7); pair_->Stop(); }, typeid(std::runtime_error),
       op + "Stop](second) Failed to stop the robot", 0, {1, 7}},
      // Runtime errors of this one leave untagged.
      {{joint, joint},
       [&] {
         sim_->Set(sn_[1], {{"safety_board_state", 72}});
         ASSERT_TRUE(Await([&] { return !pair_->operational(); }));
         pair_->SendJointPosition({q, q}, {q, q}, {one, one}, {one, one});
       },
       typeid(std::runtime_error),
       "[quiral::vek::Robot::SendJointPosition] Robot is not operational: Not enabled"},
      // clang-format on
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    ASSERT_TRUE(SetModes(rows[i].modes.first, rows[i].modes.second)) << "row " << i;
    EXPECT_TRUE(ThrowsAs(rows[i].type, rows[i].call, rows[i].text)) << "row " << i;
    if (rows[i].second_untouched != 0) {
      EXPECT_TRUE(New(1, rows[i].second_untouched).empty()) << "row " << i;
    }
    if (rows[i].sim_modes.first >= 0) {
      EXPECT_EQ(std::make_pair(SimMode(0), SimMode(1)), rows[i].sim_modes) << "row " << i;
    }
  }
}

TEST(RobotPairConstructionTest, ConnectsBothArmsOrNone) {
  const std::string first = UniqueSerial("Varno4"), second = UniqueSerial("Varno4");
  SimProcess sim({first, second}, {"--initial-state", "ready"});

  // The second arm cannot connect: the first, connected, is gone with it.
  const std::string unserved = UniqueSerial("Varno4");
  try {
    RobotPair({first, unserved}, kBases, kWhitelist);
    ADD_FAILURE() << "connected to " << unserved;
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(
        std::string(e.what()).rfind("[quiral::bivek::RobotPair](second) Failed to connect to [" +
                                        unserved + "]. Please check that: a)",
                                    0),
        0u)
        << e.what();
  }
  EXPECT_TRUE(WaitUntil([&] { return sim.State(first)["matched"]["heartbeat"] == 0; }, 5s));

  std::pair<std::shared_ptr<vek::Robot>, std::shared_ptr<vek::Robot>> arms;
  {
    // The second serial number written with "_": the same robot to the
    // arm, another robot than the first.
    std::string second_underscore = second;
    second_underscore[second_underscore.find('-')] = '_';
    const RobotPair pair({first, second_underscore}, kBases, kWhitelist);
    EXPECT_TRUE(pair.connected());
    EXPECT_EQ(pair.info().second.serial_number, second);
    arms = pair.instances();
  }
  // The pair is gone; its arms live on with their holders, still connected.
  EXPECT_TRUE(arms.first->connected());
  arms.second->SwitchMode(Mode::NRT_PLAN_EXECUTION);
  EXPECT_EQ(sim.State(second)["mode"], 7);
}

// Refused before any connection is tried (no controller serves these).
TEST(RobotPairConstructionTest, OneRobotTwiceAndNonFiniteBasesAreRefused) {
  const Base zero = {};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::string non_finite =
      "[quiral::bivek::RobotPair] Input parameter [translations_in_world] contains non-finite "
      "value";
  const std::tuple<PerArm<std::string>, PerArm<Base>, std::string> rows[] = {
      {{"Varno4-SIM001", " Varno4_SIM001"},
       {zero, zero},
       "[quiral::bivek::RobotPair] Serial numbers [Varno4-SIM001] and [ Varno4_SIM001] name the "
       "same robot"},
      {{"Varno4-A1", "Varno4-A2"}, {zero, {0, nan, 0}}, non_finite},
  };
  for (const auto& row : rows) {
    const auto construct = [&] { RobotPair(std::get<0>(row), std::get<1>(row), kWhitelist); };
    EXPECT_TRUE(Throws<std::invalid_argument>(construct, std::get<2>(row)));
  }
}

}  // namespace
}  // namespace quiral::bivek
