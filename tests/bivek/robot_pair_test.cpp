// RobotPair against two simulated controllers (the first a medical model,
// which has brakes): the world frame of poses and Cartesian targets, each
// arm's queries and arguments, sequential and concurrent commands with
// their tagged errors, selectors, and construction.

#include "bivek/robot_pair.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <typeindex>
#include <utility>
#include <vector>

#include "tests/support/sim_process.h"
#include "tests/vek/robot_test_util.h"

namespace quiral::bivek {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test::SimProcess;
using test::UniqueSerial;
using test::WaitUntil;
using vek::Mode;
using vek::testing_util::LogCapture;
using vek::testing_util::RequestsOf;
using vek::testing_util::RequestTotal;
using vek::testing_util::Throws;

template <class T>
using PerArm = std::pair<T, T>;
using Pose = std::array<double, 7>;
using Vec = std::vector<double>;
using Base = std::array<double, 3>;

const std::vector<std::string> kWhitelist = {"127.0.0.1"};
// Base positions of the two arms in the world frame.
const Base kFirstBase = {1.0, 2.0, 3.0};
const Base kSecondBase = {-0.5, 0.25, -2.0};
const std::array<double, 6> kZero6 = {};
const std::string kExited = ">>>>> Quiral BIVEK exited <<<<<";

std::unique_ptr<RobotPair> MakePair(const PerArm<std::string>& serials) {
  return std::make_unique<RobotPair>(serials, std::make_pair(kFirstBase, kSecondBase), kWhitelist);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Pose Shifted(Pose pose, const Base& by) {
  for (size_t i = 0; i < 3; ++i) pose[i] += by[i];
  return pose;
}

// A recorded Cartesian pose (floats on the wire) against the expected one.
void ExpectPose(const json& recorded, const Pose& expected) {
  ASSERT_EQ(recorded.size(), 7u) << recorded;
  for (size_t i = 0; i < 7; ++i) EXPECT_NEAR(recorded[i].get<double>(), expected[i], 1e-5) << i;
}

// Class and text of what `call` throws.
struct Outcome {
  std::type_index type = typeid(void);
  std::string text = "nothing thrown";
};
Outcome Thrown(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return {typeid(e), e.what()};
  }
  return {};
}

// A fresh simulator with two ready controllers and a pair connected to them.
class RobotPairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sn_ = {UniqueSerial("Varno4M"), UniqueSerial("Varno10")};
    sim_ = std::make_unique<SimProcess>(std::vector<std::string>{sn_[0], sn_[1]},
                                        std::vector<std::string>{"--initial-state", "ready"});
    pair_ = MakePair({sn_[0], sn_[1]});
    ASSERT_TRUE(Await([&] {
      return pair_->operational() && pair_->mode() == std::make_pair(Mode::IDLE, Mode::IDLE);
    }));
    Mark();
  }

  SimProcess& sim() { return *sim_; }
  RobotPair& pair() { return *pair_; }
  const std::string& sn(int arm) const { return sn_[arm]; }

  static ::testing::AssertionResult Await(const std::function<bool()>& condition) {
    if (WaitUntil(condition, 3s)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "condition not reached in time";
  }

  // Marks both controllers' request records; New() returns what came after.
  void Mark() {
    for (int arm : {0, 1}) mark_[arm] = RequestTotal(*sim_, sn_[arm]);
  }
  std::vector<json> New(int arm, int procedure) {
    return RequestsOf(*sim_, sn_[arm], procedure, mark_[arm]);
  }
  // One field of the newest such request since the mark; null when none.
  json Newest(int arm, int procedure, const char* field) {
    const auto requests = New(arm, procedure);
    return requests.empty() ? json() : requests.back()[field];
  }

  // Sets both controllers' modes directly and waits until the pair sees them.
  ::testing::AssertionResult SetModes(Mode first, Mode second) {
    sim_->Set(sn_[0], {{"mode", static_cast<int>(first)}});
    sim_->Set(sn_[1], {{"mode", static_cast<int>(second)}});
    return Await([&] { return pair_->mode() == std::make_pair(first, second); });
  }
  // Switches both arms through the pair; waits until the pair sees the mode.
  ::testing::AssertionResult SwitchBoth(Mode mode) {
    pair_->SwitchMode(mode);
    return Await([&] { return pair_->mode() == std::make_pair(mode, mode); });
  }

  size_t MotionTotal(int arm) {
    return sim_->Command("motion_commands", {{"serial", sn_[arm]}, {"compact", true}})["seqs"]
        .size();
  }
  // Motion commands are best effort and may be lost: calls `send` until
  // both arms have recorded a command, at most 5 times, and returns each
  // arm's newest record (null when none).
  PerArm<json> SendUntilReceived(const std::function<void()>& send) {
    const size_t since[2] = {MotionTotal(0), MotionTotal(1)};
    json newest[2];
    const auto received = [&] {
      for (int arm : {0, 1}) {
        const json items = sim_->Command("motion_commands",
                                         {{"serial", sn_[arm]}, {"since", since[arm]}})["items"];
        if (!items.empty()) newest[arm] = items.back();
      }
      return !newest[0].is_null() && !newest[1].is_null();
    };
    for (int attempt = 0; attempt < 5; ++attempt) {
      send();
      if (WaitUntil(received, 1s, 10ms)) break;
    }
    return {newest[0], newest[1]};
  }

  // Delays the next reply of one procedure of one arm.
  void DelayReply(int arm, int procedure, int delay_ms) {
    sim_->Fault(sn_[arm],
                {{"procedure_id", procedure}, {"kind", "late_reply"}, {"delay_ms", delay_ms}});
  }
  void FailNext(int arm, int procedure) {
    sim_->Fault(sn_[arm], {{"procedure_id", procedure}, {"kind", "fail"}});
  }
  json Outputs(int arm) { return sim_->State(sn_[arm])["digital_outputs"]; }
  int SimMode(int arm) { return sim_->State(sn_[arm])["mode"].get<int>(); }
  Pose SimTcp(int arm) { return sim_->State(sn_[arm])["tcp_pose"].get<Pose>(); }

  std::array<std::string, 2> sn_;
  std::unique_ptr<SimProcess> sim_;
  std::unique_ptr<RobotPair> pair_;
  size_t mark_[2] = {0, 0};
};

