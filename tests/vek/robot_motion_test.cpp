// Motion commands of a Robot against the simulated controller: the order
// of the checks (operational gate, control mode, arguments) with nothing
// sent when one fails, the exact commands the controller receives, their
// sequence numbers after a mode switch, and the motion they cause.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/vek/robot_command_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// Finite as a double, infinite as a 32-bit float.
constexpr double kTooLargeForFloat = 1e39;

const std::vector<double> kHome = {0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0};
const std::array<double, 7> kPose = {0.3, -0.1, 0.6, 0.0, 1.0, 0.0, 0.0};
const std::array<double, 6> kZero6 = {};

std::string P(const std::string& operation) { return "[quiral::vek::Robot::" + operation + "]"; }

std::string SizeText(const std::string& operation, const std::string& argument) {
  return P(operation) + " Size of input vector [" + argument + "] does not match robot DoF";
}
std::string NonFinite(const std::string& operation, const std::string& argument) {
  return P(operation) + " Input parameter [" + argument + "] contains a non-finite value";
}
std::string FloatRange(const std::string& operation, const std::string& argument) {
  return P(operation) + " Input parameter [" + argument +
         "] contains a value outside the 32-bit float range";
}
const std::string kCartLimitsText =
    " Input parameters [max_linear_vel, max_angular_vel, max_linear_acc, max_angular_acc] must "
    "be greater than 0";

std::vector<double> With(std::vector<double> v, std::size_t i, double x) {
  v[i] = x;
  return v;
}
template <std::size_t N>
std::array<double, N> With(std::array<double, N> v, std::size_t i, double x) {
  v[i] = x;
  return v;
}

NrtCartesianCmd Waypoint(double z) {
  NrtCartesianCmd w;
  w.pose = {0.3, 0.0, z, 0.0, 1.0, 0.0, 0.0};
  w.wrench = {0, 0, 1.5, 0, 0, 0};
  w.velocity = {0.01, 0, 0, 0, 0, 0.2};
  w.max_linear_vel = 0.5;
  w.max_angular_vel = 1.0;
  w.max_linear_acc = 2.0;
  w.max_angular_acc = 3.0;
  return w;
}

class RobotMotionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    env_ = new SimRobot();
    ASSERT_TRUE(env_->sim.WaitMatched(env_->serial, 5s, {"motion_commands"}));
  }
  static void TearDownTestSuite() {
    delete env_;
    env_ = nullptr;
  }
  // Every case starts from a ready robot in IDLE, its counter at 0.
  void SetUp() override { env_->Fresh(); }

  // Expects `call` to throw E with `text`, leaving the counter unchanged.
  template <typename E>
  void Refused(const std::function<void()>& call, const std::string& text) {
    const uint64_t before = env_->Counter();
    EXPECT_TRUE(Throws<E>(call, text));
    EXPECT_EQ(env_->Counter(), before) << text;
  }

  // Sends one valid streamed joint-position command in RT_JOINT_POSITION
  // and expects it to be the only command since `since`, carrying
  // `expected_seq`: proof that nothing else reached the controller.
  void ExpectOnlyProbeSince(size_t since, uint64_t expected_seq) {
    env_->Ready(Mode::RT_JOINT_POSITION);
    env_->robot->StreamJointPosition(kHome, std::vector<double>(7, 0.0),
                                     std::vector<double>(7, 0.0));
    const std::vector<json> items = env_->NextMotion(since);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]["sequence_num"], expected_seq);
  }

  static SimRobot* env_;
};

SimRobot* RobotMotionTest::env_ = nullptr;

// One call per operation whose arguments are bad, in which modes it is
// accepted, and the argument error it then reports.
struct OperationCase {
  std::string name;
  std::vector<Mode> modes;
  std::function<void(Robot&)> call;
  std::string argument_error;
};

std::vector<OperationCase> BadArgumentCalls() {
  const std::vector<double> zeros(7, 0.0);
  return {
      {"StreamJointTorque",
       {Mode::RT_JOINT_TORQUE},
       [](Robot& r) { r.StreamJointTorque(std::vector<double>(6, 0.0), true, true, 0.0); },
       SizeText("StreamJointTorque", "torques")},
      {"StreamJointPosition",
       {Mode::RT_JOINT_IMPEDANCE, Mode::RT_JOINT_POSITION},
       [zeros](Robot& r) { r.StreamJointPosition(std::vector<double>(8, 0.0), zeros, zeros); },
       SizeText("StreamJointPosition", "positions")},
      {"SendJointPosition",
       {Mode::NRT_JOINT_IMPEDANCE, Mode::NRT_JOINT_POSITION},
       [zeros](Robot& r) { r.SendJointPosition(zeros, zeros, std::vector<double>(6, 1.0), zeros); },
       SizeText("SendJointPosition", "max_vel")},
      {"StreamCartesianMotionForce",
       {Mode::RT_CARTESIAN_MOTION_FORCE},
       [](Robot& r) { r.StreamCartesianMotionForce(With(kPose, 3, kNaN), kZero6, kZero6, kZero6); },
       NonFinite("StreamCartesianMotionForce", "pose")},
      {"SendCartesianMotionForce",
       {Mode::NRT_CARTESIAN_MOTION_FORCE, Mode::NRT_SUPER_PRIMITIVE},
       [](Robot& r) { r.SendCartesianMotionForce(kPose, kZero6, kZero6, 0.1, 0.1, 0.0, 0.1); },
       P("SendCartesianMotionForce") + kCartLimitsText},
      {"SendMultiCartesianMotionForce",
       {Mode::NRT_SUPER_PRIMITIVE},
       [](Robot& r) { r.SendMultiCartesianMotionForce({}, {}); },
       P("SendMultiCartesianMotionForce") + " Input parameter [cart_cmds] cannot be empty"},
  };
}

