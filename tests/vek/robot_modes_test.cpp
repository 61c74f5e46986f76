// Control modes, enabling, fault clearing, stopping, automatic recovery,
// brakes and the external-axis switches of a Robot against the simulated
// controller.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/vek_client.h"
#include "msgs/vek_msgs/joint_commands.h"
#include "tests/vek/robot_test_util.h"
#include "vek/robot.h"
#include "vek/robot_access.h"
#include "vek/robot_impl.h"

namespace quiral::vek {
namespace {

using namespace testing_util;
using std::chrono::steady_clock;

const std::vector<double> kHome = {0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0};

vek_msgs::msg::JointCommands PositionCommand(std::vector<double> q) {
  vek_msgs::msg::JointCommands command;
  for (double v : q) command.position().push_back(static_cast<float>(v));
  return command;
}

// Int arguments of every request of `procedure` since `since`.
std::vector<std::vector<int>> IntArgs(SimProcess& sim, const std::string& serial, int procedure,
                                      size_t since) {
  std::vector<std::vector<int>> out;
  for (const json& item : RequestsOf(sim, serial, procedure, since)) {
    out.push_back(item["int_args"].get<std::vector<int>>());
  }
  return out;
}

// Sequence numbers and joint positions of the motion commands since `since`,
// once `count` of them have arrived.
json MotionSince(SimProcess& sim, const std::string& serial, size_t since, size_t count) {
  json items;
  WaitUntil(
      [&] {
        items = sim.MotionCommands(serial, since)["items"];
        return items.size() >= count;
      },
      3s, 10ms);
  return items;
}

size_t MotionTotal(SimProcess& sim, const std::string& serial) {
  return sim.Command("motion_commands", {{"serial", serial}, {"compact", true}})["seqs"].size();
}

long DebugMillis(const LogCapture& log) {
  const auto lines = log.Starting(
      spdlog::level::debug, "[quiral::vek::Robot] Time taken to decelerate and stop the robot: ");
  if (lines.size() != 1) return -1;
  const std::string& line = lines[0];
  const size_t start = line.rfind(": ") + 2;
  return std::stol(line.substr(start, line.size() - start - 3));
}

class RobotModesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    serial_ = new std::string(UniqueSerial("Varno4"));
    sim_ = new SimProcess({*serial_}, {"--initial-state", "ready"});
    robot_ = MakeRobot(*serial_).release();
  }
  static void TearDownTestSuite() {
    delete robot_;
    delete sim_;
    delete serial_;
  }
  void SetUp() override {
    sim_->ClearFaults(*serial_);
    ASSERT_TRUE(SyncedSet(*sim_, *serial_, *robot_, ReadyState()));
    ASSERT_TRUE(WaitUntil([&] { return robot_->mode() == Mode::IDLE; }, 2s));
    impl_ = detail::RobotAccess::impl(*robot_);
    impl_->verbose = false;
  }
  void TearDown() override { impl_->verbose = false; }

  // Puts the controller into `mode` directly and waits until the Robot
  // reads it.
  void ForceMode(int mode) {
    sim_->Set(*serial_, {{"mode", mode}});
    ASSERT_TRUE(WaitUntil(
        [&] {
          return robot_->mode() == static_cast<Mode>(mode) ||
                 (mode > 12 && robot_->mode() == Mode::UNKNOWN &&
                  sim_->State(*serial_)["mode"] == mode);
        },
        2s));
  }

  static std::string* serial_;
  static SimProcess* sim_;
  static Robot* robot_;
  Robot::Impl* impl_ = nullptr;
};

std::string* RobotModesTest::serial_ = nullptr;
SimProcess* RobotModesTest::sim_ = nullptr;
Robot* RobotModesTest::robot_ = nullptr;