TEST_F(RobotPairTest, PosesAndCartesianTargetsAreInTheWorldFrame) {
  // Positions shifted by each arm's own base; quaternions and everything
  // else the arm's own. At rest, every sample carries the same values.
  const auto arms = pair().instances();
  const auto states = pair().states();
  const vek::RobotStates first_own = arms.first->states();
  const vek::RobotStates second_own = arms.second->states();
  EXPECT_EQ(states.first.tcp_pose, Shifted(first_own.tcp_pose, kFirstBase));
  EXPECT_EQ(states.first.flange_pose, Shifted(first_own.flange_pose, kFirstBase));
  EXPECT_EQ(states.second.tcp_pose, Shifted(second_own.tcp_pose, kSecondBase));
  EXPECT_EQ(states.second.flange_pose, Shifted(second_own.flange_pose, kSecondBase));
  EXPECT_EQ(pair().actions().second.tcp_pose_des,
            Shifted(arms.second->actions().tcp_pose_des, kSecondBase));
  ExpectPose(json(states.first.tcp_pose), Shifted(SimTcp(0), kFirstBase));
  ExpectPose(json(states.second.tcp_pose), Shifted(SimTcp(1), kSecondBase));
  EXPECT_EQ(states.second.link_position, second_own.link_position);
  EXPECT_EQ(states.first.ext_wrench_in_world, first_own.ext_wrench_in_world);

  sim().WaitMatched(sn(0), 5s, {"motion_commands"});
  sim().WaitMatched(sn(1), 5s, {"motion_commands"});
  // Non-real-time: a target at the first arm's base with the identity
  // orientation reaches it as the origin.
  ASSERT_TRUE(SwitchBoth(Mode::NRT_CARTESIAN_MOTION_FORCE));
  const Pose second_tcp = SimTcp(1);
  const PerArm<json> sent = SendUntilReceived([&] {
    pair().SendCartesianMotionForce({{kFirstBase[0], kFirstBase[1], kFirstBase[2], 1, 0, 0, 0},
                                     Shifted(second_tcp, kSecondBase)},
                                    {kZero6, kZero6}, {kZero6, kZero6}, {0.5, 0.5}, {1.0, 1.0},
                                    {2.0, 2.0}, {5.0, 5.0});
  });
  ASSERT_FALSE(sent.first.is_null() || sent.second.is_null());
  ExpectPose(sent.first["cartesian"]["pose"], {0, 0, 0, 1, 0, 0, 0});
  ExpectPose(sent.second["cartesian"]["pose"], second_tcp);

  // Every waypoint moved by its arm's base; the rest of a waypoint unchanged.
  ASSERT_TRUE(SwitchBoth(Mode::NRT_SUPER_PRIMITIVE));
  vek::NrtCartesianCmd a;
  a.pose = {1.1, 2.2, 3.3, 0, 1, 0, 0};
  a.wrench = {1, 2, 3, 0, 0, 0};
  a.max_linear_vel = a.max_angular_vel = a.max_linear_acc = 1.0;
  a.max_angular_acc = 5.0;
  vek::NrtCartesianCmd b = a;
  b.pose = {1.0, 2.0, 3.5, 1, 0, 0, 0};
  vek::NrtCartesianCmd c = a;
  c.pose = {-0.5, 0.25, -1.5, 0, 0, 0, 1};
  const Vec q(7, 0.1);
  const PerArm<json> multi = SendUntilReceived([&] {
    pair().SendMultiCartesianMotionForce({{a, b}, {c}}, {{q, q}, {q}});
  });
  ASSERT_FALSE(multi.first.is_null() || multi.second.is_null());
  const json& waypoints = multi.first["cartesian_multi"];
  ASSERT_EQ(waypoints.size(), 2u);
  ExpectPose(waypoints[0]["pose"], {0.1, 0.2, 0.3, 0, 1, 0, 0});
  ExpectPose(waypoints[1]["pose"], {0, 0, 0.5, 1, 0, 0, 0});
  EXPECT_NEAR(waypoints[0]["wrench"][2].get<double>(), 3.0, 1e-6);
  EXPECT_NEAR(waypoints[1]["max_angular_acc"].get<double>(), 5.0, 1e-6);
  ASSERT_EQ(multi.second["cartesian_multi"].size(), 1u);
  ExpectPose(multi.second["cartesian_multi"][0]["pose"], {0, 0, 0.5, 0, 0, 0, 1});

  // Real-time streaming.
  ASSERT_TRUE(SwitchBoth(Mode::RT_CARTESIAN_MOTION_FORCE));
  const PerArm<Pose> tcp = {SimTcp(0), SimTcp(1)};
  const PerArm<json> streamed = SendUntilReceived([&] {
    pair().StreamCartesianMotionForce(
        {Shifted(tcp.first, kFirstBase), Shifted(tcp.second, kSecondBase)}, {kZero6, kZero6},
        {kZero6, kZero6}, {kZero6, kZero6});
  });
  ASSERT_FALSE(streamed.first.is_null() || streamed.second.is_null());
  ExpectPose(streamed.first["cartesian"]["pose"], tcp.first);
  ExpectPose(streamed.second["cartesian"]["pose"], tcp.second);

  // Force-control frames are not positions in the world: unchanged.
  Mark();
  pair().SetForceControlFrame({vek::CoordType::WORLD, vek::CoordType::TCP},
                              {Pose{1, 2, 3, 1, 0, 0, 0}, Pose{0, 0, 0.1, 1, 0, 0, 0}});
  EXPECT_EQ(Newest(0, 81, "string_args"), json({"WORLD"}));
  ExpectPose(Newest(0, 81, "float_args"), {1, 2, 3, 1, 0, 0, 0});
  EXPECT_EQ(Newest(1, 81, "string_args"), json({"TCP"}));
  ExpectPose(Newest(1, 81, "float_args"), {0, 0, 0.1, 1, 0, 0, 0});

  // Streamed torques and their flags, each arm its own.
  ASSERT_TRUE(SwitchBoth(Mode::RT_JOINT_TORQUE));
  Vec torques(7, 0.0);
  torques[2] = 1.5;
  const PerArm<json> torque = SendUntilReceived([&] {
    pair().StreamJointTorque({Vec(7, 0.0), torques}, {true, false}, {true, true}, {0, 50});
  });
  ASSERT_FALSE(torque.first.is_null() || torque.second.is_null());
  EXPECT_NEAR(torque.first["joint"]["torque"][2].get<double>(), 0.0, 1e-6);
  EXPECT_NEAR(torque.second["joint"]["torque"][2].get<double>(), 1.5, 1e-6);
  EXPECT_EQ(torque.first["joint"]["disable_gravity_comp"], false);
  EXPECT_EQ(torque.second["joint"]["disable_gravity_comp"], true);
  EXPECT_EQ(torque.second["joint"]["disable_soft_limit"], false);
  EXPECT_NEAR(torque.second["joint"]["friction_comp_scale"].get<double>(), 50.0, 1e-6);
}

