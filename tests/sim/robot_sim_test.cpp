// The simulated robot without DDS: state rules, service replies, motion,
// fault rules and the helpers they rest on.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"
#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"
#include "msgs/vek_msgs/motion_commands.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "sim/base64.h"
#include "sim/crc32.h"
#include "sim/faults.h"
#include "sim/kinematics.h"
#include "sim/robot_sim.h"

namespace quiral::sim {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

class RobotSimTest : public ::testing::Test {
 protected:
  RobotSimTest() : robot_(Config()) { robot_.Step(now_, rt_, basic_, extra_); }

  static RobotConfig Config() {
    RobotConfig c;
    c.serial = "Varno4-SIM001";
    c.enable_delay_ms = 0;
    c.clear_fault_delay_ms = 0;
    return c;
  }

  vek_msgs::msg::RPCReply Ops(uint16_t id, std::vector<int32_t> ints = {},
                              std::vector<float> floats = {}, std::vector<std::string> strings = {},
                              const std::string& text = "") {
    vek_msgs::msg::RPCRequest r;
    r.procedure_id(id);
    r.int_args(ints);
    r.float_args(floats);
    r.string_args(strings);
    r.long_string_arg(text);
    vek_msgs::msg::RPCReply reply;
    robot_.HandleOps(r, reply);
    EXPECT_EQ(reply.procedure_id(), id);
    return reply;
  }

  quiral_lumo_msgs::msg::RPCReply Data(uint16_t id) {
    quiral_lumo_msgs::msg::RPCRequest r;
    r.request_id(id);
    quiral_lumo_msgs::msg::RPCReply reply;
    robot_.HandleData(r, reply);
    return reply;
  }

  // Advances the simulation by `total` in steps of 4 ms.
  void Run(std::chrono::milliseconds total) {
    const auto steps = total / 4ms;
    for (int64_t i = 0; i <= steps; ++i) {
      now_ += 4ms;
      robot_.Step(now_, rt_, basic_, extra_);
    }
  }

  Clock::time_point now_ = Clock::now();
  RobotSim robot_;
  vek_msgs::msg::RealtimeStates rt_;
  quiral_lumo_msgs::msg::AllBasicStreamData basic_;
  quiral_lumo_msgs::msg::AllExtraStreamData extra_;
};

TEST(SimHelpersTest, Crc32Base64AndForwardKinematics) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
  EXPECT_EQ(Crc32(nullptr, 0), 0u);

  const std::vector<uint8_t> bytes{0, 1, 2, 250, 255, 10};
  for (size_t n = 0; n <= bytes.size(); ++n) {
    const std::string text = Base64Encode(bytes.data(), n);
    EXPECT_EQ(Base64Decode(text), std::vector<uint8_t>(bytes.begin(), bytes.begin() + n));
  }
  EXPECT_EQ(Base64Encode(reinterpret_cast<const uint8_t*>("Man"), 3), "TWFu");
  EXPECT_THROW(Base64Decode("TWF"), std::invalid_argument);
  EXPECT_THROW(Base64Decode("T!Fu"), std::invalid_argument);

  ArmKinematics kin(7);
  const Eigen::Isometry3d up = kin.Flange(std::vector<double>(7, 0.0));
  EXPECT_NEAR(up.translation().z(), 0.155 + 2 * 0.210 + 2 * 0.195 + 2 * 0.110 + 0.08, 1e-12);
  EXPECT_NEAR(up.translation().head<2>().norm(), 0.0, 1e-12);
  // Joint 2 (about y) at 90 degrees tips everything above it over.
  std::vector<double> q(7, 0.0);
  q[1] = M_PI / 2;
  EXPECT_NEAR(kin.Flange(q).translation().z(), 0.155 + 0.210, 1e-9);

  const std::vector<double> seed{0.1, -0.6, 0.1, 1.4, 0.1, 0.8, 0.1};
  const std::vector<double> goal{0.3, -0.5, 0.2, 1.2, -0.1, 0.6, 0.2};
  std::vector<double> solved = seed;
  const std::vector<double> lo(7, -3.0), hi(7, 3.0);
  ASSERT_TRUE(kin.SolveIk(kin.Flange(goal), Eigen::Isometry3d::Identity(), lo, hi, false, 300, solved));
  EXPECT_TRUE(kin.Flange(solved).isApprox(kin.Flange(goal), 1e-3));