TEST_F(RobotModesTest, SwitchModeGoesThroughIdleAndRestartsTheCounter) {
  const std::string& serial = *serial_;
  ASSERT_TRUE(sim_->WaitMatched(serial, 5s, {"motion_commands"}));
  impl_->verbose = true;
  LogCapture log(spdlog::level::debug);

  // In IDLE, a switch to IDLE sends nothing but still restarts the series.
  impl_->PublishJointCommand(PositionCommand(kHome));
  impl_->PublishJointCommand(PositionCommand(kHome));
  EXPECT_EQ(impl_->MotionCommandCounter(), 2u);
  size_t ops = RequestTotal(*sim_, serial);
  robot_->SwitchMode(Mode::IDLE);
  EXPECT_EQ(RequestTotal(*sim_, serial), ops);
  EXPECT_EQ(impl_->MotionCommandCounter(), 0u);
  EXPECT_EQ(log.Count(spdlog::level::info, "[quiral::vek::Robot] Control mode switched to [IDLE]"),
            1);
  EXPECT_EQ(DebugMillis(log), -1);  // no standstill wait from IDLE

  // From IDLE: one request, the target.
  robot_->SwitchMode(Mode::RT_JOINT_POSITION);
  EXPECT_EQ(IntArgs(*sim_, serial, 7, ops), (std::vector<std::vector<int>>{{5}}));
  EXPECT_EQ(RequestTotal(*sim_, serial), ops + 1);
  ASSERT_TRUE(WaitUntil([&] { return robot_->mode() == Mode::RT_JOINT_POSITION; }, 2s));

  // Three streamed commands carry 1, 2, 3 and set the arm moving.
  size_t motion = MotionTotal(*sim_, serial);
  std::vector<double> far = kHome;
  far[0] = 1.2;
  for (int i = 0; i < 3; ++i) impl_->PublishJointCommand(PositionCommand(far));
  json items = MotionSince(*sim_, serial, motion, 3);
  ASSERT_EQ(items.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(items[i]["sequence_num"], i + 1);
  // Fast enough to need a while to stop.
  ASSERT_TRUE(WaitUntil(
      [&] {
        const auto v = robot_->states().motor_velocity;
        return v.size() == 7 && v[0] > 1.0;
      },
      2s));

  // The same mode again: IDLE first, a wait until the arm stands still,
  // then the mode.
  ops = RequestTotal(*sim_, serial);
  robot_->SwitchMode(Mode::RT_JOINT_POSITION);
  EXPECT_TRUE(robot_->stopped());
  const auto requests = RequestsOf(*sim_, serial, 7, ops);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]["int_args"], json({1}));
  EXPECT_EQ(requests[1]["int_args"], json({5}));
  const long waited = DebugMillis(log);
  EXPECT_GE(waited, 50);  // the arm was moving fast
  EXPECT_LT(waited, 700);
  EXPECT_EQ(waited % 10, 0);
  const double gap_ms =
      (requests[1]["t_ns"].get<double>() - requests[0]["t_ns"].get<double>()) / 1e6;
  EXPECT_GE(gap_ms, static_cast<double>(waited));
  EXPECT_EQ(log.Count(spdlog::level::info,
                      "[quiral::vek::Robot] Control mode switched to [RT_JOINT_POSITION]"),
            2);

  // The held command was dropped and the series restarts at 1.
  EXPECT_EQ(impl_->MotionCommandCounter(), 0u);
  motion = MotionTotal(*sim_, serial);
  impl_->client->motion_commands_pub.Publish();
  impl_->PublishJointCommand(PositionCommand(kHome));
  items = MotionSince(*sim_, serial, motion, 2);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]["sequence_num"], 0);
  EXPECT_TRUE(items[0]["joint"]["position"].empty());
  EXPECT_EQ(items[1]["sequence_num"], 1);
  EXPECT_EQ(items[1]["joint"]["position"].size(), 7u);
}