TEST_F(RobotMotionTest, GateThenModeThenArgumentsAndNothingIsSent) {
  const std::vector<OperationCase> cases = BadArgumentCalls();
  Robot& robot = *env_->robot;
  const size_t since = env_->MotionTotal();

  // Not operational: the gate speaks first, whatever the mode and arguments.
  struct Status {
    int board, system;
    std::string text;
  };
  for (const Status& s :
       {Status{72, 4, "Not enabled"}, Status{40, 15, "Critical fault occurred"},
        Status{12, 15, "Minor fault occurred"}, Status{12, 2, "In Manual mode"}}) {
    for (const OperationCase& c : cases) {
      env_->Put(s.board, s.system, c.modes[0]);
      Refused<std::runtime_error>([&] { c.call(robot); },
                                  P(c.name) + " Robot is not operational: " + s.text);
    }
  }
  env_->Put(72, 4, Mode::IDLE);
  for (const OperationCase& c : cases) {
    Refused<std::runtime_error>([&] { c.call(robot); },
                                P(c.name) + " Robot is not operational: Not enabled");
  }

  // Operational (ready, or reduced): the mode decides, then the arguments.
  for (int raw = 0; raw <= 12; ++raw) {
    const auto mode = static_cast<Mode>(raw);
    if (raw % 2 == 0) {
      env_->Put(10, 4, mode);  // reduced
    } else {
      env_->Ready(mode);
    }
    for (const OperationCase& c : cases) {
      SCOPED_TRACE(c.name + " in mode " + std::to_string(raw));
      const bool accepted = std::find(c.modes.begin(), c.modes.end(), mode) != c.modes.end();
      if (accepted) {
        Refused<std::invalid_argument>([&] { c.call(robot); }, c.argument_error);
      } else {
        Refused<std::logic_error>([&] { c.call(robot); },
                                  P(c.name) + " Robot is not in an applicable control mode");
      }
    }
  }

  // Nothing reached the controller: the next command it sees carries 1.
  EXPECT_EQ(env_->Counter(), 0u);
  EXPECT_EQ(env_->MotionTotal(), since);
  ExpectOnlyProbeSince(since, 1);
}

