// Motion commands of a Robot against the simulated controller: the order
// of the checks (operational gate, control mode, arguments) with nothing
// sent when one fails, the exact commands the controller receives and
// their sequence numbers after a mode switch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTooLargeForFloat = 1e39;  // finite as a double, not as a float
const double kTiny = std::nextafter(DBL_EPSILON, 0.0);

const std::vector<double> kHome = {0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0};
const std::vector<double> kZeros(7, 0.0), kOnes(7, 1.0), kSix(6, 0.0);
const std::array<double, 7> kPose = {0.3, -0.1, 0.6, 0.0, 1.0, 0.0, 0.0};
const std::array<double, 6> kZero6 = {};

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
std::string CartLimits(const std::string& operation) {
  return P(operation) +
         " Input parameters [max_linear_vel, max_angular_vel, max_linear_acc, max_angular_acc] "
         "must be greater than 0";
}
template <class C>
C With(C v, std::size_t i, double x) {
  v[i] = x;
  return v;
}

NrtCartesianCmd Waypoint(double z) {
  return {{0.3, 0.0, z, 0.0, 1.0, 0.0, 0.0}, {0, 0, 1.5}, {0.01, 0, 0, 0, 0, 0.2}, 0.5, 1, 2, 3};
}

class RobotMotionTest : public RobotTest {
 protected:
  void SetUp() override {
    RobotTest::SetUp();
    ASSERT_TRUE(env_->sim.WaitMatched(env_->serial, 5s, {"motion_commands"}));
  }
  // Expects `call` to throw E with `text`, leaving the counter unchanged.
  template <typename E>
  void Refused(const std::function<void()>& call, const std::string& text) {
    const uint64_t before = env_->Counter();
    EXPECT_TRUE(Throws<E>(call, text));
    EXPECT_EQ(env_->Counter(), before) << text;
  }
  // Sends one streamed joint-position command and expects it to be the only
  // command since `since`, carrying `expected_seq`: proof that nothing else
  // reached the controller.
  void ExpectOnlyProbeSince(size_t since, uint64_t expected_seq) {
    env_->Ready(Mode::RT_JOINT_POSITION);
    robot().StreamJointPosition(kHome, kZeros, kZeros);
    const std::vector<json> items = env_->NextMotion(since);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]["sequence_num"], expected_seq);
  }
  // Runs the checks in order, each in its mode: a call refused with its
  // text, or (no text) accepted. Then expects the accepted ones, and nothing
  // else, to have reached the controller, numbered from 1; returns them.
  struct Check {
    Mode mode;
    std::function<void()> call;
    std::string error;
  };
  std::vector<json> RunChecks(const std::vector<Check>& checks) {
    const size_t since = env_->MotionTotal();
    uint64_t sent = 0;
    for (const Check& c : checks) {
      if (robot().mode() != c.mode) env_->Ready(c.mode);
      if (c.error.empty()) {
        EXPECT_NO_THROW(c.call());
        ++sent;
      } else {
        Refused<std::invalid_argument>(c.call, c.error);
      }
    }
    const std::vector<json> items = env_->NextMotion(since, sent);
    EXPECT_EQ(items.size(), sent);
    for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i]["sequence_num"], i + 1);
    ExpectOnlyProbeSince(since + sent, sent + 1);
    return items;
  }
};

// One call per operation whose arguments are bad, the modes in which it is
// accepted, and the argument error it then reports.
struct OperationCase {
  std::string name;
  std::vector<Mode> modes;
  std::function<void(Robot&)> call;
  std::string argument_error;
};

std::vector<OperationCase> BadArgumentCalls() {
  return {
      {"StreamJointTorque",
       {Mode::RT_JOINT_TORQUE},
       [](Robot& r) { r.StreamJointTorque(kSix, true, true, 0.0); },
       SizeText("StreamJointTorque", "torques")},
      {"StreamJointPosition",
       {Mode::RT_JOINT_IMPEDANCE, Mode::RT_JOINT_POSITION},
       [](Robot& r) { r.StreamJointPosition(std::vector<double>(8, 0.0), kZeros, kZeros); },
       SizeText("StreamJointPosition", "positions")},
      {"SendJointPosition",
       {Mode::NRT_JOINT_IMPEDANCE, Mode::NRT_JOINT_POSITION},
       [](Robot& r) { r.SendJointPosition(kZeros, kZeros, kSix, kZeros); },
       SizeText("SendJointPosition", "max_vel")},
      {"StreamCartesianMotionForce",
       {Mode::RT_CARTESIAN_MOTION_FORCE},
       [](Robot& r) { r.StreamCartesianMotionForce(With(kPose, 3, kNaN), kZero6, kZero6, kZero6); },
       NonFinite("StreamCartesianMotionForce", "pose")},
      {"SendCartesianMotionForce",
       {Mode::NRT_CARTESIAN_MOTION_FORCE, Mode::NRT_SUPER_PRIMITIVE},
       [](Robot& r) { r.SendCartesianMotionForce(kPose, kZero6, kZero6, 0.1, 0.1, 0.0, 0.1); },
       CartLimits("SendCartesianMotionForce")},
      {"SendMultiCartesianMotionForce",
       {Mode::NRT_SUPER_PRIMITIVE},
       [](Robot& r) { r.SendMultiCartesianMotionForce({}, {}); },
       P("SendMultiCartesianMotionForce") + " Input parameter [cart_cmds] cannot be empty"}};
}