TEST_F(RobotModesTest, SwitchModeWaitsAtMost700MillisecondsForStandstill) {
  ForceMode(5);
  ASSERT_TRUE(
      SyncedSet(*sim_, *serial_, *robot_, {{"velocity_override", std::vector<double>(7, 0.3)}}));
  ASSERT_FALSE(robot_->stopped());
  LogCapture log(spdlog::level::debug);
  const size_t ops = RequestTotal(*sim_, *serial_);
  const auto start = steady_clock::now();
  robot_->SwitchMode(Mode::RT_JOINT_TORQUE);
  EXPECT_GE(steady_clock::now() - start, 700ms);
  EXPECT_EQ(DebugMillis(log), 700);
  // A robot still moving is not an error: the mode is requested anyway.
  EXPECT_EQ(IntArgs(*sim_, *serial_, 7, ops), (std::vector<std::vector<int>>{{1}, {2}}));
  EXPECT_EQ(sim_->State(*serial_)["mode"], 2);
}

TEST_F(RobotModesTest, AStopWaitsForASwitchUnderWay) {
  // A switch from a robot that never comes to rest takes 700 ms in IDLE
  // before its second request; a Stop from another thread meanwhile must
  // not land between the two.
  ForceMode(5);
  ASSERT_TRUE(
      SyncedSet(*sim_, *serial_, *robot_, {{"velocity_override", std::vector<double>(7, 0.3)}}));
  const size_t ops = RequestTotal(*sim_, *serial_);
  auto switching = std::async(std::launch::async, [&] {
    robot_->SwitchMode(Mode::RT_JOINT_TORQUE);
    return steady_clock::now();
  });
  ASSERT_TRUE(WaitUntil([&] { return !RequestsOf(*sim_, *serial_, 7, ops).empty(); }, 3s));
  ASSERT_EQ(switching.wait_for(0ms), std::future_status::timeout);
  robot_->Stop();
  ASSERT_EQ(switching.wait_for(5s), std::future_status::ready);
  switching.get();
  // The switch's two requests, then the Stop's IDLE: the Stop came after
  // the switch and, although the states may not show the new mode yet,
  // still asked for IDLE.
  EXPECT_EQ(IntArgs(*sim_, *serial_, 7, ops),
            (std::vector<std::vector<int>>{{1}, {2}, {1}}));
  EXPECT_TRUE(sim_->WaitForState(*serial_, [](const json& s) { return s["mode"] == 1; }, 3s));
}

TEST_F(RobotModesTest, ACommandRightAfterASwitchFindsTheNewMode) {
  ForceMode(1);
  for (int round = 0; round < 5; ++round) {
    robot_->SwitchMode(Mode::NRT_JOINT_POSITION);
    EXPECT_EQ(robot_->mode(), Mode::NRT_JOINT_POSITION);
    EXPECT_NO_THROW(robot_->SendJointPosition(kHome, std::vector<double>(7, 0.0),
                                              std::vector<double>(7, 1.0),
                                              std::vector<double>(7, 1.0)));
    robot_->SwitchMode(Mode::IDLE);
    EXPECT_EQ(robot_->mode(), Mode::IDLE);
  }
}

TEST_F(RobotModesTest, AStopRightAfterASwitchAsksForIdleBeforeTheStatesShowTheMode) {
  ForceMode(1);
  // Hold the real-time states at IDLE, as they are until their next sample
  // after a switch; the data streams go on.
  sim_->Command("stop_states", {{"serial", *serial_}, {"topics", {"rt_states"}}});
  const size_t ops = RequestTotal(*sim_, *serial_);
  robot_->SwitchMode(Mode::NRT_JOINT_POSITION);
  ASSERT_EQ(robot_->mode(), Mode::IDLE);
  robot_->Stop();
  sim_->Command("start_states", {{"serial", *serial_}, {"topics", {"rt_states"}}});
  EXPECT_EQ(IntArgs(*sim_, *serial_, 7, ops), (std::vector<std::vector<int>>{{6}, {1}}));
  EXPECT_TRUE(sim_->WaitForState(*serial_, [](const json& s) { return s["mode"] == 1; }, 3s));
}