TEST_F(RobotMotionTest, JointCommandArgumentsInOrder) {
  Robot& robot = *env_->robot;
  const size_t since = env_->MotionTotal();
  const std::vector<double> zeros(7, 0.0);
  const std::vector<double> ones(7, 1.0);
  const std::vector<double> six(6, 0.0);

  env_->Ready(Mode::RT_JOINT_TORQUE);
  const std::string t = "StreamJointTorque";
  const std::string friction =
      P(t) + " Input parameter [friction_comp_scale] is outside the valid range";
  Refused<std::invalid_argument>([&] { robot.StreamJointTorque(six, true, true, 101); },
                                 SizeText(t, "torques"));
  for (const double bad : {100.5, -0.1, kNaN, kInf, -kInf}) {
    Refused<std::invalid_argument>([&] { robot.StreamJointTorque(zeros, true, true, bad); },
                                   friction);
  }
  // The range check comes before the finiteness of the torques.
  Refused<std::invalid_argument>(
      [&] { robot.StreamJointTorque(With(zeros, 3, kNaN), true, true, 101); }, friction);
  Refused<std::invalid_argument>(
      [&] { robot.StreamJointTorque(With(zeros, 3, kNaN), true, true, 0); },
      NonFinite(t, "torques"));
  Refused<std::invalid_argument>(
      [&] { robot.StreamJointTorque(With(zeros, 6, -kInf), true, true, 0); },
      NonFinite(t, "torques"));
  Refused<std::invalid_argument>(
      [&] { robot.StreamJointTorque(With(zeros, 0, kTooLargeForFloat), true, true, 0); },
      FloatRange(t, "torques"));
  EXPECT_NO_THROW(robot.StreamJointTorque(zeros, true, true, 0.0));
  EXPECT_NO_THROW(robot.StreamJointTorque(With(zeros, 0, FLT_MAX), true, true, 100.0));

  env_->Ready(Mode::RT_JOINT_IMPEDANCE);
  const std::string s = "StreamJointPosition";
  Refused<std::invalid_argument>([&] { robot.StreamJointPosition(six, six, six); },
                                 SizeText(s, "positions"));
  Refused<std::invalid_argument>([&] { robot.StreamJointPosition(zeros, six, six); },
                                 SizeText(s, "velocities"));
  Refused<std::invalid_argument>([&] { robot.StreamJointPosition(zeros, zeros, six); },
                                 SizeText(s, "accelerations"));
  Refused<std::invalid_argument>(
      [&] { robot.StreamJointPosition(With(zeros, 1, kInf), With(zeros, 1, kNaN), zeros); },
      NonFinite(s, "positions"));
  Refused<std::invalid_argument>(
      [&] { robot.StreamJointPosition(zeros, With(zeros, 1, kNaN), With(zeros, 1, kNaN)); },
      NonFinite(s, "velocities"));
  Refused<std::invalid_argument>(
      [&] { robot.StreamJointPosition(zeros, zeros, With(zeros, 5, -kTooLargeForFloat)); },
      FloatRange(s, "accelerations"));
  EXPECT_NO_THROW(robot.StreamJointPosition(kHome, zeros, zeros));

  env_->Ready(Mode::NRT_JOINT_IMPEDANCE);
  const std::string n = "SendJointPosition";
  const std::string limits =
      P(n) + " Input parameters [max_vel] and [max_acc] must be greater than 0";
  Refused<std::invalid_argument>([&] { robot.SendJointPosition(six, six, six, six); },
                                 SizeText(n, "positions"));
  Refused<std::invalid_argument>([&] { robot.SendJointPosition(zeros, six, six, six); },
                                 SizeText(n, "velocities"));
  Refused<std::invalid_argument>([&] { robot.SendJointPosition(zeros, zeros, six, six); },
                                 SizeText(n, "max_vel"));
  Refused<std::invalid_argument>([&] { robot.SendJointPosition(zeros, zeros, ones, six); },
                                 SizeText(n, "max_acc"));
  for (const double bad : {0.0, -1.0, std::nextafter(DBL_EPSILON, 0.0), kNaN}) {
    Refused<std::invalid_argument>(
        [&] { robot.SendJointPosition(zeros, zeros, ones, With(ones, 4, bad)); }, limits);
    Refused<std::invalid_argument>(
        [&] { robot.SendJointPosition(zeros, zeros, With(ones, 2, bad), ones); }, limits);
  }
  // The limits before the finiteness of positions and velocities.
  Refused<std::invalid_argument>(
      [&] { robot.SendJointPosition(With(zeros, 0, kNaN), zeros, ones, With(ones, 0, 0.0)); },
      limits);
  Refused<std::invalid_argument>(
      [&] { robot.SendJointPosition(With(zeros, 0, kNaN), zeros, ones, ones); },
      NonFinite(n, "positions"));
  Refused<std::invalid_argument>(
      [&] { robot.SendJointPosition(zeros, With(zeros, 0, -kInf), ones, ones); },
      NonFinite(n, "velocities"));
  Refused<std::invalid_argument>(
      [&] { robot.SendJointPosition(zeros, zeros, With(ones, 0, kInf), ones); },
      NonFinite(n, "max_vel"));
  Refused<std::invalid_argument>(
      [&] { robot.SendJointPosition(zeros, zeros, ones, With(ones, 0, kTooLargeForFloat)); },
      FloatRange(n, "max_acc"));
  EXPECT_NO_THROW(
      robot.SendJointPosition(kHome, zeros, With(ones, 0, 1e-15), With(ones, 6, DBL_EPSILON)));

  // Four commands went out, numbered 1 to 4 and nothing else.
  EXPECT_EQ(env_->Counter(), 4u);
  const std::vector<json> items = env_->NextMotion(since, 4);
  ASSERT_EQ(items.size(), 4u);
  for (uint64_t i = 0; i < 4; ++i) EXPECT_EQ(items[i]["sequence_num"], i + 1);
  EXPECT_EQ(items[1]["joint"]["torque"][0].get<float>(), FLT_MAX);
  EXPECT_EQ(items[3]["joint"]["max_vel"][0].get<float>(), static_cast<float>(1e-15));
  ExpectOnlyProbeSince(since + 4, 5);
}