  const std::string urdf = kin.Urdf("Varno4-SIM001", lo, hi, std::vector<double>(7, 50.0),
                                    std::vector<double>(7, 2.0));
  EXPECT_NE(urdf.find("<link name=\"flange\"/>"), std::string::npos);
  EXPECT_NE(urdf.find("package://meshes/link7.stl"), std::string::npos);
  EXPECT_EQ(kin.LinkMeshStl(0).size(), 84u + 12u * 50u);
}

TEST_F(RobotSimTest, EnableReleasesTheBrakesThenBecomesReady) {
  EXPECT_FALSE(Ops(7, {5}).success()) << "not operational yet";
  robot_.Set({{"estop", true}});
  EXPECT_FALSE(Ops(1).success()) << "e-stop engaged";
  robot_.Set({{"estop", false}});
  EXPECT_EQ(robot_.StateJson()["safety_board_state"], 72);

  ASSERT_TRUE(Ops(1).success());
  EXPECT_EQ(robot_.StateJson()["safety_board_state"], 24);
  Run(8ms);
  const json s = robot_.StateJson();
  EXPECT_EQ(s["safety_board_state"], 12);
  EXPECT_EQ(s["system_state"], 4);
  EXPECT_TRUE(s["operational"]);
  EXPECT_EQ(basic_.system_status().safety_state(), 12);

  ASSERT_TRUE(Ops(7, {5}).success());
  Run(4ms);
  EXPECT_EQ(rt_.system_status().ctrl_mode(), 5);
  EXPECT_FALSE(Ops(7, {12}).success()) << "automatic recovery only in the recovery state";
  EXPECT_FALSE(Ops(7, {13}).success());
  EXPECT_FALSE(Ops(7, {}).success());
}

TEST_F(RobotSimTest, FaultsAreClearedAndIdleStopsTheArm) {
  robot_.Set({{"safety_board_state", 12}, {"fault", "minor"}});
  EXPECT_EQ(robot_.StateJson()["system_state"], 15);
  EXPECT_FALSE(Ops(1).success());
  ASSERT_TRUE(Ops(2).success());
  Run(8ms);
  EXPECT_EQ(robot_.StateJson()["system_state"], 4);
  EXPECT_TRUE(robot_.StateJson()["operational"]);

  // Stream a far target, then switch to IDLE: the velocities fall to zero.
  ASSERT_TRUE(Ops(7, {5}).success());
  vek_msgs::msg::MotionCommands cmd;
  cmd.sequence_num(1);
  cmd.joint_commands().position({1.0f, -0.7f, 0.0f, 1.57f, 0.0f, 0.7f, 0.0f});
  ASSERT_TRUE(robot_.ApplyMotionCommand(cmd));
  Run(200ms);
  EXPECT_GT(std::abs(basic_.joint().motor_velocity()[0]), 0.5f);
  ASSERT_TRUE(Ops(7, {1}).success());
  Run(400ms);
  for (float v : basic_.joint().motor_velocity()) EXPECT_LE(std::abs(v), 0.017f);
  EXPECT_FALSE(robot_.ApplyMotionCommand(cmd)) << "ignored in IDLE";

  robot_.Set({{"fault", "critical"}, {"fault_clearable", false}});
  EXPECT_EQ(robot_.StateJson()["safety_board_state"], 40);
  ASSERT_TRUE(Ops(2).success());
  Run(8ms);
  EXPECT_EQ(robot_.StateJson()["system_state"], 15) << "this fault does not clear";
}

TEST_F(RobotSimTest, PlansAndPrimitivesRunForAWhile) {
  robot_.Set({{"safety_board_state", 12}, {"system_state", 4},
               {"plans", {{{"name", "P1"}, {"duration_ms", 100}}}}});
  EXPECT_FALSE(Ops(22, {0}, {}, {}, "P1").success()) << "needs plan mode";
  ASSERT_TRUE(Ops(7, {7}).success());
  EXPECT_FALSE(Ops(22, {0}, {}, {}, "Nope").success());
  ASSERT_TRUE(Ops(22, {0}, {}, {}, "P1").success());
  Run(8ms);
  EXPECT_TRUE(rt_.system_status().program_running());
  EXPECT_EQ(basic_.system_status().system_state(), 5);
  auto info = Data(3);
  ASSERT_EQ(info.string_container().size(), 8u);
  EXPECT_EQ(info.string_container()[0], "P1");
  Run(150ms);
  EXPECT_FALSE(rt_.system_status().program_running());
  EXPECT_EQ(basic_.system_status().system_state(), 4);
  EXPECT_EQ(Data(3).string_container().size(), 8u);
  EXPECT_EQ(Ops(23).string_container(), std::vector<std::string>{"P1"});

  ASSERT_TRUE(Ops(7, {8}).success());
  EXPECT_TRUE(Data(2).string_container().empty());
  ASSERT_TRUE(Ops(21, {}, {}, {}, "Home(a = 1)").success());
  EXPECT_FALSE(Ops(21, {}, {}, {}, "Home").success()) << "not a call text";
  Run(8ms);
  EXPECT_TRUE(rt_.system_status().program_running());
  const auto states = Data(2).string_container();
  ASSERT_FALSE(states.empty());
  EXPECT_EQ(states[0], "reachedTarget = 0");
}