TEST_F(RobotModesTest, SwitchModeRefusals) {
  const std::string& serial = *serial_;
  const size_t ops = RequestTotal(*sim_, serial);
  for (const Mode mode :
       {Mode::UNKNOWN, Mode::AUTO_RECOVERY, static_cast<Mode>(13), static_cast<Mode>(-1)}) {
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { robot_->SwitchMode(mode); },
        "[quiral::vek::Robot::SwitchMode] Invalid control mode input"));
  }
  EXPECT_EQ(RequestTotal(*sim_, serial), ops);

  // Not operational: a logic_error here (the gate of other operations
  // throws runtime_error). Stop goes through the same gate.
  ASSERT_TRUE(SyncedSet(*sim_, serial, *robot_, {{"estop", true}}));
  const std::string not_operational =
      "[quiral::vek::Robot::SwitchMode] Robot is not operational: E-Stop not released";
  EXPECT_TRUE(Throws<std::logic_error>([&] { robot_->SwitchMode(Mode::NRT_PLAN_EXECUTION); },
                                       not_operational));
  EXPECT_TRUE(Throws<std::logic_error>([&] { robot_->Stop(); }, not_operational));
  ASSERT_TRUE(SyncedSet(*sim_, serial, *robot_, ReadyState()));

  // A mode the client does not know.
  for (const int raw : {0, 13, 65535}) {
    ForceMode(raw);
    EXPECT_TRUE(Throws<std::logic_error>(
        [&] { robot_->SwitchMode(Mode::IDLE); },
        "[quiral::vek::Robot::SwitchMode] Robot is in an unknown control mode"));
  }
  EXPECT_EQ(RequestTotal(*sim_, serial), ops);

  // A refused request leaves the counter and the held command as they were.
  ForceMode(5);
  impl_->PublishJointCommand(PositionCommand(kHome));
  const uint64_t counter = impl_->MotionCommandCounter();
  ASSERT_GT(counter, 0u);
  sim_->Fault(serial, {{"procedure_id", 7}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { robot_->SwitchMode(Mode::NRT_PLAN_EXECUTION); },
      "[quiral::vek::Robot::SwitchMode] Failed to switch control mode to IDLE"));
  EXPECT_EQ(impl_->MotionCommandCounter(), counter);
  ForceMode(1);
  sim_->Fault(serial, {{"procedure_id", 7}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { robot_->SwitchMode(Mode::NRT_PLAN_EXECUTION); },
      "[quiral::vek::Robot::SwitchMode] Failed to switch control mode to [NRT_PLAN_EXECUTION]"));
  EXPECT_EQ(impl_->MotionCommandCounter(), counter);
  EXPECT_EQ(sim_->State(serial)["mode"], 1);
}

TEST_F(RobotModesTest, StopDoesNothingInAFault) {
  const std::string& serial = *serial_;
  ForceMode(6);
  ASSERT_TRUE(SyncedSet(*sim_, serial, *robot_, {{"system_state", 14}}));
  ASSERT_TRUE(robot_->fault());
  size_t ops = RequestTotal(*sim_, serial);
  EXPECT_NO_THROW(robot_->Stop());
  EXPECT_EQ(RequestTotal(*sim_, serial), ops);

  ASSERT_TRUE(SyncedSet(*sim_, serial, *robot_, {{"system_state", 5}}));
  impl_->PublishJointCommand(PositionCommand(kHome));
  EXPECT_NO_THROW(robot_->Stop());
  EXPECT_EQ(IntArgs(*sim_, serial, 7, ops), (std::vector<std::vector<int>>{{1}}));
  EXPECT_EQ(impl_->MotionCommandCounter(), 0u);
  EXPECT_EQ(sim_->State(serial)["mode"], 1);
}