TEST_F(RobotMotionTest, CartesianCommandArgumentsInOrder) {
  Robot& robot = *env_->robot;
  const size_t since = env_->MotionTotal();

  env_->Ready(Mode::RT_CARTESIAN_MOTION_FORCE);
  const std::string s = "StreamCartesianMotionForce";
  Refused<std::invalid_argument>(
      [&] {
        robot.StreamCartesianMotionForce(With(kPose, 0, kInf), With(kZero6, 0, kNaN), kZero6,
                                         kZero6);
      },
      NonFinite(s, "pose"));
  Refused<std::invalid_argument>(
      [&] { robot.StreamCartesianMotionForce(kPose, With(kZero6, 2, kNaN), kZero6, kZero6); },
      NonFinite(s, "wrench"));
  Refused<std::invalid_argument>(
      [&] { robot.StreamCartesianMotionForce(kPose, kZero6, With(kZero6, 5, -kInf), kZero6); },
      NonFinite(s, "velocity"));
  Refused<std::invalid_argument>(
      [&] {
        robot.StreamCartesianMotionForce(kPose, kZero6, kZero6, With(kZero6, 1, kTooLargeForFloat));
      },
      FloatRange(s, "acceleration"));
  EXPECT_NO_THROW(robot.StreamCartesianMotionForce(kPose, kZero6, kZero6, kZero6));

  env_->Ready(Mode::NRT_CARTESIAN_MOTION_FORCE);
  const std::string c = "SendCartesianMotionForce";
  for (int which = 0; which < 4; ++which) {
    for (const double bad : {0.0, -0.5, std::nextafter(DBL_EPSILON, 0.0), kNaN}) {
      std::array<double, 4> l = {1, 1, 1, 1};
      l[which] = bad;
      Refused<std::invalid_argument>(
          [&] {
            robot.SendCartesianMotionForce(With(kPose, 2, kNaN), kZero6, kZero6, l[0], l[1], l[2],
                                           l[3]);
          },
          P(c) + kCartLimitsText);
    }
  }
  Refused<std::invalid_argument>(
      [&] { robot.SendCartesianMotionForce(With(kPose, 2, kNaN), kZero6, kZero6, 1, 1, 1, 1); },
      NonFinite(c, "pose"));
  Refused<std::invalid_argument>(
      [&] { robot.SendCartesianMotionForce(kPose, With(kZero6, 0, kInf), kZero6, 1, 1, 1, 1); },
      NonFinite(c, "wrench"));
  Refused<std::invalid_argument>(
      [&] { robot.SendCartesianMotionForce(kPose, kZero6, With(kZero6, 3, kNaN), 1, 1, 1, 1); },
      NonFinite(c, "velocity"));
  Refused<std::invalid_argument>(
      [&] { robot.SendCartesianMotionForce(kPose, kZero6, kZero6, 1, kInf, 1, 1); },
      NonFinite(c, "max_angular_vel"));
  Refused<std::invalid_argument>(
      [&] { robot.SendCartesianMotionForce(kPose, kZero6, kZero6, 1, 1, 1, kTooLargeForFloat); },
      FloatRange(c, "max_angular_acc"));
  EXPECT_NO_THROW(robot.SendCartesianMotionForce(kPose, kZero6, kZero6, 1e-15, 1, DBL_EPSILON, 1));

  env_->Ready(Mode::NRT_SUPER_PRIMITIVE);
  const std::string m = "SendMultiCartesianMotionForce";
  const std::vector<NrtCartesianCmd> three = {Waypoint(0.5), Waypoint(0.55), Waypoint(0.6)};
  const std::vector<std::vector<double>> q3(3, kHome);
  const std::vector<std::vector<double>> q2_short(2, std::vector<double>(6, 0.0));
  Refused<std::invalid_argument>([&] { robot.SendMultiCartesianMotionForce({}, q3); },
                                 P(m) + " Input parameter [cart_cmds] cannot be empty");
  Refused<std::invalid_argument>([&] { robot.SendMultiCartesianMotionForce(three, {}); },
                                 P(m) + " Input parameter [joint_pos] cannot be empty");
  Refused<std::invalid_argument>(
      [&] { robot.SendMultiCartesianMotionForce(three, q2_short); },
      P(m) + " [cart_cmds] and [joint_pos] must contain the same number of waypoints");
  Refused<std::invalid_argument>(
      [&] {
        robot.SendMultiCartesianMotionForce(three, {kHome, std::vector<double>(6, 0.0), kHome});
      },
      P(m) + " Each joint position vector in [joint_pos] must contain 7 elements");
  auto bad_limit = three;
  bad_limit[2].max_linear_acc = 0.0;
  bad_limit[1].pose[0] = kNaN;
  Refused<std::invalid_argument>([&] { robot.SendMultiCartesianMotionForce(bad_limit, q3); },
                                 P(m) + kCartLimitsText);
  bad_limit[2].max_linear_acc = kNaN;
  bad_limit[1].pose[0] = 0.0;
  Refused<std::invalid_argument>([&] { robot.SendMultiCartesianMotionForce(bad_limit, q3); },
                                 P(m) + kCartLimitsText);
  for (auto spoil : std::vector<std::function<void(NrtCartesianCmd&)>>{
           [](NrtCartesianCmd& w) { w.pose[6] = kNaN; },
           [](NrtCartesianCmd& w) { w.wrench[0] = -kInf; },
           [](NrtCartesianCmd& w) { w.velocity[4] = kNaN; },
           [](NrtCartesianCmd& w) { w.max_angular_vel = kInf; }}) {
    auto bad = three;
    spoil(bad[1]);
    Refused<std::invalid_argument>([&] { robot.SendMultiCartesianMotionForce(bad, q3); },
                                   NonFinite(m, "cart_cmds"));
  }
  auto bad_q = q3;
  bad_q[2][6] = kNaN;
  Refused<std::invalid_argument>([&] { robot.SendMultiCartesianMotionForce(three, bad_q); },
                                 NonFinite(m, "joint_pos"));
  bad_q[2][6] = kTooLargeForFloat;
  Refused<std::invalid_argument>([&] { robot.SendMultiCartesianMotionForce(three, bad_q); },
                                 FloatRange(m, "joint_pos"));
  EXPECT_NO_THROW(robot.SendMultiCartesianMotionForce(three, q3));

  EXPECT_EQ(env_->Counter(), 3u);
  const std::vector<json> items = env_->NextMotion(since, 3);
  ASSERT_EQ(items.size(), 3u);
  for (uint64_t i = 0; i < 3; ++i) EXPECT_EQ(items[i]["sequence_num"], i + 1);
  ExpectOnlyProbeSince(since + 3, 4);
}