TEST_F(RobotPairTest, QueriesAskEachArm) {
  EXPECT_EQ(pair().info().second.serial_number, sn(1));
  EXPECT_EQ(pair().instances().first->info().serial_number, sn(0));
  // The first arm: e-stop, a mode, reduced. The second: busy, enabling
  // button, an input, a fault, then recovery.
  std::vector<bool> inputs(18, false);
  inputs[17] = true;
  sim().Set(sn(0), {{"estop", true}, {"mode", 7}});
  sim().Set(sn(1), {{"program_running", true},
                    {"enabling_button", true},
                    {"fault", "minor"},
                    {"digital_inputs", inputs}});
  ASSERT_TRUE(Await([&] {
    return pair().estop_released() == std::make_pair(false, true) &&
           pair().which_fault() == std::make_pair(false, true) &&
           pair().digital_inputs().second[17];
  }));
  EXPECT_EQ(pair().which_busy(), std::make_pair(false, true));
  EXPECT_EQ(pair().enabling_button_pressed(), std::make_pair(false, true));
  EXPECT_EQ(pair().mode(), std::make_pair(Mode::NRT_PLAN_EXECUTION, Mode::IDLE));
  EXPECT_FALSE(pair().digital_inputs().first[17]);
  EXPECT_EQ(pair().operational_status(), std::make_pair(vek::OperationalStatus::ESTOP_NOT_RELEASED,
                                                        vek::OperationalStatus::MINOR_FAULT));
  sim().Set(sn(0), {{"estop", false}, {"safety_board_state", 10}});
  sim().Set(sn(1), {{"fault", nullptr}, {"recovery", true}});
  EXPECT_TRUE(Await([&] {
    return pair().reduced() == std::make_pair(true, false) &&
           pair().recovery() == std::make_pair(false, true);
  }));

  // Event logs and plan lists come from each arm.
  sim().WaitMatched(sn(1), 5s, {"event_log"});
  json event = json::parse(R"({"level": 2, "event_id": 4101, "description": "Joint 3 warm",
      "consequences": "", "probable_causes": "", "recommended_actions": ""})");
  event["serial"] = sn(1);
  sim().Command("event", event);
  ASSERT_TRUE(Await([&] { return pair().event_log().second.size() == 1; }));
  EXPECT_TRUE(pair().event_log().first.empty());
  sim().Set(sn(0), {{"plans", {"Alpha", "Beta"}}});
  sim().Set(sn(1), {{"plans", {"Gamma"}}});
  EXPECT_EQ(pair().plan_list(), std::make_pair(std::vector<std::string>{"Alpha", "Beta"},
                                               std::vector<std::string>{"Gamma"}));
}