TEST_F(RobotSimTest, PlansHaltAtBreakpointsUntilStepped) {
  robot_.Set({{"safety_board_state", 12}, {"system_state", 4},
               {"plans", {{{"name", "P2"}, {"duration_ms", 1200}}}}});
  ASSERT_TRUE(Ops(7, {7}).success());
  ASSERT_TRUE(Ops(27, {1}).success());
  ASSERT_TRUE(Ops(22, {1}, {}, {}, "P2").success());
  Run(700ms);
  // Halted at the start of node 2, plan time 0.5 s.
  json program = robot_.StateJson()["program"];
  EXPECT_TRUE(program["at_breakpoint"].get<bool>());
  EXPECT_TRUE(program["continue_exec"].get<bool>());
  EXPECT_DOUBLE_EQ(program["elapsed_s"].get<double>(), 0.5);
  auto info = Data(3).string_container();
  ASSERT_EQ(info.size(), 8u);
  EXPECT_EQ(info[4], "2");
  EXPECT_EQ(info[7], "1");
  EXPECT_TRUE(rt_.system_status().program_running());

  ASSERT_TRUE(Ops(28).success());
  Run(100ms);
  program = robot_.StateJson()["program"];
  EXPECT_FALSE(program["at_breakpoint"].get<bool>());
  EXPECT_EQ(program["breakpoint_steps"], 1);
  Run(600ms);
  EXPECT_TRUE(robot_.StateJson()["program"]["at_breakpoint"].get<bool>());
  EXPECT_DOUBLE_EQ(robot_.StateJson()["program"]["elapsed_s"].get<double>(), 1.0);
  // Leaving breakpoint mode lets the plan run to its end.
  ASSERT_TRUE(Ops(27, {0}).success());
  Run(400ms);
  program = robot_.StateJson()["program"];
  EXPECT_TRUE(program["finished"].get<bool>());
  EXPECT_EQ(program["breakpoint_steps"], 1);
  EXPECT_EQ(Data(3).string_container()[7], "0");
}