TEST_F(RobotMotionTest, CommandsOnTheWireAndTheirSequenceNumbers) {
  Robot& robot = *env_->robot;
  const std::vector<double> torques = {0.1, -1.0 / 3, 2.718281828, 0, -5.5, 1e-3, 123.456789};
  const std::vector<double> q = {0.1, -0.6, 0.05, 1.5, -0.2, 0.75, 1.0 / 7};
  const std::vector<double> qd = {0.01, 0.02, -0.03, 0.04, 0.05, -0.06, 0.07};
  const std::vector<double> qdd = {1.1, 2.2, 3.3, 4.4, 5.5, 6.6, 7.7};
  const std::vector<float> zeros7(7, 0.0f);

  // Joint torque: seq 1, 2, 3 after the switch; the switches are inverted.
  env_->Switch(Mode::RT_JOINT_TORQUE);
  size_t since = env_->MotionTotal();
  robot.StreamJointTorque(torques, true, false, 12.3);
  robot.StreamJointTorque(torques, false, true, 0.0);
  robot.StreamJointTorque(torques, false, false, 100.0);
  std::vector<json> items = env_->NextMotion(since, 3);
  ASSERT_EQ(items.size(), 3u);
  for (uint64_t i = 0; i < 3; ++i) EXPECT_EQ(items[i]["sequence_num"], i + 1);
  const json& j0 = items[0]["joint"];
  EXPECT_EQ(j0["torque"].get<std::vector<float>>(), AsFloats(torques));
  EXPECT_FALSE(j0["disable_gravity_comp"].get<bool>());
  EXPECT_TRUE(j0["disable_soft_limit"].get<bool>());
  EXPECT_EQ(j0["friction_comp_scale"].get<float>(), 12.3f);
  EXPECT_TRUE(j0["position"].empty());
  EXPECT_TRUE(j0["max_vel"].empty());
  EXPECT_TRUE(items[1]["joint"]["disable_gravity_comp"].get<bool>());
  EXPECT_FALSE(items[1]["joint"]["disable_soft_limit"].get<bool>());
  EXPECT_TRUE(items[2]["joint"]["disable_gravity_comp"].get<bool>());
  EXPECT_TRUE(items[2]["joint"]["disable_soft_limit"].get<bool>());
  EXPECT_EQ(items[2]["joint"]["friction_comp_scale"].get<float>(), 100.0f);

  // Joint position stream: the counter starts again; torque is DoF zeros.
  env_->Switch(Mode::RT_JOINT_POSITION);
  since = env_->MotionTotal();
  for (int i = 0; i < 3; ++i) robot.StreamJointPosition(q, qd, qdd);
  items = env_->NextMotion(since, 3);
  ASSERT_EQ(items.size(), 3u);
  for (uint64_t i = 0; i < 3; ++i) EXPECT_EQ(items[i]["sequence_num"], i + 1);
  const json& j1 = items[0]["joint"];
  EXPECT_EQ(j1["position"].get<std::vector<float>>(), AsFloats(q));
  EXPECT_EQ(j1["velocity"].get<std::vector<float>>(), AsFloats(qd));
  EXPECT_EQ(j1["acceleration"].get<std::vector<float>>(), AsFloats(qdd));
  EXPECT_EQ(j1["torque"].get<std::vector<float>>(), zeros7);
  EXPECT_TRUE(j1["max_vel"].empty());
  EXPECT_TRUE(j1["max_acc"].empty());
  EXPECT_FALSE(j1["disable_gravity_comp"].get<bool>());
  EXPECT_EQ(j1["friction_comp_scale"].get<float>(), 0.0f);

  // Non-real-time joint target: no torque, no acceleration.
  env_->Switch(Mode::NRT_JOINT_POSITION);
  since = env_->MotionTotal();
  const std::vector<double> vmax = {0.5, 0.6, 0.7, 0.8, 0.9, 1.0, 1.1};
  const std::vector<double> amax = {2, 3, 4, 5, 6, 7, 8.125};
  robot.SendJointPosition(q, qd, vmax, amax);
  items = env_->NextMotion(since);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0]["sequence_num"], 1);
  const json& j2 = items[0]["joint"];
  EXPECT_EQ(j2["position"].get<std::vector<float>>(), AsFloats(q));
  EXPECT_EQ(j2["velocity"].get<std::vector<float>>(), AsFloats(qd));
  EXPECT_EQ(j2["max_vel"].get<std::vector<float>>(), AsFloats(vmax));
  EXPECT_EQ(j2["max_acc"].get<std::vector<float>>(), AsFloats(amax));
  EXPECT_TRUE(j2["torque"].empty());
  EXPECT_TRUE(j2["acceleration"].empty());

  // Super primitive: single and multi-waypoint commands share one series,
  // whatever their kind; the switch dropped the joint command.
  env_->Switch(Mode::NRT_SUPER_PRIMITIVE);
  since = env_->MotionTotal();
  const std::array<double, 7> pose = {0.31, -0.12, 0.55, 0.0, 0.70710678, 0.70710678, 0.0};
  const std::array<double, 6> wrench = {0.1, 0.2, -3.3, 0.01, 0.02, 0.03};
  const std::array<double, 6> twist = {0.05, 0, 0, 0, 0, 0.1};
  robot.SendCartesianMotionForce(pose, wrench, twist, 0.25, 0.5, 1.0 / 3, 2.0);
  const std::vector<NrtCartesianCmd> waypoints = {Waypoint(0.5), Waypoint(0.55), Waypoint(0.6)};
  std::vector<std::vector<double>> qs = {kHome, q, With(q, 0, 0.3)};
  robot.SendMultiCartesianMotionForce(waypoints, qs);
  robot.SendCartesianMotionForce(pose, wrench, twist, 0.25, 0.5, 1.0 / 3, 2.0);
  items = env_->NextMotion(since, 3);
  ASSERT_EQ(items.size(), 3u);
  for (uint64_t i = 0; i < 3; ++i) EXPECT_EQ(items[i]["sequence_num"], i + 1);
  const json& c0 = items[0]["cartesian"];
  EXPECT_EQ(c0["pose"].get<std::vector<float>>(), AsFloats(pose));
  EXPECT_EQ(c0["wrench"].get<std::vector<float>>(), AsFloats(wrench));
  EXPECT_EQ(c0["velocity"].get<std::vector<float>>(), AsFloats(twist));
  EXPECT_EQ(c0["acceleration"].get<std::vector<float>>(), std::vector<float>(6, 0.0f));
  EXPECT_EQ(c0["max_linear_vel"].get<float>(), 0.25f);
  EXPECT_EQ(c0["max_angular_vel"].get<float>(), 0.5f);
  EXPECT_EQ(c0["max_linear_acc"].get<float>(), static_cast<float>(1.0 / 3));
  EXPECT_EQ(c0["max_angular_acc"].get<float>(), 2.0f);
  EXPECT_TRUE(items[0]["joint"]["position"].empty());
  EXPECT_TRUE(items[0]["cartesian_multi"].empty());

  const json& multi = items[1];
  EXPECT_EQ(multi["cartesian"]["pose"].get<std::vector<float>>(), std::vector<float>(7, 0.0f));
  EXPECT_EQ(multi["cartesian"]["max_linear_vel"].get<float>(), 0.0f);
  ASSERT_EQ(multi["cartesian_multi"].size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    const json& w = multi["cartesian_multi"][k];
    EXPECT_EQ(w["pose"].get<std::vector<float>>(), AsFloats(waypoints[k].pose));
    EXPECT_EQ(w["wrench"].get<std::vector<float>>(), AsFloats(waypoints[k].wrench));
    EXPECT_EQ(w["velocity"].get<std::vector<float>>(), AsFloats(waypoints[k].velocity));
    EXPECT_EQ(w["acceleration"].get<std::vector<float>>(), std::vector<float>(6, 0.0f));
    EXPECT_EQ(w["max_linear_vel"].get<float>(), 0.5f);
    EXPECT_EQ(w["max_angular_vel"].get<float>(), 1.0f);
    EXPECT_EQ(w["max_linear_acc"].get<float>(), 2.0f);
    EXPECT_EQ(w["max_angular_acc"].get<float>(), 3.0f);
  }
  ASSERT_EQ(multi["joint_multi_positions"].size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(multi["joint_multi_positions"][k].get<std::vector<float>>(), AsFloats(qs[k]));
  }
  // A single command after the waypoints empties their lists.
  EXPECT_TRUE(items[2]["cartesian_multi"].empty());
  EXPECT_TRUE(items[2]["joint_multi_positions"].empty());
  EXPECT_EQ(items[2]["cartesian"]["pose"].get<std::vector<float>>(), AsFloats(pose));

  // Cartesian stream: the acceleration travels, the limits stay 0.
  env_->Switch(Mode::RT_CARTESIAN_MOTION_FORCE);
  since = env_->MotionTotal();
  const std::array<double, 6> acc = {0.5, -0.25, 0.125, 1e-4, 0, 3.0};
  robot.StreamCartesianMotionForce(pose, wrench, twist, acc);
  robot.StreamCartesianMotionForce(pose, wrench, twist, acc);
  items = env_->NextMotion(since, 2);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]["sequence_num"], 1);
  EXPECT_EQ(items[1]["sequence_num"], 2);
  const json& c1 = items[0]["cartesian"];
  EXPECT_EQ(c1["acceleration"].get<std::vector<float>>(), AsFloats(acc));
  EXPECT_EQ(c1["pose"].get<std::vector<float>>(), AsFloats(pose));
  EXPECT_EQ(c1["max_linear_vel"].get<float>(), 0.0f);
  EXPECT_EQ(c1["max_angular_acc"].get<float>(), 0.0f);
  EXPECT_TRUE(items[0]["joint"]["torque"].empty());
  env_->Switch(Mode::IDLE);
  EXPECT_EQ(env_->Counter(), 0u);
}