TEST_F(RobotMotionTest, GateThenModeThenArgumentsAndNothingIsSent) {
  const std::vector<OperationCase> cases = BadArgumentCalls();
  const size_t since = env_->MotionTotal();
  // Not operational: the gate speaks first, whatever the mode and arguments.
  const std::vector<std::tuple<int, int, std::string>> statuses = {
      {72, 4, "Not enabled"}, {40, 15, "Critical fault occurred"}, {12, 2, "In Manual mode"}};
  for (const auto& [board, system, text] : statuses) {
    for (const OperationCase& c : cases) {
      env_->Put(board, system, c.modes[0]);
      Refused<std::runtime_error>([&] { c.call(robot()); },
                                  P(c.name) + " Robot is not operational: " + text);
    }
  }
  // Operational (ready, or reduced): the mode decides, then the arguments.
  for (int raw = 0; raw <= 12; ++raw) {
    const auto mode = static_cast<Mode>(raw);
    env_->Put(raw % 2 == 0 ? 10 : 12, 4, mode);
    for (const OperationCase& c : cases) {
      SCOPED_TRACE(c.name + " in mode " + std::to_string(raw));
      if (std::find(c.modes.begin(), c.modes.end(), mode) != c.modes.end()) {
        Refused<std::invalid_argument>([&] { c.call(robot()); }, c.argument_error);
      } else {
        Refused<std::logic_error>([&] { c.call(robot()); },
                                  P(c.name) + " Robot is not in an applicable control mode");
      }
    }
  }
  // Nothing reached the controller: the next command it sees carries 1.
  EXPECT_EQ(env_->MotionTotal(), since);
  ExpectOnlyProbeSince(since, 1);
}

