// Motion commands of a Robot against the simulated controller: the order
// of the checks (operational gate, control mode, arguments) with nothing
// sent when one fails, the commands the controller receives and their
// sequence numbers after a mode switch.
#include <gtest/gtest.h>

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
using V = std::vector<double>;
using A6 = std::array<double, 6>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const V kHome = {0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0};
const V kZeros(7, 0.0), kOnes(7, 1.0), kSix(6, 0.0);
const std::array<double, 7> kPose = {0.3, -0.1, 0.6, 0.0, 1.0, 0.0, 0.0};
const std::string kCartLimits =
    " Input parameters [max_linear_vel, max_angular_vel, max_linear_acc, max_angular_acc] must be "
    "greater than 0";
std::string Size(const std::string& argument) {
  return " Size of input vector [" + argument + "] does not match robot DoF";
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
  // Expects `call` to throw `type` with `text`, the counter unchanged.
  void Refused(const std::type_info& type, const std::function<void()>& call,
               const std::string& text) {
    const uint64_t before = env_->Counter();
    EXPECT_TRUE(ThrowsAs(type, call, text));
    EXPECT_EQ(env_->Counter(), before) << text;
  }
};

// The gate speaks first, then the mode, then the arguments, and nothing is
// sent; a reduced robot is operational. Gate and mode are shared checks,
// shown once.
TEST_F(RobotMotionTest, GateThenModeThenArgumentsAndNothingIsSent) {
  const auto call = [&] { robot().StreamJointTorque(kSix, true, true, 0); };
  const std::string op = P("StreamJointTorque");
  const size_t since = env_->MotionTotal();
  env_->NotEnabled(Mode::RT_JOINT_TORQUE);
  Refused(typeid(std::runtime_error), call, op + " Robot is not operational: Not enabled");
  env_->Put(10, 4, Mode::NRT_JOINT_POSITION);
  Refused(typeid(std::logic_error), call, op + " Robot is not in an applicable control mode");
  env_->Put(10, 4, Mode::RT_JOINT_TORQUE);
  Refused(typeid(std::invalid_argument), call, op + Size("torques"));
  // Proof that nothing reached the controller: the next command is the first.
  env_->Ready(Mode::RT_JOINT_POSITION);
  robot().StreamJointPosition(kHome, kZeros, kZeros);
  const std::vector<json> items = env_->NextMotion(since);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0]["sequence_num"], 1);
}

// Each operation's own checks in the order they run, the shared 32-bit
// float check once, and the ends of the ranges; the accepted commands, and
// only they, reach the controller numbered from 1.
TEST_F(RobotMotionTest, ArgumentsInOrder) {
  Robot& r = robot();
  const std::string t = P("StreamJointTorque"), s = P("StreamJointPosition"),
                    n = P("SendJointPosition"), c = P("SendCartesianMotionForce"),
                    m = P("SendMultiCartesianMotionForce");
  const std::string friction =
      t + " Input parameter [friction_comp_scale] is outside the valid range";
  const std::string limits = n + " Input parameters [max_vel] and [max_acc] must be greater than 0";
  const Mode tq = Mode::RT_JOINT_TORQUE, rt = Mode::RT_JOINT_IMPEDANCE,
             nrt = Mode::NRT_JOINT_IMPEDANCE, cn = Mode::NRT_CARTESIAN_MOTION_FORCE,
             sp = Mode::NRT_SUPER_PRIMITIVE;
  const V nan3 = With(kZeros, 3, kNaN);
  const double tiny = std::nextafter(DBL_EPSILON, 0.0);
  const std::vector<NrtCartesianCmd> three = {Waypoint(0.5), Waypoint(0.55), Waypoint(0.6)};
  const std::vector<V> q3(3, kHome);
  const struct {
    Mode mode;
    std::function<void()> call;
    std::string error;  // empty: accepted
  } checks[] = {
      // clang-format off
      {tq, [&] { r.StreamJointTorque(kSix, true, true, 101); }, t + Size("torques")},
      {tq, [&] { r.StreamJointTorque(nan3, true, true, 101); }, friction},
      {tq, [&] { r.StreamJointTorque(With(kZeros, 0, FLT_MAX), true, true, 100.0); }, ""},
      {rt, [&] { r.StreamJointPosition(With(kZeros, 1, kInf), nan3, kZeros); },
       s + " Input parameter [positions] contains a non-finite value"},
      {rt, [&] { r.StreamJointPosition(kZeros, kZeros, With(kZeros, 0, 1e39)); },
       s + " Input parameter [accelerations] contains a value outside the 32-bit float range"},
      {nrt, [&] { r.SendJointPosition(nan3, kZeros, kOnes, With(kOnes, 0, 0.0)); }, limits},
      {nrt, [&] { r.SendJointPosition(kHome, kZeros, With(kOnes, 0, 1e-15), kOnes); }, ""},
      {cn, [&] { r.SendCartesianMotionForce(kPose, {}, {}, 1, tiny, 1, 1); }, c + kCartLimits},
      {cn, [&] { r.SendCartesianMotionForce(kPose, {}, {}, 1e-15, 1, DBL_EPSILON, 1); }, ""},
      {sp, [&] { r.SendMultiCartesianMotionForce({}, {}); },
       m + " Input parameter [cart_cmds] cannot be empty"},
      {sp, [&] { r.SendMultiCartesianMotionForce(three, {kHome, kSix, kHome}); },
       m + " Each joint position vector in [joint_pos] must contain 7 elements"},
      {sp, [&] { r.SendMultiCartesianMotionForce(three, q3); }, ""}};
  // clang-format on
  const size_t since = env_->MotionTotal();
  uint64_t sent = 0;
  for (const auto& check : checks) {
    if (robot().mode() != check.mode) env_->Ready(check.mode);
    if (check.error.empty()) {
      EXPECT_NO_THROW(check.call());
      ++sent;
    } else {
      Refused(typeid(std::invalid_argument), check.call, check.error);
    }
  }
  const std::vector<json> items = env_->NextMotion(since, sent);
  ASSERT_EQ(items.size(), sent);
  for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i]["sequence_num"], i + 1);
  EXPECT_EQ(items[0]["joint"]["torque"][0].get<float>(), FLT_MAX);
  EXPECT_EQ(items[1]["joint"]["max_vel"][0].get<float>(), static_cast<float>(1e-15));
}