TEST_F(RobotModesTest, EnableReleasesTheBrakesThenTheRobotIsReady) {
  const std::string& serial = *serial_;
  ASSERT_TRUE(SyncedSet(*sim_, serial, *robot_, {{"safety_board_state", 72}}));
  ASSERT_EQ(robot_->operational_status(), OperationalStatus::NOT_ENABLED);
  size_t ops = RequestTotal(*sim_, serial);
  robot_->Enable();
  const auto enable = RequestsOf(*sim_, serial, 1, ops);
  ASSERT_EQ(enable.size(), 1u);
  EXPECT_TRUE(enable[0]["int_args"].empty());
  EXPECT_TRUE(enable[0]["float_args"].empty());
  EXPECT_TRUE(enable[0]["string_args"].empty());
  EXPECT_EQ(enable[0]["long_string"], "");
  // Returns at the acknowledgement, before the drives are ready.
  EXPECT_TRUE(WaitUntil(
      [&] { return robot_->operational_status() == OperationalStatus::RELEASING_BRAKE; }, 2s, 1ms));
  EXPECT_TRUE(WaitUntil([&] { return robot_->operational(); }, 3s));

  ASSERT_TRUE(SyncedSet(*sim_, serial, *robot_, {{"estop", true}}));
  ops = RequestTotal(*sim_, serial);
  EXPECT_TRUE(Throws<std::logic_error>([&] { robot_->Enable(); },
                                       "[quiral::vek::Robot::Enable] E-stop is not released"));
  EXPECT_EQ(RequestTotal(*sim_, serial), ops);

  ASSERT_TRUE(SyncedSet(*sim_, serial, *robot_, {{"estop", false}}));
  sim_->Fault(serial, {{"procedure_id", 1}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { robot_->Enable(); }, "[quiral::vek::Robot::Enable] Failed to deliver the request"));
}

TEST_F(RobotModesTest, ClearFaultPollsEverySecond) {
  const std::string& serial = *serial_;
  sim_->Set(serial, {{"clear_fault_delay_ms", 1500}});
  ASSERT_TRUE(SyncedSet(*sim_, serial, *robot_, {{"fault", "minor"}}));
  ASSERT_TRUE(robot_->fault());
  size_t ops = RequestTotal(*sim_, serial);
  auto start = steady_clock::now();
  EXPECT_TRUE(robot_->ClearFault(3));
  // Gone after 1.5 s, seen at the second poll.
  const auto took = steady_clock::now() - start;
  EXPECT_GE(took, 2s);
  EXPECT_LT(took, 2900ms);
  const auto clear = RequestsOf(*sim_, serial, 2, ops);
  ASSERT_EQ(clear.size(), 1u);
  EXPECT_TRUE(clear[0]["int_args"].empty());

  // Zero polls: the request, then false at once.
  ops = RequestTotal(*sim_, serial);
  start = steady_clock::now();
  EXPECT_FALSE(robot_->ClearFault(0));
  EXPECT_LT(steady_clock::now() - start, 500ms);
  EXPECT_EQ(RequestsOf(*sim_, serial, 2, ops).size(), 1u);

  // A fault that stays: false after every poll.
  sim_->Set(serial, {{"clear_fault_delay_ms", 100}, {"fault_clearable", false}});
  ASSERT_TRUE(SyncedSet(*sim_, serial, *robot_, {{"fault", "critical"}}));
  start = steady_clock::now();
  EXPECT_FALSE(robot_->ClearFault(2));
  EXPECT_GE(steady_clock::now() - start, 2s);

  sim_->Fault(serial, {{"procedure_id", 2}, {"kind", "fail"}});
  EXPECT_TRUE(
      Throws<std::runtime_error>([&] { robot_->ClearFault(1); },
                                 "[quiral::vek::Robot::ClearFault] Failed to deliver the request"));
  sim_->Set(serial, {{"clear_fault_delay_ms", 300}});
}