// Sizes in argument order, ranges, non-finite values and values no 32-bit
// float holds (the controller would receive infinities), limits below the
// double epsilon; each in the order the checks run.
TEST_F(RobotMotionTest, ArgumentsInOrder) {
  Robot& r = robot();
  const std::string t = "StreamJointTorque", s = "StreamJointPosition", n = "SendJointPosition",
                    cs = "StreamCartesianMotionForce", c = "SendCartesianMotionForce",
                    m = "SendMultiCartesianMotionForce";
  const std::string friction =
      P(t) + " Input parameter [friction_comp_scale] is outside the valid range";
  const std::string limits =
      P(n) + " Input parameters [max_vel] and [max_acc] must be greater than 0";
  const Mode torque = Mode::RT_JOINT_TORQUE, rt = Mode::RT_JOINT_IMPEDANCE,
             nrt = Mode::NRT_JOINT_IMPEDANCE, crt = Mode::RT_CARTESIAN_MOTION_FORCE,
             cnrt = Mode::NRT_CARTESIAN_MOTION_FORCE, multi = Mode::NRT_SUPER_PRIMITIVE;
  const auto nan3 = With(kZeros, 3, kNaN), big0 = With(kZeros, 0, kTooLargeForFloat);
  const std::vector<NrtCartesianCmd> three = {Waypoint(0.5), Waypoint(0.55), Waypoint(0.6)};
  const std::vector<std::vector<double>> q3(3, kHome);
  auto spoilt = [&](const std::function<void(NrtCartesianCmd&)>& spoil) {
    auto waypoints = three;
    spoil(waypoints[1]);
    return waypoints;
  };
  const auto bad_limit = spoilt([](NrtCartesianCmd& w) {
    w.max_linear_acc = 0.0;
    w.pose[0] = kNaN;
  });
  const auto bad_wrench = spoilt([](NrtCartesianCmd& w) { w.wrench[0] = -kInf; });
  const std::vector<Check> checks = {
      {torque, [&] { r.StreamJointTorque(kSix, true, true, 101); }, SizeText(t, "torques")},
      {torque, [&] { r.StreamJointTorque(nan3, true, true, 101); }, friction},
      {torque, [&] { r.StreamJointTorque(nan3, true, true, 0); }, NonFinite(t, "torques")},
      {torque, [&] { r.StreamJointTorque(kZeros, true, true, kNaN); }, friction},
      {torque, [&] { r.StreamJointTorque(kZeros, true, true, 100.5); }, friction},
      {torque, [&] { r.StreamJointTorque(With(kZeros, 0, FLT_MAX), true, true, 100.0); }, ""},
      {torque, [&] { r.StreamJointTorque(kZeros, true, true, 0.0); }, ""},
      {rt, [&] { r.StreamJointPosition(kSix, kSix, kSix); }, SizeText(s, "positions")},
      {rt, [&] { r.StreamJointPosition(kZeros, kSix, kSix); }, SizeText(s, "velocities")},
      {rt, [&] { r.StreamJointPosition(kZeros, kZeros, kSix); }, SizeText(s, "accelerations")},
      {rt, [&] { r.StreamJointPosition(With(kZeros, 1, kInf), nan3, kZeros); },
       NonFinite(s, "positions")},
      {rt, [&] { r.StreamJointPosition(kZeros, kZeros, big0); }, FloatRange(s, "accelerations")},
      {rt, [&] { r.StreamJointPosition(kHome, kZeros, kZeros); }, ""},
      {nrt, [&] { r.SendJointPosition(kZeros, kSix, kSix, kSix); }, SizeText(n, "velocities")},
      {nrt, [&] { r.SendJointPosition(kZeros, kZeros, kOnes, kSix); }, SizeText(n, "max_acc")},
      {nrt, [&] { r.SendJointPosition(nan3, kZeros, kOnes, With(kOnes, 0, 0.0)); }, limits},
      {nrt, [&] { r.SendJointPosition(kZeros, kZeros, With(kOnes, 2, kTiny), kOnes); }, limits},
      {nrt, [&] { r.SendJointPosition(kZeros, kZeros, kOnes, With(kOnes, 2, kNaN)); }, limits},
      {nrt, [&] { r.SendJointPosition(kZeros, nan3, kOnes, kOnes); }, NonFinite(n, "velocities")},
      {nrt, [&] { r.SendJointPosition(kZeros, kZeros, kOnes, With(kOnes, 0, 1e39)); },
       FloatRange(n, "max_acc")},
      {nrt, [&] { r.SendJointPosition(kHome, kZeros, With(kOnes, 0, 1e-15), kOnes); }, ""},
      {crt, [&] { r.StreamCartesianMotionForce(With(kPose, 0, kInf), {kNaN}, kZero6, kZero6); },
       NonFinite(cs, "pose")},
      {crt,
       [&] {
         r.StreamCartesianMotionForce(kPose, kZero6, kZero6, {0, 1e39});
       },
       FloatRange(cs, "acceleration")},
      {crt, [&] { r.StreamCartesianMotionForce(kPose, kZero6, kZero6, kZero6); }, ""},
      // The limits before the finiteness of the pose.
      {cnrt, [&] { r.SendCartesianMotionForce(With(kPose, 2, kNaN), {}, {}, 1, 1, 0, 1); },
       CartLimits(c)},
      {cnrt, [&] { r.SendCartesianMotionForce(kPose, {}, {}, kNaN, 1, 1, 1); }, CartLimits(c)},
      {cnrt, [&] { r.SendCartesianMotionForce(kPose, {}, {}, 1, kTiny, 1, 1); }, CartLimits(c)},
      {cnrt, [&] { r.SendCartesianMotionForce(kPose, {}, {}, 1, 1, 1, -0.5); }, CartLimits(c)},
      {cnrt, [&] { r.SendCartesianMotionForce(kPose, {kInf}, {}, 1, 1, 1, 1); },
       NonFinite(c, "wrench")},
      {cnrt, [&] { r.SendCartesianMotionForce(kPose, {}, {}, 1, 1, 1, 1e39); },
       FloatRange(c, "max_angular_acc")},
      {cnrt, [&] { r.SendCartesianMotionForce(kPose, {}, {}, 1e-15, 1, DBL_EPSILON, 1); }, ""},
      {multi, [&] { r.SendMultiCartesianMotionForce(three, {}); },
       P(m) + " Input parameter [joint_pos] cannot be empty"},
      {multi,
       [&] {
         r.SendMultiCartesianMotionForce(three, {kHome, kHome});
       },
       P(m) + " [cart_cmds] and [joint_pos] must contain the same number of waypoints"},
      {multi,
       [&] {
         r.SendMultiCartesianMotionForce(three, {kHome, kSix, kHome});
       },
       P(m) + " Each joint position vector in [joint_pos] must contain 7 elements"},
      {multi, [&] { r.SendMultiCartesianMotionForce(bad_limit, q3); }, CartLimits(m)},
      {multi, [&] { r.SendMultiCartesianMotionForce(bad_wrench, q3); }, NonFinite(m, "cart_cmds")},
      {multi,
       [&] {
         r.SendMultiCartesianMotionForce(three, {kHome, kHome, big0});
       },
       FloatRange(m, "joint_pos")},
      {multi, [&] { r.SendMultiCartesianMotionForce(three, q3); }, ""}};
  const std::vector<json> items = RunChecks(checks);
  ASSERT_EQ(items.size(), 7u);
  EXPECT_EQ(items[0]["joint"]["torque"][0].get<float>(), FLT_MAX);
  EXPECT_EQ(items[3]["joint"]["max_vel"][0].get<float>(), static_cast<float>(1e-15));
}