TEST_F(RobotSimTest, FilesGlobalVariablesDevicesAndSettings) {
  // A stored file comes back with its CRC-32; an upload must carry the right one.
  const std::string text = "line 1\nline 2\n";
  vek_msgs::msg::RPCRequest up;
  up.procedure_id(61);
  up.long_string_arg("a.traj");
  up.raw_bytes_arg(std::vector<uint8_t>(text.begin(), text.end()));
  up.int_args({static_cast<int32_t>(Crc32(up.raw_bytes_arg().data(), text.size()) ^ 1u)});
  vek_msgs::msg::RPCReply reply;
  robot_.HandleOps(up, reply);
  EXPECT_FALSE(reply.success()) << "CRC mismatch";
  up.int_args({static_cast<int32_t>(Crc32(up.raw_bytes_arg().data(), text.size()))});
  robot_.HandleOps(up, reply);
  EXPECT_TRUE(reply.success());
  const auto down = Ops(62, {}, {}, {}, "a.traj");
  ASSERT_TRUE(down.success());
  EXPECT_EQ(down.string_container(), std::vector<std::string>{"a.traj"});
  EXPECT_EQ(std::string(down.raw_bytes_container().begin(), down.raw_bytes_container().end()), text);
  EXPECT_EQ(static_cast<uint32_t>(down.int_container()[0]),
            Crc32(down.raw_bytes_container().data(), down.raw_bytes_container().size()));
  EXPECT_FALSE(Ops(62, {}, {}, {}, "A.traj").success());
  EXPECT_TRUE(Ops(5, {}, {}, {}, "Varno4-SIM001.urdf").success());
  EXPECT_TRUE(Ops(66, {}, {}, {}, "meshes/link3.stl").success());
  EXPECT_EQ(Ops(63).string_container(), std::vector<std::string>{"SimProject"});

  // Global variables: "name = value" texts, assignments to known names only.
  ASSERT_TRUE(Ops(12, {}, {}, {}, "counter = 3, label = a, b").success());
  const auto vars = Ops(11).string_container();
  EXPECT_NE(std::find(vars.begin(), vars.end(), "counter = 3"), vars.end());
  EXPECT_NE(std::find(vars.begin(), vars.end(), "label = a, b"), vars.end());
  EXPECT_FALSE(Ops(12, {}, {}, {}, "nosuch = 1").success());

  // Devices: names, typed parameter values, status.
  EXPECT_EQ(Ops(40).string_container(), (std::vector<std::string>{"SimGripper", "SimCamera"}));
  EXPECT_EQ(Ops(43, {}, {}, {"SimGripper"}).string_container().size(), 7u);
  EXPECT_EQ(Ops(44, {}, {}, {"SimGripper", "maxWidth"}).float_container(), std::vector<float>{0.1f});
  EXPECT_EQ(Ops(44, {}, {}, {"SimCamera", "resolution"}).int_container(),
            (std::vector<int32_t>{640, 480}));
  EXPECT_EQ(Ops(44, {}, {}, {"SimGripper", "model"}).string_container().size(), 1u);
  ASSERT_TRUE(Ops(41, {1}, {}, {}, "SimGripper").success());
  EXPECT_EQ(Ops(45, {}, {}, {"SimGripper"}).int_container(), (std::vector<int32_t>{1, 1}));
  ASSERT_TRUE(Ops(42, {0, 0}, {0.02f, 0.05f}, {"targetWidth<double>", "targetVel<double>"},
                  "SimGripper").success());
  EXPECT_FALSE(Ops(42, {0}, {}, {"targetWidth<double>"}, "SimGripper").success()) << "uneven lists";
  Run(800ms);
  EXPECT_NEAR(rt_.gripper_states().width(), 0.02f, 1e-6);

  // Settings are checked for their sizes; unknown procedures are refused.
  EXPECT_TRUE(Ops(71, {}, std::vector<float>(14, 0.5f)).success());
  EXPECT_FALSE(Ops(71, {}, std::vector<float>(13, 0.5f)).success());
  EXPECT_TRUE(Ops(81, {}, {0, 0, 0, 1, 0, 0, 0}, {"TCP"}).success());
  EXPECT_TRUE(Ops(8, std::vector<int32_t>(18, -1)).success());
  EXPECT_TRUE(Ops(80, {1, 0, 1, 0, 0, 1}, {0.1f, 0.2f, 0.3f}).success());
  const json args = robot_.StateJson()["setting_args"];
  EXPECT_EQ(args["81"]["string_args"], json::array({"TCP"}));
  EXPECT_EQ(args["81"]["float_args"].size(), 7u);
  EXPECT_EQ(args["80"]["int_args"], json::array({1, 0, 1, 0, 0, 1}));
  EXPECT_EQ(args["8"]["int_args"].size(), 18u);
  EXPECT_EQ(args["71"]["float_args"].size(), 14u) << "the accepted request, not the refused one";
  EXPECT_FALSE(Ops(99).success());
  EXPECT_EQ(Ops(53, {}, {}, {"Table"}).float_container().size(), 7u);
  EXPECT_EQ(Data(8).float_container().size(), 8u);
  EXPECT_FALSE(Data(4).success());

  const auto reach = Ops(10, {0}, {0.3f, 0.1f, 0.6f, 0, 1, 0, 0, 0, -0.7f, 0, 1.57f, 0, 0.7f, 0});
  ASSERT_TRUE(reach.success());
  EXPECT_EQ(reach.int_container().size(), 1u);
  EXPECT_EQ(reach.float_container().size(), 7u);
}