// Without data from the robot, a fault cannot be seen gone.
TEST(RobotFaultWithoutDataTest, ClearFaultNeedsFreshData) {
  const std::string serial = UniqueSerial("Varno4");
  SimProcess sim({serial}, {"--initial-state", "ready", "--clear-fault-delay-ms", "50"});
  // The real-time states arrive (the robot connects); the data stream not.
  sim.Command("stop_states", {{"serial", serial}, {"topics", {"basic_stream"}}});
  auto robot = MakeRobot(serial);
  ASSERT_TRUE(robot->connected());
  EXPECT_FALSE(robot->ClearFault(1));

  // Data that stopped arriving with the link may predate the fault.
  sim.Command("start_states", {{"serial", serial}});
  ASSERT_TRUE(WaitUntil([&] { return !robot->states().link_position.empty(); }, 3s));
  sim.Set(serial, {{"fault", "minor"}});
  ASSERT_TRUE(WaitUntil([&] { return robot->fault(); }, 3s));
  sim.Command("stop_states", {{"serial", serial}});
  ASSERT_TRUE(WaitUntil([&] { return !robot->connected(); }, 3s));
  EXPECT_TRUE(Throws<std::logic_error>([&] { robot->Enable(); },
                                       "[quiral::vek::Robot::Enable] Robot is not connected"));
  EXPECT_FALSE(robot->ClearFault(1));
  EXPECT_TRUE(sim.State(serial)["fault"].is_null());  // cleared, but not seen
}