// One motion command as the controller records it.
using V = std::vector<double>;
json Joint(V torque, V position, V velocity, V acceleration, V max_vel, V max_acc,
           float friction = 0, bool gravity_off = false, bool soft_off = false) {
  return {{"torque", AsFloats(torque)},      {"position", AsFloats(position)},
          {"velocity", AsFloats(velocity)},  {"acceleration", AsFloats(acceleration)},
          {"max_vel", AsFloats(max_vel)},    {"max_acc", AsFloats(max_acc)},
          {"friction_comp_scale", friction}, {"disable_gravity_comp", gravity_off},
          {"disable_soft_limit", soft_off}};
}
json Cartesian(std::array<double, 7> pose = {}, std::array<double, 6> wrench = {},
               std::array<double, 6> velocity = {}, std::array<double, 6> acceleration = {},
               std::array<double, 4> limits = {}) {
  return {{"pose", AsFloats(pose)},
          {"wrench", AsFloats(wrench)},
          {"velocity", AsFloats(velocity)},
          {"acceleration", AsFloats(acceleration)},
          {"max_linear_vel", float(limits[0])},
          {"max_angular_vel", float(limits[1])},
          {"max_linear_acc", float(limits[2])},
          {"max_angular_acc", float(limits[3])}};
}
json Command(uint64_t sequence_num, json joint, json cartesian = Cartesian(),
             json multi = json::array(), json multi_positions = json::array()) {
  return {{"sequence_num", sequence_num},
          {"joint", joint},
          {"cartesian", cartesian},
          {"cartesian_multi", multi},
          {"joint_multi_positions", multi_positions},
          {"applied", true}};
}