// Sequential: the first arm, then the second; never the second once the
// first has failed.
TEST_F(RobotPairTest, SequentialCommandsStopAtTheFirstFailedArm) {
  sim().Set(sn(0), {{"estop", true}});
  ASSERT_TRUE(Await([&] { return pair().estop_released() == std::make_pair(false, true); }));
  Mark();
  EXPECT_TRUE(
      Throws<std::logic_error>([&] { pair().Enable(); },
                               "[quiral::bivek::RobotPair::Enable](first) E-stop is not released"));
  EXPECT_TRUE(New(1, 1).empty());

  // The second arm fails: the first has been enabled.
  sim().Set(sn(0), {{"estop", false}});
  sim().Set(sn(1), {{"estop", true}});
  ASSERT_TRUE(Await([&] { return pair().estop_released() == std::make_pair(true, false); }));
  Mark();
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] { pair().Enable(); },
      "[quiral::bivek::RobotPair::Enable](second) E-stop is not released"));
  EXPECT_EQ(New(0, 1).size(), 1u);
  EXPECT_TRUE(New(1, 1).empty());

  sim().Set(sn(1), {{"estop", false}});
  ASSERT_TRUE(Await([&] { return pair().estop_released() == std::make_pair(true, true); }));
  // Both succeed, first arm first.
  Mark();
  pair().Enable();
  const auto first = New(0, 1);
  const auto second = New(1, 1);
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_LT(first[0]["t_ns"].get<int64_t>(), second[0]["t_ns"].get<int64_t>());
}