TEST(RobotRecoveryTest, BringsJointsBackInsideTheirLimits) {
  const std::string serial = UniqueSerial("Varno4");
  const std::string mismatched = UniqueSerial("Varno4");
  SimProcess sim({serial, mismatched}, {"--initial-state", "recovery"});
  auto robot = MakeRobot(serial);
  ASSERT_TRUE(sim.WaitMatched(serial, 5s, {"motion_commands"}));
  ASSERT_TRUE(WaitUntil([&] { return robot->recovery(); }, 2s));
  detail::RobotAccess::impl(*robot)->verbose = true;
  LogCapture log(spdlog::level::debug);

  const RobotInfo info = robot->info();
  const std::vector<double> start = robot->states().link_position;
  ASSERT_EQ(start.size(), 7u);
  ASSERT_GT(start[2], info.q_max[2]);
  size_t ops = RequestTotal(sim, serial);
  robot->RunAutoRecovery();
  EXPECT_TRUE(robot->stopped());
  EXPECT_EQ(IntArgs(sim, serial, 7, ops), (std::vector<std::vector<int>>{{12}}));
  EXPECT_EQ(RequestTotal(sim, serial), ops + 1);
  const json items = sim.MotionCommands(serial)["items"];
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0]["sequence_num"], 1);
  const json& joint = items[0]["joint"];
  std::vector<float> expected;
  for (size_t i = 0; i < 7; ++i) expected.push_back(static_cast<float>(start[i]));
  expected[2] = static_cast<float>(info.q_max[2] - 0.18);
  EXPECT_EQ(joint["position"].get<std::vector<float>>(), expected);
  EXPECT_EQ(joint["velocity"].get<std::vector<float>>(), std::vector<float>(7, 0.0f));
  EXPECT_EQ(joint["acceleration"].get<std::vector<float>>(), std::vector<float>(7, 0.0f));
  EXPECT_EQ(joint["max_vel"].get<std::vector<float>>(), std::vector<float>(7, 0.18f));
  EXPECT_EQ(joint["max_acc"].get<std::vector<float>>(), std::vector<float>(7, 0.5f));
  EXPECT_TRUE(joint["torque"].empty());
  const double q2 = sim.State(serial)["joints"]["position"][2].get<double>();
  EXPECT_NEAR(q2, info.q_max[2] - 0.18, 1e-3);
  EXPECT_EQ(log.Count(spdlog::level::info,
                      "[quiral::vek::Robot::RunAutoRecovery] Automatic recovery in progress ..."),
            1);
  EXPECT_EQ(log.Count(spdlog::level::info,
                      "[quiral::vek::Robot::RunAutoRecovery] Automatic recovery complete, please "
                      "reboot the robot"),
            1);

  // Outside the recovery state: only a debug line.
  sim.Set(serial, {{"recovery", false}});
  ASSERT_TRUE(WaitUntil([&] { return !robot->recovery(); }, 2s));
  ops = RequestTotal(sim, serial);
  EXPECT_NO_THROW(robot->RunAutoRecovery());
  EXPECT_EQ(RequestTotal(sim, serial), ops);
  EXPECT_EQ(
      log.Count(spdlog::level::debug,
                "[quiral::vek::Robot::RunAutoRecovery] Robot system is not in recovery state, "
                "nothing to be done"),
      1);

  // A refused recovery mode.
  sim.Set(serial, {{"recovery", true}});
  ASSERT_TRUE(WaitUntil([&] { return robot->recovery(); }, 2s));
  sim.Fault(serial, {{"procedure_id", 7}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { robot->RunAutoRecovery(); },
      "[quiral::vek::Robot::RunAutoRecovery] Failed to enter automatic recovery mode"));

  // A robot that reports more joints than its samples carry: a clear
  // error, and nothing is sent.
  std::vector<float> floats;
  for (const double v : {2.0, -2.0, 2.5, 100.0})
    floats.insert(floats.end(), 8, static_cast<float>(v));
  sim.Set(mismatched, {{"robot_info", {{"DoF_m", 8}, {"DoF", 8}, {"floats", floats}}}});
  auto eight = MakeRobot(mismatched);
  ASSERT_EQ(eight->info().DoF, 8u);
  ASSERT_TRUE(WaitUntil([&] { return eight->recovery(); }, 2s));
  ops = RequestTotal(sim, mismatched);
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { eight->RunAutoRecovery(); },
      "[quiral::vek::Robot::RunAutoRecovery] Received 7 joint positions from the robot, "
      "expected 8"));
  EXPECT_EQ(RequestTotal(sim, mismatched), ops);
  EXPECT_EQ(sim.State(mismatched)["motion_commands"], 0);
}

// The wait for the end of a recovery has no time limit, but it does not
// outlive the link.
TEST(RobotRecoveryTest, ALostLinkEndsTheWait) {
  const std::string serial = UniqueSerial("Varno4");
  SimProcess sim({serial}, {"--initial-state", "recovery"});
  auto robot = MakeRobot(serial);
  ASSERT_TRUE(sim.WaitMatched(serial, 5s, {"motion_commands"}));
  // The arm never comes to rest.
  sim.Set(serial, {{"velocity_override", std::vector<double>(7, 0.3)}});
  ASSERT_TRUE(WaitUntil([&] { return robot->recovery() && !robot->stopped(); }, 2s));
  auto recovery = std::async(std::launch::async, [&] { robot->RunAutoRecovery(); });
  ASSERT_TRUE(WaitUntil([&] { return MotionTotal(sim, serial) == 1; }, 3s));
  EXPECT_EQ(recovery.wait_for(700ms), std::future_status::timeout);  // still waiting
  sim.Command("stop_states", {{"serial", serial}});
  const bool ended = recovery.wait_for(5s) == std::future_status::ready;
  if (!ended) {
    // Let the call end before the test does.
    sim.Set(serial, {{"velocity_override", nullptr}});
    sim.Command("start_states", {{"serial", serial}});
  }
  ASSERT_TRUE(ended);
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { recovery.get(); },
      "[quiral::vek::Robot::RunAutoRecovery] Lost connection to the robot during automatic "
      "recovery"));
}