// One motion command as the controller records it.
json Joint(V torque, V position, V velocity, V acceleration, V max_vel, V max_acc,
           float friction = 0, bool gravity_off = false, bool soft_off = false) {
  return {{"torque", AsFloats(torque)},      {"position", AsFloats(position)},
          {"velocity", AsFloats(velocity)},  {"acceleration", AsFloats(acceleration)},
          {"max_vel", AsFloats(max_vel)},    {"max_acc", AsFloats(max_acc)},
          {"friction_comp_scale", friction}, {"disable_gravity_comp", gravity_off},
          {"disable_soft_limit", soft_off}};
}
json Cartesian(std::array<double, 7> pose = {}, A6 wrench = {}, A6 velocity = {},
               A6 acceleration = {}, std::array<double, 4> limits = {}) {
  json c = {{"pose", AsFloats(pose)}, {"wrench", AsFloats(wrench)}};
  c.update({{"velocity", AsFloats(velocity)}, {"acceleration", AsFloats(acceleration)}});
  c.update({{"max_linear_vel", float(limits[0])}, {"max_angular_vel", float(limits[1])}});
  c.update({{"max_linear_acc", float(limits[2])}, {"max_angular_acc", float(limits[3])}});
  return c;
}
json Command(uint64_t sequence_num, json joint, json cartesian = Cartesian(),
             json multi = json::array(), json positions = json::array()) {
  json command = {{"sequence_num", sequence_num}, {"joint", joint}, {"cartesian", cartesian}};
  command.update({{"cartesian_multi", multi}, {"joint_multi_positions", positions}});
  command["applied"] = true;
  return command;
}

// Every field of every command as the controller receives it; after each
// switch the series starts again at 1.
TEST_F(RobotMotionTest, CommandsOnTheWireAndTheirSequenceNumbers) {
  Robot& r = robot();
  const V q = {0.1, -0.6, 0.05, 1.5, -0.2, 0.75, 1.0 / 7};
  const V qd = {0.01, 0.02, -0.03, 0.04, 0.05, -0.06, 0.07};
  const V qdd = {1.1, 2.2, 3.3, 4.4, 5.5, 6.6, 7.7};
  const V amax = {2, 3, 4, 5, 6, 7, 8.125};
  const std::array<double, 7> pose = {0.31, -0.12, 0.55, 0.0, 0.70710678, 0.70710678, 0.0};
  const A6 wrench = {0.1, 0.2, -3.3, 0.01, 0.02, 0.03}, twist = {0.05, 0, 0, 0, 0, 0.1};
  const std::vector<NrtCartesianCmd> waypoints = {Waypoint(0.5), Waypoint(0.55)};
  const json none = Joint({}, {}, {}, {}, {}, {});
  const json single = Cartesian(pose, wrench, twist, {}, {0.25, 0.5, 1.0 / 3, 2.0});
  json multi = json::array();
  for (const auto& w : waypoints) {
    multi.push_back(Cartesian(w.pose, w.wrench, w.velocity, {}, {0.5, 1, 2, 3}));
  }
  const auto send_single = [&] {
    r.SendCartesianMotionForce(pose, wrench, twist, 0.25, 0.5, 1.0 / 3, 2.0);
  };
  const struct {
    Mode mode;
    std::function<void()> send;
    std::vector<json> expected;
  } cases[] = {// The two switches are inverted on the wire; streamed positions come
               // with DoF zero torques; a target has neither torques nor
               // accelerations; single and multi-waypoint commands share one series,
               // and a single command after the waypoints empties their lists.
               // clang-format off
      {Mode::RT_JOINT_TORQUE, [&] { r.StreamJointTorque(qdd, true, false, 12.3); },
       {Command(1, Joint(qdd, {}, {}, {}, {}, {}, 12.3f, false, true))}},
      {Mode::RT_JOINT_POSITION, [&] { r.StreamJointPosition(q, qd, qdd); },
       {Command(1, Joint(V(7, 0.0), q, qd, qdd, {}, {}))}},
      {Mode::NRT_JOINT_POSITION, [&] { r.SendJointPosition(q, qd, qdd, amax); },
       {Command(1, Joint({}, q, qd, {}, qdd, amax))}},
      {Mode::NRT_SUPER_PRIMITIVE, [&] { send_single(); r.SendMultiCartesianMotionForce(waypoints,
       {kHome, q}); send_single(); },
       {Command(1, none, single), Command(2, none, Cartesian(), multi, json({AsFloats(kHome),
        AsFloats(q)})), Command(3, none, single)}}};
  // clang-format on
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

}  // namespace
}  // namespace quiral::vek