// Concurrent: a reply delayed by 1.5 s on each arm costs 1.5 s in all.
TEST_F(RobotPairTest, ConcurrentCommandsWaitForBothArmsAtOnce) {
  DelayReply(0, 8, 1500);
  DelayReply(1, 8, 1500);
  auto start = std::chrono::steady_clock::now();
  pair().SetDigitalOutputs({{{0, true}}, {{1, true}}});
  double elapsed = SecondsSince(start);
  EXPECT_GE(elapsed, 1.4);
  EXPECT_LT(elapsed, 2.5);
  EXPECT_EQ(Outputs(0)[0], 1);
  EXPECT_EQ(Outputs(0)[1], 0);
  EXPECT_EQ(Outputs(1)[0], 0);
  EXPECT_EQ(Outputs(1)[1], 1);
}

TEST_F(RobotPairTest, ConcurrentErrorsOfTheFirstTheSecondAndBothArms) {
  const auto set = [&](unsigned first_port, unsigned second_port) {
    return [=] { pair().SetDigitalOutputs({{{first_port, true}}, {{second_port, true}}}); };
  };
  const std::string out_of_range = " Input map contains port index outside the valid range";
  const std::string op = "[quiral::bivek::RobotPair::SetDigitalOutputs]";
  // The first arm refuses at once; its error leaves only after the second
  // arm's reply, 1.5 s later, and the second arm's command took effect.
  DelayReply(1, 8, 1500);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Throws<std::invalid_argument>(set(18, 2), op + "(first)" + out_of_range));
  EXPECT_GE(SecondsSince(start), 1.4);
  EXPECT_EQ(Outputs(1)[2], 1);
  EXPECT_EQ(Outputs(0)[2], 0);

  // The second arm fails: the first arm's command has taken effect.
  EXPECT_TRUE(Throws<std::invalid_argument>(set(3, 99), op + "(second)" + out_of_range));
  EXPECT_EQ(Outputs(0)[3], 1);

  // Both fail: only the first arm's error leaves; the second's is logged.
  LogCapture log(spdlog::level::warn);
  FailNext(1, 8);
  EXPECT_TRUE(Throws<std::invalid_argument>(set(18, 4), op + "(first)" + out_of_range));
  EXPECT_EQ(
      log.Count(spdlog::level::warn, op + "(second) Also failed: Failed to deliver the request"),
      1);
}