TEST(RobotBrakeAndAxesTest, BrakesExternalAxesAndPositioner) {
  const std::string medical = UniqueSerial("Varno4M");
  const std::string plain = UniqueSerial("Varno4");
  SimProcess sim({medical, plain}, {"--initial-state", "ready"});
  auto robot = MakeRobot(medical);
  auto other = MakeRobot(plain);

  ASSERT_TRUE(WaitUntil([&] { return other->states().link_position.size() == 7; }, 2s));
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] { other->Brake(true); },
      "[quiral::vek::Robot::Brake] This function is only available to medical robots"));
  EXPECT_TRUE(RequestsOf(sim, plain, 9).empty());

  ASSERT_TRUE(WaitUntil([&] { return robot->states().link_position.size() == 7; }, 2s));
  robot->Brake(true);
  EXPECT_EQ(sim.State(medical)["brakes_engaged"], true);
  robot->Brake(false);
  EXPECT_EQ(sim.State(medical)["brakes_engaged"], false);
  EXPECT_EQ(IntArgs(sim, medical, 9, 0), (std::vector<std::vector<int>>{{1}, {0}}));

  ASSERT_TRUE(
      SyncedSet(sim, medical, *robot, {{"velocity_override", std::vector<double>(7, 0.1)}}));
  EXPECT_TRUE(Throws<std::logic_error>([&] { robot->Brake(true); },
                                       "[quiral::vek::Robot::Brake] Robot is not fully stopped"));
  EXPECT_EQ(RequestsOf(sim, medical, 9).size(), 2u);
  ASSERT_TRUE(SyncedSet(sim, medical, *robot, {{"velocity_override", nullptr}}));
  sim.Fault(medical, {{"procedure_id", 9}, {"kind", "fail"}, {"count", 2}});
  EXPECT_TRUE(
      Throws<std::runtime_error>([&] { robot->Brake(true); },
                                 "[quiral::vek::Robot::Brake] Failed to engage the robot brakes"));
  EXPECT_TRUE(
      Throws<std::runtime_error>([&] { robot->Brake(false); },
                                 "[quiral::vek::Robot::Brake] Failed to release the robot brakes"));

  // External axes are locked only in IDLE.
  sim.Set(plain, {{"mode", 3}});
  ASSERT_TRUE(WaitUntil([&] { return other->mode() == Mode::RT_JOINT_IMPEDANCE; }, 2s));
  EXPECT_TRUE(
      Throws<std::logic_error>([&] { other->LockExternalAxes(true); },
                               "[quiral::vek::Robot::LockExternalAxes] Robot is not in IDLE mode"));
  EXPECT_TRUE(RequestsOf(sim, plain, 13).empty());
  sim.Set(plain, {{"mode", 1}});
  ASSERT_TRUE(WaitUntil([&] { return other->mode() == Mode::IDLE; }, 2s));
  other->LockExternalAxes(true);
  EXPECT_EQ(sim.State(plain)["external_axes_locked"], true);
  other->LockExternalAxes(false);
  EXPECT_EQ(IntArgs(sim, plain, 13, 0), (std::vector<std::vector<int>>{{1}, {0}}));
  sim.Fault(plain, {{"procedure_id", 13}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { other->LockExternalAxes(true); },
      "[quiral::vek::Robot::LockExternalAxes] Failed to deliver the request"));

  other->SyncWithPositioner(true);
  EXPECT_EQ(sim.State(plain)["synced_with_positioner"], true);
  other->SyncWithPositioner(false);
  EXPECT_EQ(IntArgs(sim, plain, 14, 0), (std::vector<std::vector<int>>{{1}, {0}}));
  sim.Fault(plain, {{"procedure_id", 14}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { other->SyncWithPositioner(true); },
      "[quiral::vek::Robot::SyncWithPositioner] Failed to deliver the request"));
}

}  // namespace
}  // namespace quiral::vek