TEST_F(RobotSimTest, CartesianTargetsAndAutomaticRecoveryMoveTheJoints) {
  robot_.Set({{"safety_board_state", 12}, {"system_state", 4}});
  ASSERT_TRUE(Ops(7, {9}).success());
  Run(8ms);
  std::array<float, 7> goal = basic_.cartesian().tcp_pose();
  goal[0] += 0.05f;
  goal[2] -= 0.03f;
  vek_msgs::msg::MotionCommands cmd;
  cmd.cartesian_commands().pose(goal);
  ASSERT_TRUE(robot_.ApplyMotionCommand(cmd));
  Run(1000ms);
  for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(basic_.cartesian().tcp_pose()[i], goal[i], 2e-3) << i;
  for (size_t i = 3; i < 7; ++i) EXPECT_NEAR(basic_.cartesian().tcp_pose()[i], goal[i], 2e-3) << i;
  EXPECT_EQ(extra_.joint().position_des().size(), 7u);

  // A joint beyond its limit in the recovery state is brought back slowly.
  robot_.Set({{"recovery", true}});
  std::vector<double> q = robot_.StateJson()["joints"]["position"].get<std::vector<double>>();
  const double q_max = robot_.StateJson()["joints"]["q_max"][2].get<double>();
  q[2] = q_max + 0.05;
  robot_.Set({{"joints", q}});
  EXPECT_FALSE(Ops(7, {5}).success());
  ASSERT_TRUE(Ops(7, {12}).success());
  vek_msgs::msg::MotionCommands back;
  std::vector<float> target(q.begin(), q.end());
  target[2] = static_cast<float>(q_max - 0.18);
  back.joint_commands().position(target);
  back.joint_commands().max_vel(std::vector<float>(7, 0.18f));
  back.joint_commands().max_acc(std::vector<float>(7, 0.5f));
  ASSERT_TRUE(robot_.ApplyMotionCommand(back));
  Run(300ms);
  EXPECT_LE(std::abs(basic_.joint().motor_velocity()[2]), 0.18f + 1e-4f);
  Run(2500ms);
  EXPECT_NEAR(basic_.joint().link_position()[2], q_max - 0.18, 1e-3);
  for (float v : basic_.joint().motor_velocity()) EXPECT_LE(std::abs(v), 0.017f);
  EXPECT_EQ(robot_.StateJson()["safety_board_state"], 9) << "recovery ends with a reboot";
}

TEST_F(RobotSimTest, SetRejectsUnknownFieldsAndBadValues) {
  EXPECT_THROW(robot_.Set({{"nonsense", 1}}), std::invalid_argument);
  EXPECT_THROW(robot_.Set({{"joints", {1, 2}}}), std::invalid_argument);
  EXPECT_THROW(robot_.Set({{"fault", "bad"}}), std::invalid_argument);
  EXPECT_ANY_THROW(robot_.Set({{"mode", "five"}}));
  robot_.Set({{"robot_info", {{"q_min", std::vector<float>(7, 0.0f)}}}});
  const auto info = Ops(6);
  ASSERT_EQ(info.float_container().size(), 28u);
  EXPECT_EQ(info.float_container()[7], 0.0f);
  EXPECT_GT(info.float_container()[0], 0.0f);
}

TEST(FaultTableTest, RulesMatchByServiceAndIdAndAreUsedUp) {
  FaultTable table;
  EXPECT_THROW(table.Add({{"kind", "late_reply"}}), std::invalid_argument);
  EXPECT_THROW(table.Add({{"kind", "nope"}}), std::invalid_argument);
  EXPECT_THROW(table.Add({{"kind", "fail"}, {"service", "x"}}), std::invalid_argument);
  table.Add({{"service", "ops"}, {"procedure_id", 6}, {"kind", "short_lists"}, {"count", 2}});
  table.Add({{"service", "data"}, {"kind", "fail"}, {"count", -1}});
  EXPECT_FALSE(table.Take(Service::kOps, 7));
  EXPECT_TRUE(table.Take(Service::kOps, 6));
  EXPECT_TRUE(table.Take(Service::kOps, 6));
  EXPECT_FALSE(table.Take(Service::kOps, 6));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(table.Take(Service::kData, 1));
  table.Clear(Service::kData);
  EXPECT_FALSE(table.Take(Service::kData, 1));

  FaultRule rule;
  rule.kind = FaultKind::kShortLists;
  vek_msgs::msg::RPCReply reply;
  reply.float_container(std::vector<float>(28, 1.0f));
  reply.int_container({0, 7, 7, 1});
  ApplyFault(rule, reply);
  EXPECT_EQ(reply.float_container().size(), 27u);
  EXPECT_EQ(reply.int_container().size(), 3u);
  rule.kind = FaultKind::kCustomReply;
  rule.reply = {{"string_container", {"x.urdf"}}, {"int_container", {5}}, {"raw_bytes_base64", "TWFu"}};
  ApplyFault(rule, reply);
  EXPECT_EQ(reply.string_container(), std::vector<std::string>{"x.urdf"});
  EXPECT_EQ(reply.raw_bytes_container().size(), 3u);
  rule.kind = FaultKind::kBadCrc;
  rule.reply_id.reset();
  ApplyFault(rule, reply);
  EXPECT_EQ(static_cast<uint32_t>(reply.int_container()[0]), ~5u);
}

}  // namespace
}  // namespace quiral::sim