TEST_F(RobotPairTest, SelectorsLeaveTheOtherArmUntouched) {
  ASSERT_TRUE(SetModes(Mode::NRT_PLAN_EXECUTION, Mode::NRT_PLAN_EXECUTION));
  Mark();
  FailNext(0, 28);
  pair().StepBreakpoint({false, false});
  pair().StepBreakpoint({false, true});
  pair().StopPlan({false, false});
  pair().StopPlan({false, true});
  pair().PausePlan({true, false});
  EXPECT_TRUE(New(0, 28).empty());
  EXPECT_EQ(New(1, 28).size(), 1u);
  EXPECT_TRUE(New(0, 26).empty());
  EXPECT_EQ(New(1, 26).size(), 1u);
  EXPECT_EQ(New(0, 24).size(), 1u);  // pause
  EXPECT_EQ(New(1, 25).size(), 1u);  // resume
  pair().StopPlan();
  EXPECT_EQ(New(0, 26).size(), 1u);

  pair().Stop({false, false});
  pair().Stop({false, true});
  EXPECT_TRUE(New(0, 7).empty());
  EXPECT_EQ(SimMode(0), 7);
  EXPECT_EQ(SimMode(1), 1);

  // Only the arm in recovery recovers; the other gets no request.
  ASSERT_TRUE(SetModes(Mode::IDLE, Mode::IDLE));
  sim().Set(sn(1), {{"joints", {0, -0.7, 0, 2.72, 0, 0.7, 0}}, {"recovery", true}});
  ASSERT_TRUE(Await([&] { return pair().recovery() == std::make_pair(false, true); }));
  Mark();
  pair().RunAutoRecovery();
  EXPECT_LT(sim().State(sn(1))["joints"]["position"][3].get<double>(), 2.67);
  EXPECT_TRUE(New(0, 7).empty());
}