TEST_F(RobotMotionTest, CommandsMoveTheSimulatedArm) {
  Robot& robot = *env_->robot;
  const std::vector<double> zeros(7, 0.0);
  auto near = [&](const std::vector<double>& target, double tol) {
    return env_->sim.WaitForState(
        env_->serial,
        [&](const json& s) {
          const auto q = s["joints"]["position"].get<std::vector<double>>();
          for (size_t i = 0; i < target.size(); ++i) {
            if (std::fabs(q[i] - target[i]) > tol) return false;
          }
          return true;
        },
        5s);
  };

  // A non-real-time joint target is reached within the limits given.
  env_->Switch(Mode::NRT_JOINT_POSITION);
  const std::vector<double> target = {0.3, -0.5, 0.2, 1.3, -0.1, 0.9, 0.2};
  robot.SendJointPosition(target, zeros, std::vector<double>(7, 1.5), std::vector<double>(7, 5.0));
  EXPECT_TRUE(near(target, 1e-3));

  // A streamed joint position is followed cycle by cycle.
  env_->Switch(Mode::RT_JOINT_POSITION);
  const size_t applied_before = env_->sim.State(env_->serial)["motion_applied"].get<size_t>();
  const std::vector<double> stream_target = {0.1, -0.6, 0.1, 1.4, 0.0, 0.8, 0.1};
  const auto start = std::chrono::steady_clock::now();
  int sent = 0;
  while (std::chrono::steady_clock::now() - start < 400ms) {
    robot.StreamJointPosition(stream_target, zeros, zeros);
    ++sent;
    std::this_thread::sleep_for(1ms);  // the control cycle
  }
  EXPECT_TRUE(near(stream_target, 1e-3));
  // Every command that arrived moved the arm (losses of the best-effort
  // stream are the benchmark's business).
  const size_t applied = env_->sim.State(env_->serial)["motion_applied"].get<size_t>();
  EXPECT_GT(applied, applied_before);
  EXPECT_LE(applied, applied_before + sent);

  // Streamed torques are what the arm reports in torque mode.
  env_->Switch(Mode::RT_JOINT_TORQUE);
  const std::vector<double> torques = {1, -2, 3, -4, 5, -6, 7};
  robot.StreamJointTorque(torques, true, true, 50);
  EXPECT_TRUE(WaitUntil([&] { return robot.states().torque == torques; }, 3s));

  // A Cartesian target 4 cm above the current TCP is reached.
  env_->Switch(Mode::NRT_CARTESIAN_MOTION_FORCE);
  std::array<double, 7> goal = robot.states().tcp_pose;
  goal[2] += 0.04;
  robot.SendCartesianMotionForce(goal, kZero6, kZero6, 0.2, 0.5, 1.0, 1.0);
  EXPECT_TRUE(WaitUntil(
      [&] {
        const auto tcp = robot.states().tcp_pose;
        return std::fabs(tcp[0] - goal[0]) < 2e-3 && std::fabs(tcp[1] - goal[1]) < 2e-3 &&
               std::fabs(tcp[2] - goal[2]) < 2e-3;
      },
      5s));

  // Waypoints are run through to the last one.
  env_->Switch(Mode::NRT_SUPER_PRIMITIVE);
  const std::vector<double> last = {-0.2, -0.5, 0.1, 1.2, 0.1, 0.6, -0.1};
  robot.SendMultiCartesianMotionForce({Waypoint(0.5), Waypoint(0.55)}, {kHome, last});
  EXPECT_TRUE(near(last, 1e-3));

  env_->Switch(Mode::IDLE);
  EXPECT_TRUE(WaitUntil([&] { return robot.stopped(); }, 3s));
}

