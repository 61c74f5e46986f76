// Impedance, force-control and I/O settings of a Robot against the
// simulated controller: the mode check before the arguments with nothing
// sent when one fails, the range edges of every setting, the exact
// arguments the controller receives, and limit tables that do not cover
// every joint.
#include <gtest/gtest.h>

#include <algorithm>
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
const std::array<double, 7> kFrame = {0.01, -0.02, 0.1, 0.9238795, 0.0, 0.3826834, 0.0};
const std::vector<Mode> kJointModes = {Mode::RT_JOINT_IMPEDANCE, Mode::NRT_JOINT_IMPEDANCE};
const std::vector<Mode> kCartesianModes = {
    Mode::RT_CARTESIAN_MOTION_FORCE, Mode::NRT_CARTESIAN_MOTION_FORCE, Mode::NRT_SUPER_PRIMITIVE};

std::string SizeText(const std::string& operation, const std::string& argument) {
  return P(operation) + " Size of input vector [" + argument + "] does not match robot DoF";
}
std::string RangeText(const std::string& operation, const std::string& argument) {
  return P(operation) + " Input parameter [" + argument +
         "] contains value outside the valid range";
}
std::string ScalarRangeText(const std::string& argument) {
  return P("SetNullSpaceObjectives") + " Input parameter [" + argument +
         "] is outside the valid range";
}
double Up(double x) { return std::nextafter(x, kInf); }
double Down(double x) { return std::nextafter(x, -kInf); }
template <class C>
C With(C v, std::size_t i, double x) {
  v[i] = x;
  return v;
}

using Rows = std::vector<std::pair<std::function<void()>, std::string>>;

class RobotSettingsTest : public RobotTest {
 protected:
  void Refused(const std::function<void()>& call, const std::string& text) {
    env_->Refused<std::invalid_argument>(call, text);
  }
};

TEST_F(RobotSettingsTest, ModeBeforeArgumentsWithoutGateAndNothingSent) {
  Robot& robot = this->robot();
  const std::vector<double> six(6, 0.5);
  const struct {
    std::string name;
    std::vector<Mode> modes;
    std::function<void()> call;
    std::string argument_error;
  } cases[] = {
      {"SetJointImpedance", kJointModes, [&] { robot.SetJointImpedance(six, {}); },
       SizeText("SetJointImpedance", "K_q")},
      {"SetMaxContactTorque", kJointModes, [&] { robot.SetMaxContactTorque(six); },
       SizeText("SetMaxContactTorque", "max_torques")},
      {"SetJointInertiaScale", kJointModes, [&] { robot.SetJointInertiaScale(six); },
       SizeText("SetJointInertiaScale", "inertia_scales")},
      {"SetCartesianImpedance", kCartesianModes,
       [&] {
         robot.SetCartesianImpedance({-1}, {0.5, 0.5, 0.5, 0.5, 0.5, 0.5});
       },
       RangeText("SetCartesianImpedance", "K_x")},
      {"SetMaxContactWrench", kCartesianModes,
       [&] {
         robot.SetMaxContactWrench({0, 0, -1});
       },
       P("SetMaxContactWrench") + " Input parameter [max_wrench] contains negative value"},
      {"SetNullSpacePosture", kCartesianModes, [&] { robot.SetNullSpacePosture(six); },
       SizeText("SetNullSpacePosture", "ref_positions")},
      {"SetNullSpaceObjectives", kCartesianModes, [&] { robot.SetNullSpaceObjectives(2, 0, 0); },
       ScalarRangeText("linear_manipulability")},
      {"SetForceControlAxis", kCartesianModes,
       [&] {
         robot.SetForceControlAxis({}, {0.004, 1, 1});
       },
       RangeText("SetForceControlAxis", "max_linear_vel")},
      {"SetForceControlFrame", kCartesianModes,
       [&] { robot.SetForceControlFrame(static_cast<CoordType>(2), kFrame); },
       P("SetForceControlFrame") + " Input parameter [root_coord] is invalid"}};
  for (int raw = 0; raw <= 12; ++raw) {
    // Settings have no operational gate.
    const auto mode = static_cast<Mode>(raw);
    env_->Put(raw % 2 == 0 ? 72 : 12, 4, mode);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name + " in mode " + std::to_string(raw));
      if (std::find(c.modes.begin(), c.modes.end(), mode) != c.modes.end()) {
        Refused(c.call, c.argument_error);
      } else {
        env_->Refused<std::logic_error>(c.call,
                                        P(c.name) + " Robot is not in an applicable control mode");
      }
    }
    if (mode != Mode::IDLE) {
      env_->Refused<std::logic_error>([&] { robot.SetPassiveForceControl(true); },
                                      P("SetPassiveForceControl") + " Robot is not in IDLE mode");
    }
    // Digital outputs have no mode.
    Refused(
        [&] {
          robot.SetDigitalOutputs({{3, true}, {18, false}});
        },
        P("SetDigitalOutputs") + " Input map contains port index outside the valid range");
  }
}