// Each operation passes on some classes of an arm's error tagged with the
// arm, converts some, and lets others leave as the arm threw them.
TEST_F(RobotPairTest, ErrorClassesAndTextsPerOperation) {
  const std::string op = "[quiral::bivek::RobotPair::";
  const Mode idle = Mode::IDLE, plan = Mode::NRT_PLAN_EXECUTION, joint = Mode::NRT_JOINT_POSITION;
  const Vec q(7, 0.0), one(7, 1.0);
  const Pose identity = {0, 0, 0, 1, 0, 0, 0};
  const struct {
    PerArm<Mode> modes;
    std::function<void()> call;
    std::type_index type;
    std::string text;
    int second_untouched = 0;          // a procedure the second arm must not see
    PerArm<int> sim_modes = {-1, -1};  // the controllers' modes afterwards
  } rows[] = {
      // clang-format off
      {{idle, plan}, [&] { pair().plan_info(); }, typeid(std::logic_error),
       op + "plan_info](first) Robot is not in an applicable control mode"},
      {{plan, plan}, [&] { pair().SetVelocityScale({101, 50}); }, typeid(std::invalid_argument),
       op + "SetVelocityScale](first) Input parameter [velocity_scale] cannot exceed 100%", 20},
      // Logic errors of this one leave untagged.
      {{joint, idle}, [&] { pair().LockExternalAxes({true, true}); }, typeid(std::logic_error),
       "[quiral::vek::Robot::LockExternalAxes] Robot is not in IDLE mode", 13},
      {{plan, plan}, [&] { pair().ExecutePlan(std::make_pair(0u, 3u), false, false); },
       typeid(std::invalid_argument),
       op + "ExecutePlan](second) Input parameter [index] is outside the valid range"},
      // An invalid argument of the arm becomes a logic error here.
      {{Mode::NRT_PRIMITIVE_EXECUTION, Mode::NRT_PRIMITIVE_EXECUTION},
       [&] { pair().ExecutePrimitive({std::string("Ho\0me", 5), "Home"}, {}, false); },
       typeid(std::logic_error),
       op + "ExecutePrimitive](first) Input parameter [primitive_name] contains a null character"},
      {{idle, idle}, [&] { pair().SetGlobalVariables({{{"counter", 4}}, {}}); },
       typeid(std::length_error),
       op + "SetGlobalVariables](second) Input map [global_vars] is empty"},
      {{idle, idle}, [&] { FailNext(0, 11); pair().global_variables(); },
       typeid(std::runtime_error), op + "global_variables](first) No reply from the robot"},
      {{Mode::NRT_CARTESIAN_MOTION_FORCE, Mode::NRT_CARTESIAN_MOTION_FORCE},
       [&] {
         pair().SetForceControlFrame({vek::CoordType::WORLD, vek::CoordType(7)},
                                     {identity, identity});
       },
       typeid(std::logic_error),
       op + "SetForceControlFrame](second) Input parameter [root_coord] is invalid"},
      // One arm failing to switch or to stop leaves the other switched or stopped.
      {{idle, idle}, [&] { FailNext(1, 7); pair().SwitchMode(joint); }, typeid(std::runtime_error),
       op + "SwitchMode](second) Failed to switch control mode to [NRT_JOINT_POSITION]", 0, {6, 1}},
      {{idle, idle}, [&] { pair().SwitchMode({Mode(99), plan}); }, typeid(std::invalid_argument),
       op + "SwitchMode](first) Invalid control mode input", 0, {1, 7}},
      {{plan, plan}, [&] { FailNext(1, 7); pair().Stop(); }, typeid(std::runtime_error),
       op + "Stop](second) Failed to stop the robot", 0, {1, 7}},
      // Runtime errors of this one leave untagged.
      {{joint, joint},
       [&] {
         sim().Set(sn(1), {{"safety_board_state", 72}});
         ASSERT_TRUE(Await([&] { return !pair().operational(); }));
         pair().SendJointPosition({q, q}, {q, q}, {one, one}, {one, one});
       },
       typeid(std::runtime_error),
       "[quiral::vek::Robot::SendJointPosition] Robot is not operational: Not enabled"},
      {{idle, idle},
       [&] {
         sim().Set(sn(0), {{"recovery", true}});
         FailNext(0, 7);
         ASSERT_TRUE(Await([&] { return pair().recovery().first; }));
         pair().RunAutoRecovery();
       },
       typeid(std::runtime_error),
       op + "RunAutoRecovery](first) Failed to enter automatic recovery mode"},
      // clang-format on
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    ASSERT_TRUE(SetModes(rows[i].modes.first, rows[i].modes.second)) << "row " << i;
    Mark();
    const Outcome got = Thrown(rows[i].call);
    EXPECT_TRUE(got.type == rows[i].type) << "row " << i << ": " << got.type.name();
    EXPECT_EQ(got.text, rows[i].text) << "row " << i;
    if (rows[i].second_untouched != 0) {
      EXPECT_TRUE(New(1, rows[i].second_untouched).empty()) << "row " << i;
    }
    if (rows[i].sim_modes.first >= 0) {
      EXPECT_EQ(std::make_pair(SimMode(0), SimMode(1)), rows[i].sim_modes) << "row " << i;
    }
  }
}