TEST_F(RobotMotionTest, LiteRobotSendsNoMotionAndVerboseRobotWarnsWhenUntimely) {
  env_->Ready(Mode::RT_JOINT_POSITION);
  const std::vector<double> zeros(7, 0.0);
  {
    // A lite robot has no data stream, so the gate never opens.
    auto lite = MakeLiteRobot(env_->serial);
    ASSERT_TRUE(WaitUntil([&] { return lite->mode() == Mode::RT_JOINT_POSITION; }, 3s));
    const std::string status =
        kOperationalStatusTexts[static_cast<size_t>(lite->operational_status())];
    EXPECT_FALSE(lite->operational());
    const std::vector<OperationCase> cases = BadArgumentCalls();
    for (const OperationCase& c : cases) {
      EXPECT_TRUE(Throws<std::runtime_error>([&] { c.call(*lite); },
                                             P(c.name) + " Robot is not operational: " + status));
    }
    EXPECT_TRUE(Throws<std::runtime_error>(
        [&] { lite->StreamJointPosition(kHome, zeros, zeros); },
        P("StreamJointPosition") + " Robot is not operational: " + status));
  }

  // Too many late commands: a verbose robot warns on every streamed
  // command and still sends it; a quiet one only sends.
  auto verbose = MakeRobot(env_->serial, /*lite=*/false, /*verbose=*/true);
  ASSERT_TRUE(env_->sim.WaitMatched(env_->serial, 5s, {"motion_commands"}, 2));
  Robot& quiet = *env_->robot;
  verbose->SetTimelinessFailureLimit(0);
  quiet.SetTimelinessFailureLimit(0);
  // The controller's late-command count grows until both robots report the
  // limit reached; it is counted over the last second only, so this is done
  // right before each command.
  auto untimely = [&] {
    return WaitUntil(
        [&] {
          if (verbose->reached_timeliness_failure_limit() &&
              quiet.reached_timeliness_failure_limit()) {
            return true;
          }
          const uint64_t late =
              env_->sim.State(env_->serial)["timeliness_failures"].get<uint64_t>();
          env_->sim.Set(env_->serial, {{"timeliness_failures", late + 5}});
          return false;
        },
        5s, 20ms);
  };
  auto both_in = [&](Mode mode) {
    env_->Ready(mode);
    ASSERT_TRUE(WaitUntil([&] { return verbose->mode() == mode && verbose->operational(); }, 3s));
  };
  const std::string warning =
      " Timeliness failure: the number of commands that failed to arrive the robot in real time "
      "has reached the specified limit. Performance degradation and unexpected behavior may "
      "occur, please use with caution!";
  LogCapture log(spdlog::level::warn);
  const size_t since = env_->MotionTotal();
  both_in(Mode::RT_JOINT_POSITION);
  ASSERT_TRUE(untimely());
  verbose->StreamJointPosition(kHome, zeros, zeros);
  ASSERT_TRUE(untimely());
  verbose->StreamJointPosition(kHome, zeros, zeros);
  ASSERT_TRUE(untimely());
  quiet.StreamJointPosition(kHome, zeros, zeros);
  both_in(Mode::RT_JOINT_TORQUE);
  ASSERT_TRUE(untimely());
  verbose->StreamJointTorque(zeros, true, true, 0);
  both_in(Mode::RT_CARTESIAN_MOTION_FORCE);
  ASSERT_TRUE(untimely());
  verbose->StreamCartesianMotionForce(kPose, kZero6, kZero6, kZero6);
  // Non-real-time commands never warn.
  both_in(Mode::NRT_JOINT_POSITION);
  ASSERT_TRUE(untimely());
  verbose->SendJointPosition(kHome, zeros, std::vector<double>(7, 1.0),
                             std::vector<double>(7, 1.0));
  EXPECT_EQ(log.Count(spdlog::level::warn, P("StreamJointPosition") + warning), 2);
  EXPECT_EQ(log.Count(spdlog::level::warn, P("StreamJointTorque") + warning), 1);
  EXPECT_EQ(log.Count(spdlog::level::warn, P("StreamCartesianMotionForce") + warning), 1);
  EXPECT_EQ(log.Starting(spdlog::level::warn, P("SendJointPosition")).size(), 0u);
  EXPECT_EQ(log.Lines().size(), 4u);
  EXPECT_TRUE(env_->WaitMotionTotal(since + 6));
}

}  // namespace
}  // namespace quiral::vek