// Every setting at the ends of its ranges, and what the controller
// receives; the damping defaults to 0.7.
TEST_F(RobotSettingsTest, RangeEndsOnTheWire) {
  Robot& robot = this->robot();
  const RobotInfo info = robot.info();
  const std::vector<double> k = {100, 2000.5, 0, 4200, 1e-3, 1499.99, 3};
  const std::vector<double> z = {0.3, 0.8, 0.5, 0.55, 0.7, 0.333, 0.8};
  const std::vector<double> scales = {0.75, 1.0, 0.8, 0.9, 0.95, 0.99, 0.7501};
  const std::array<double, 6> zx = {0.3, 0.8, 0.5, 0.45, 0.7, 0.3333};
  const std::array<double, 6> big = {1e6, 2e6, 3.5, 0.1, 1e30, 0};
  auto concat = [](std::vector<double> a, const std::vector<double>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const struct {
    Mode mode;
    int id;
    std::function<void()> call;
    std::vector<double> floats;
  } cases[] = {
      {Mode::NRT_JOINT_IMPEDANCE, 71, [&] { robot.SetJointImpedance(info.K_q_max, {}); },
       concat(info.K_q_max, std::vector<double>(7, 0.7))},
      {Mode::NRT_JOINT_IMPEDANCE, 71, [&] { robot.SetJointImpedance(k, z); }, concat(k, z)},
      {Mode::NRT_JOINT_IMPEDANCE, 76, [&] { robot.SetMaxContactTorque(info.tau_max); },
       info.tau_max},
      {Mode::RT_JOINT_IMPEDANCE, 75, [&] { robot.SetJointInertiaScale(scales); }, scales},
      {Mode::RT_CARTESIAN_MOTION_FORCE, 70, [&] { robot.SetCartesianImpedance(info.K_x_max, zx); },
       concat({info.K_x_max.begin(), info.K_x_max.end()}, {zx.begin(), zx.end()})},
      {Mode::NRT_CARTESIAN_MOTION_FORCE,
       72,
       [&] { robot.SetMaxContactWrench(big); },
       {big.begin(), big.end()}},
      {Mode::NRT_CARTESIAN_MOTION_FORCE, 73, [&] { robot.SetNullSpacePosture(info.q_min); },
       info.q_min},
      {Mode::NRT_CARTESIAN_MOTION_FORCE, 73, [&] { robot.SetNullSpacePosture(info.q_max); },
       info.q_max},
      {Mode::NRT_SUPER_PRIMITIVE,
       74,
       [&] { robot.SetNullSpaceObjectives(0, 0, 0.1); },
       {0, 0, 0.1}},
      {Mode::NRT_SUPER_PRIMITIVE,
       74,
       [&] { robot.SetNullSpaceObjectives(1, 0.123456789, 1); },
       {1, 0.123456789, 1}},
      {Mode::NRT_CARTESIAN_MOTION_FORCE,
       81,
       [&] {
         robot.SetForceControlFrame(CoordType::TCP, {1, 2, 3, 0, 0, 0, 2});
       },
       {1, 2, 3, 0, 0, 0, 2}}};
  for (const auto& c : cases) {
    if (robot.mode() != c.mode) env_->Ready(c.mode);
    json request;
    EXPECT_NO_THROW(request = env_->SentBy(c.call)) << c.id;
    EXPECT_EQ(request["procedure_id"], c.id);
    EXPECT_EQ(request["float_args"].get<std::vector<float>>(), AsFloats(c.floats)) << c.id;
  }
  EXPECT_EQ(env_->sim.State(env_->serial)["settings"]["71"].get<std::vector<float>>(),
            AsFloats(concat(k, z)));
  // Flags and frame names as they travel.
  json request = env_->SentBy([&] {
    robot.SetForceControlAxis({true, false, true, false, false, true}, {0.005, 2.0, 0.1});
  });
  EXPECT_EQ(request["int_args"], json::array({1, 0, 1, 0, 0, 1}));
  EXPECT_EQ(request["float_args"].get<std::vector<float>>(),
            (std::vector<float>{0.005f, 2.0f, 0.1f}));
  request = env_->SentBy([&] { robot.SetForceControlFrame(CoordType::WORLD, kFrame); });
  EXPECT_EQ(request["string_args"], json::array({"WORLD"}));
  EXPECT_EQ(env_->Requests(0, 81).at(0)["string_args"], json::array({"TCP"}));
}

// One value outside each range (NaN too), the joint limits joint by joint,
// and the order of the checks.
TEST_F(RobotSettingsTest, ValuesOutsideTheRanges) {
  Robot& robot = this->robot();
  const RobotInfo info = robot.info();
  const std::vector<double> k = {100, 2000.5, 0, 4200, 1e-3, 1499.99, 3};
  const std::vector<double> z(7, 0.5), scales(7, 1.0);
  const std::array<double, 6> kx = info.K_x_max, zx = {0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
  const std::array<double, 6> wrench = {};
  const std::string ji = "SetJointImpedance", ci = "SetCartesianImpedance";
  const std::string cw = P("SetMaxContactWrench") + " Input parameter [max_wrench] contains";
  const std::string ff = P("SetForceControlFrame") + " Input parameter";
  Rows joint = {
      {[&] { robot.SetJointImpedance(k, std::vector<double>(8, 0.5)); }, SizeText(ji, "Z_q")},
      {[&] { robot.SetJointImpedance(With(k, 2, kNaN), z); }, RangeText(ji, "K_q")},
      {[&] { robot.SetJointImpedance(k, With(z, 4, Up(0.8))); }, RangeText(ji, "Z_q")},
      {[&] { robot.SetJointImpedance(k, With(z, 4, kNaN)); }, RangeText(ji, "Z_q")},
      // Joint by joint, stiffness before damping.
      {[&] { robot.SetJointImpedance(With(k, 3, 1e9), With(With(z, 3, 0.1), 1, 0.9)); },
       RangeText(ji, "Z_q")},
      {[&] { robot.SetJointImpedance(With(k, 1, 1e9), With(z, 1, 0.9)); }, RangeText(ji, "K_q")},
      {[&] { robot.SetMaxContactTorque(With(info.tau_max, 2, Up(info.tau_max[2]))); },
       RangeText("SetMaxContactTorque", "max_torques")},
      {[&] { robot.SetMaxContactTorque(With(info.tau_max, 2, kNaN)); },
       RangeText("SetMaxContactTorque", "max_torques")},
      {[&] { robot.SetJointInertiaScale(With(scales, 5, kNaN)); },
       RangeText("SetJointInertiaScale", "inertia_scales")}};
  for (size_t i = 0; i < 7; ++i) {
    joint.push_back({[&, i] { robot.SetJointImpedance(With(k, i, Up(info.K_q_max[i])), z); },
                     RangeText(ji, "K_q")});
  }
  const Rows cartesian = {
      {[&] { robot.SetCartesianImpedance(With(kx, 4, Up(kx[4])), zx); }, RangeText(ci, "K_x")},
      {[&] { robot.SetCartesianImpedance(With(kx, 0, kNaN), zx); }, RangeText(ci, "K_x")},
      {[&] { robot.SetCartesianImpedance(kx, With(zx, 5, kNaN)); }, RangeText(ci, "Z_x")},
      {[&] { robot.SetCartesianImpedance(With(kx, 4, 1e9), With(zx, 1, 0.9)); },
       RangeText(ci, "Z_x")},
      // No upper limit, but a finite 32-bit float; negative values first.
      {[&] { robot.SetMaxContactWrench(With(wrench, 3, -0.001)); }, cw + " negative value"},
      {[&] { robot.SetMaxContactWrench(With(wrench, 2, kNaN)); }, cw + " a non-finite value"},
      {[&] { robot.SetMaxContactWrench(With(wrench, 0, 1e39)); },
       cw + " a value outside the 32-bit float range"},
      {[&] { robot.SetMaxContactWrench(With(With(wrench, 0, kNaN), 4, -1.0)); },
       cw + " negative value"},
      {[&] { robot.SetNullSpacePosture(With(info.q_max, 5, Up(info.q_max[5]))); },
       RangeText("SetNullSpacePosture", "ref_positions")},
      {[&] { robot.SetNullSpacePosture(With(info.q_min, 5, kNaN)); },
       RangeText("SetNullSpacePosture", "ref_positions")},
      // In argument order.
      {[&] { robot.SetNullSpaceObjectives(kNaN, 2, 0.5); },
       ScalarRangeText("linear_manipulability")},
      {[&] { robot.SetNullSpaceObjectives(1, kNaN, 0); },
       ScalarRangeText("angular_manipulability")},
      {[&] { robot.SetNullSpaceObjectives(0.5, 0.5, Down(0.1)); },
       ScalarRangeText("ref_positions_tracking")},
      {[&] { robot.SetNullSpaceObjectives(0.5, 0.5, kNaN); },
       ScalarRangeText("ref_positions_tracking")},
      {[&] {
         robot.SetForceControlAxis({}, {0.1, kNaN, 0.1});
       },
       RangeText("SetForceControlAxis", "max_linear_vel")},
      // The root before the pose.
      {[&] { robot.SetForceControlFrame(static_cast<CoordType>(-1), With(kFrame, 3, kNaN)); },
       ff + " [root_coord] is invalid"},
      {[&] { robot.SetForceControlFrame(CoordType::WORLD, With(kFrame, 0, -kInf)); },
       ff + " [T_in_root] contains a non-finite value"}};
  env_->Switch(Mode::NRT_JOINT_IMPEDANCE);
  for (const auto& [call, text] : joint) Refused(call, text);
  env_->Switch(Mode::NRT_CARTESIAN_MOTION_FORCE);
  for (const auto& [call, text] : cartesian) Refused(call, text);
}

TEST_F(RobotSettingsTest, PassiveForceControlDigitalOutputsAndRefusals) {
  Robot& robot = this->robot();
  for (const bool on : {true, false}) {
    const json request = env_->SentBy([&] { robot.SetPassiveForceControl(on); });
    EXPECT_EQ(request["procedure_id"], 82);
    EXPECT_EQ(request["int_args"], json::array({on ? 1 : 0}));
    EXPECT_EQ(env_->sim.State(env_->serial)["passive_force_control"], on);
  }
  // A refused request names its operation and is not repeated.
  env_->FailsOnce(
      82, [&] { robot.SetPassiveForceControl(true); },
      P("SetPassiveForceControl") + " Failed to deliver the request");

  // 18 slots: 1 or 0 for the ports given, -1 for the others; in any mode
  // and state. A port left out keeps its output.
  env_->NotEnabled(Mode::RT_JOINT_POSITION);
  json request = env_->SentBy([&] { robot.SetDigitalOutputs({{17, false}, {0, true}}); });
  std::vector<int> slots(18, -1);
  slots[0] = 1;
  slots[17] = 0;
  EXPECT_EQ(request["int_args"].get<std::vector<int>>(), slots);
  EXPECT_TRUE(request["float_args"].empty());
  env_->SentBy([&] { robot.SetDigitalOutputs({{5, true}, {0, false}}); });
  const auto outputs = env_->sim.State(env_->serial)["digital_outputs"].get<std::vector<int>>();
  EXPECT_EQ(outputs[0] * 100 + outputs[5] * 10 + outputs[17], 10);
  EXPECT_EQ(env_->SentBy([&] { robot.SetDigitalOutputs({}); })["int_args"],
            json(std::vector<int>(18, -1)));
  Refused(
      [&] {
        robot.SetDigitalOutputs({{0, true}, {4294967295u, true}});
      },
      P("SetDigitalOutputs") + " Input map contains port index outside the valid range");

  env_->FailsOnce(
      8,
      [&] {
        robot.SetDigitalOutputs({{1, true}});
      },
      P("SetDigitalOutputs") + " Failed to deliver the request");
  env_->Ready(Mode::NRT_CARTESIAN_MOTION_FORCE);
  env_->FailsOnce(
      81, [&] { robot.SetForceControlFrame(CoordType::TCP, kFrame); },
      P("SetForceControlFrame") + " Failed to deliver the request");
}

// A robot with two external axes: their stiffness has no upper limit but
// must stay a finite 32-bit float; and limit tables that fall short of the
// joints refuse the joints they do not cover rather than read past their
// end.
TEST(RobotSettingsLimitsTest, ExternalAxesAndShortLimitTables) {
  SimRobot env({"--initial-state", "ready", "--dof-e", "2"});
  Robot& robot = *env.robot;
  Robot::Impl& impl = env.impl();
  ASSERT_EQ(impl.info.K_q_max.size(), 9u);
  env.Ready(Mode::RT_JOINT_IMPEDANCE);
  std::vector<double> k(9, 100.0);
  k[0] = 1e9;
  k[1] = 3.4e38;
  std::vector<float> expected = AsFloats(k);
  expected.insert(expected.end(), 9, 0.7f);
  EXPECT_EQ(
      env.SentBy([&] { robot.SetJointImpedance(k, {}); })["float_args"].get<std::vector<float>>(),
      expected);
  const std::string ji = P("SetJointImpedance") + " Input parameter [K_q] contains";
  for (const auto& [bad, text] : std::vector<std::pair<double, std::string>>{
           {kInf, ji + " a non-finite value"},
           {1e39, ji + " a value outside the 32-bit float range"},
           {kNaN, RangeText("SetJointImpedance", "K_q")},
           {-1.0, RangeText("SetJointImpedance", "K_q")}}) {
    env.Refused<std::invalid_argument>([&] { robot.SetJointImpedance(With(k, 1, bad), {}); }, text);
  }

  // Tables shorter than the joints: the uncovered joints take no value.
  impl.info.K_q_max.resize(5);
  impl.info.tau_max.resize(3);
  impl.info.q_min.resize(8);
  env.Refused<std::invalid_argument>(
      [&] { robot.SetJointImpedance(std::vector<double>(9, 1.0), {}); },
      RangeText("SetJointImpedance", "K_q"));
  env.Refused<std::invalid_argument>(
      [&] { robot.SetMaxContactTorque(std::vector<double>(9, 1.0)); },
      RangeText("SetMaxContactTorque", "max_torques"));
  env.Ready(Mode::NRT_CARTESIAN_MOTION_FORCE);
  env.Refused<std::invalid_argument>(
      [&] { robot.SetNullSpacePosture(std::vector<double>(9, 0.0)); },
      RangeText("SetNullSpacePosture", "ref_positions"));
}

}  // namespace
}  // namespace quiral::vek