TEST(RobotPairConstructionTest, ConnectsBothArmsOrNone) {
  const std::string first = UniqueSerial("Varno4");
  const std::string second = UniqueSerial("Varno4");
  SimProcess sim({first, second}, {"--initial-state", "ready"});
  LogCapture log(spdlog::level::info);

  // The second arm cannot connect: the first, connected, is gone with it.
  const std::string unserved = UniqueSerial("Varno4");
  const Outcome failed = Thrown([&] { MakePair({first, unserved}); });
  EXPECT_TRUE(failed.type == typeid(std::runtime_error)) << failed.type.name();
  EXPECT_EQ(failed.text.rfind("[quiral::bivek::RobotPair](second) Failed to connect to [" +
                                  unserved + "]. Please check that: a)",
                              0),
            0u)
      << failed.text;
  EXPECT_EQ(log.Count(spdlog::level::info, kExited), 1);
  EXPECT_TRUE(WaitUntil([&] { return sim.State(first)["matched"]["heartbeat"] == 0; }, 5s));

  std::pair<std::shared_ptr<vek::Robot>, std::shared_ptr<vek::Robot>> arms;
  {
    // The second serial number written with "_": the same robot to the
    // arm, another robot than the first.
    std::string second_underscore = second;
    second_underscore[second_underscore.find('-')] = '_';
    const auto pair = MakePair({first, second_underscore});
    EXPECT_TRUE(pair->connected());
    EXPECT_EQ(pair->info().second.serial_number, second);
    arms = pair->instances();
    EXPECT_EQ(log.Count(spdlog::level::info,
                        "| | | | | | | | | |  Quiral BIVEK v1.2.3  | | | | | | | | | |"),
              2);
    EXPECT_EQ(
        log.Count(spdlog::level::info, "[quiral::bivek::RobotPair] Connecting to robot pair [" +
                                           first + "]-[" + second_underscore + "] ..."),
        1);
    EXPECT_EQ(log.Count(spdlog::level::info, kExited), 1);
  }
  EXPECT_EQ(log.Count(spdlog::level::info, kExited), 2);
  // The pair is gone; its arms live on with their holders, still connected.
  ASSERT_TRUE(arms.first && arms.second);
  EXPECT_TRUE(arms.first->connected());
  arms.second->SwitchMode(Mode::NRT_PLAN_EXECUTION);
  EXPECT_EQ(sim.State(second)["mode"], 7);
  EXPECT_GE(sim.State(first)["matched"]["heartbeat"].get<int>(), 1);
}

TEST(RobotPairConstructionTest, BadArgumentsAreRefusedBeforeAnyConnection) {
  const Base zero = {};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::string non_finite =
      "[quiral::bivek::RobotPair] Input parameter [translations_in_world] contains non-finite "
      "value";
  const struct {
    PerArm<std::string> serials;
    PerArm<Base> bases;
    std::type_index type;
    std::string text;
  } rows[] = {
      // clang-format off
      // Both arms wrong: the first arm's error only.
      {{"bad", "Varno4"}, {zero, zero}, typeid(std::invalid_argument),
       "[quiral::bivek::RobotPair](first) Format of the provided robot serial number [bad] is "
       "invalid"},
      {{"Nomodel-1", "bad"}, {zero, zero}, typeid(std::logic_error),
       "[quiral::bivek::RobotPair](first) Robot model [Nomodel] is not supported"},
      // One robot named twice, in any of the forms the arms accept.
      {{"Varno4-SIM001", "Varno4-SIM001"}, {zero, zero}, typeid(std::invalid_argument),
       "[quiral::bivek::RobotPair] Serial numbers [Varno4-SIM001] and [Varno4-SIM001] name the "
       "same robot"},
      {{"Varno4-SIM001", " Varno4_SIM001"}, {zero, zero}, typeid(std::invalid_argument),
       "[quiral::bivek::RobotPair] Serial numbers [Varno4-SIM001] and [ Varno4_SIM001] name the "
       "same robot"},
      // Base positions that are not finite numbers.
      {{"Varno4-A1", "Varno4-A2"}, {{0, nan, 0}, zero}, typeid(std::invalid_argument), non_finite},
      {{"Varno4-A1", "Varno4-A2"}, {zero, {0, 0, -inf}}, typeid(std::invalid_argument), non_finite},
      // clang-format on
  };
  const auto start = std::chrono::steady_clock::now();
  for (const auto& row : rows) {
    const Outcome got = Thrown([&] { RobotPair(row.serials, row.bases, kWhitelist); });
    EXPECT_TRUE(got.type == row.type) << row.text << ": " << got.type.name();
    EXPECT_EQ(got.text, row.text);
  }
  // None of these waited for a robot.
  EXPECT_LT(SecondsSince(start), 1.0);
}

}  // namespace
}  // namespace quiral::bivek