// Every field of every command as the controller receives it; after each
// switch the series starts again at 1 and the held command is dropped.
TEST_F(RobotMotionTest, CommandsOnTheWireAndTheirSequenceNumbers) {
  Robot& robot = this->robot();
  const V q = {0.1, -0.6, 0.05, 1.5, -0.2, 0.75, 1.0 / 7};
  const V qd = {0.01, 0.02, -0.03, 0.04, 0.05, -0.06, 0.07};
  const V qdd = {1.1, 2.2, 3.3, 4.4, 5.5, 6.6, 7.7};
  const V amax = {2, 3, 4, 5, 6, 7, 8.125};
  const std::array<double, 7> pose = {0.31, -0.12, 0.55, 0.0, 0.70710678, 0.70710678, 0.0};
  const std::array<double, 6> wrench = {0.1, 0.2, -3.3, 0.01, 0.02, 0.03};
  const std::array<double, 6> twist = {0.05, 0, 0, 0, 0, 0.1};
  const std::array<double, 6> acc = {0.5, -0.25, 0.125, 1e-4, 0, 3.0};
  const std::array<double, 4> limits = {0.25, 0.5, 1.0 / 3, 2.0};
  const std::vector<NrtCartesianCmd> waypoints = {Waypoint(0.5), Waypoint(0.55)};
  const json none = Joint({}, {}, {}, {}, {}, {});
  const json single = Cartesian(pose, wrench, twist, {}, limits);
  json multi = json::array();
  for (const auto& w : waypoints) {
    multi.push_back(Cartesian(w.pose, w.wrench, w.velocity, {}, {0.5, 1, 2, 3}));
  }
  const struct {
    Mode mode;
    std::function<void()> send;
    std::vector<json> expected;
  } cases[] = {
      // The two switches are inverted on the wire.
      {Mode::RT_JOINT_TORQUE,
       [&] {
         robot.StreamJointTorque(qdd, true, false, 12.3);
         robot.StreamJointTorque(qdd, false, true, 100.0);
       },
       {Command(1, Joint(qdd, {}, {}, {}, {}, {}, 12.3f, false, true)),
        Command(2, Joint(qdd, {}, {}, {}, {}, {}, 100.0f, true, false))}},
      // Streamed positions come with DoF zero torques; a target with
      // neither torques nor accelerations.
      {Mode::RT_JOINT_POSITION, [&] { robot.StreamJointPosition(q, qd, qdd); },
       {Command(1, Joint(V(7, 0.0), q, qd, qdd, {}, {}))}},
      {Mode::NRT_JOINT_POSITION, [&] { robot.SendJointPosition(q, qd, qdd, amax); },
       {Command(1, Joint({}, q, qd, {}, qdd, amax))}},
      // Single and multi-waypoint commands share one series; a single
      // command after the waypoints empties their lists.
      {Mode::NRT_SUPER_PRIMITIVE,
       [&] {
         robot.SendCartesianMotionForce(pose, wrench, twist, 0.25, 0.5, 1.0 / 3, 2.0);
         robot.SendMultiCartesianMotionForce(waypoints, {kHome, q});
         robot.SendCartesianMotionForce(pose, wrench, twist, 0.25, 0.5, 1.0 / 3, 2.0);
       },
       {Command(1, none, single),
        Command(2, none, Cartesian(), multi, json({AsFloats(kHome), AsFloats(q)})),
        Command(3, none, single)}},
      {Mode::RT_CARTESIAN_MOTION_FORCE,
       [&] { robot.StreamCartesianMotionForce(pose, wrench, twist, acc); },
       {Command(1, none, Cartesian(pose, wrench, twist, acc))}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    env_->Switch(c.mode);
    const size_t since = env_->MotionTotal();
    c.send();
    std::vector<json> items = env_->NextMotion(since, c.expected.size());
    for (json& item : items) item.erase("index"), item.erase("t_ns");
    EXPECT_EQ(items, c.expected);
  }
}

TEST_F(RobotMotionTest, LiteRobotSendsNoMotionAndVerboseRobotWarnsWhenUntimely) {
  env_->Ready(Mode::RT_JOINT_POSITION);
  {
    // A lite robot has no data stream, so the gate never opens.
    auto lite = MakeRobot(env_->serial, /*lite=*/true);
    ASSERT_TRUE(WaitUntil([&] { return lite->mode() == Mode::RT_JOINT_POSITION; }, 3s));
    for (const OperationCase& c : BadArgumentCalls()) {
      EXPECT_TRUE(Throws<std::runtime_error>(
          [&] { c.call(*lite); }, P(c.name) + " Robot is not operational: System booting"));
    }
  }

  // Too many late commands: a verbose robot warns on every streamed
  // command and still sends it; a quiet one only sends.
  auto verbose = MakeRobot(env_->serial, /*lite=*/false, /*verbose=*/true);
  ASSERT_TRUE(env_->sim.WaitMatched(env_->serial, 5s, {"motion_commands"}, 2));
  Robot& quiet = robot();
  verbose->SetTimelinessFailureLimit(0);
  quiet.SetTimelinessFailureLimit(0);
  // The late count is counted over the last second only, so it is raised
  // right before each command until both robots report the limit reached.
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
    ASSERT_TRUE(untimely());
  };
  LogCapture log(spdlog::level::warn);
  const size_t since = env_->MotionTotal();
  both_in(Mode::RT_JOINT_TORQUE);
  verbose->StreamJointTorque(kZeros, true, true, 0);
  ASSERT_TRUE(untimely());
  quiet.StreamJointTorque(kZeros, true, true, 0);
  // Non-real-time commands never warn.
  both_in(Mode::NRT_JOINT_POSITION);
  verbose->SendJointPosition(kHome, kZeros, kOnes, kOnes);
  EXPECT_EQ(
      log.Count(spdlog::level::warn,
                P("StreamJointTorque") +
                    " Timeliness failure: the number of commands that failed to arrive the "
                    "robot in real time has reached the specified limit. Performance "
                    "degradation and unexpected behavior may occur, please use with caution!"),
      1);
  EXPECT_EQ(log.Lines().size(), 1u);
  EXPECT_TRUE(env_->WaitMotionTotal(since + 3));
}

}  // namespace
}  // namespace quiral::vek
