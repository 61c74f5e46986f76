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
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/vek/robot_command_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string P(const std::string& operation) { return "[quiral::vek::Robot::" + operation + "]"; }
std::string ModeText(const std::string& operation) {
  return P(operation) + " Robot is not in an applicable control mode";
}
std::string SizeText(const std::string& operation, const std::string& argument) {
  return P(operation) + " Size of input vector [" + argument + "] does not match robot DoF";
}
std::string RangeText(const std::string& operation, const std::string& argument) {
  return P(operation) + " Input parameter [" + argument +
         "] contains value outside the valid range";
}
std::string ScalarRangeText(const std::string& operation, const std::string& argument) {
  return P(operation) + " Input parameter [" + argument + "] is outside the valid range";
}

double Up(double x) { return std::nextafter(x, kInf); }
double Down(double x) { return std::nextafter(x, -kInf); }

std::vector<double> With(std::vector<double> v, std::size_t i, double x) {
  v[i] = x;
  return v;
}
template <std::size_t N>
std::array<double, N> With(std::array<double, N> v, std::size_t i, double x) {
  v[i] = x;
  return v;
}

const std::array<double, 7> kFrame = {0.01, -0.02, 0.1, 0.9238795, 0.0, 0.3826834, 0.0};

class RobotSettingsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { env_ = new SimRobot(); }
  static void TearDownTestSuite() {
    delete env_;
    env_ = nullptr;
  }
  // Every case starts from a ready robot in IDLE, its counter at 0.
  void SetUp() override { env_->Fresh(); }

  template <typename E>
  void Refused(const std::function<void()>& call, const std::string& text) {
    const size_t before = env_->OpsTotal();
    EXPECT_TRUE(Throws<E>(call, text));
    EXPECT_EQ(env_->OpsTotal(), before) << text;
  }

  // Runs `call` and returns the one request it sent, which must have
  // procedure `id`.
  json SentBy(int id, const std::function<void()>& call) {
    const size_t before = env_->OpsTotal();
    EXPECT_NO_THROW(call());
    json request = env_->OnlyRequestSince(before);
    EXPECT_EQ(request["procedure_id"], id);
    return request;
  }
  static std::vector<float> Floats(const json& request) {
    return request["float_args"].get<std::vector<float>>();
  }

  void FailsOnce(int id, const std::function<void()>& call, const std::string& operation) {
    env_->sim.Fault(env_->serial, {{"procedure_id", id}, {"kind", "fail"}, {"count", 1}});
    const size_t before = env_->OpsTotal();
    EXPECT_TRUE(Throws<std::runtime_error>(call, P(operation) + " Failed to deliver the request"));
    const std::vector<json> sent = env_->OpsSince(before);
    ASSERT_EQ(sent.size(), 1u) << operation;
    EXPECT_EQ(sent[0]["procedure_id"], id);
  }

  static SimRobot* env_;
};

SimRobot* RobotSettingsTest::env_ = nullptr;

const std::vector<Mode> kJointModes = {Mode::RT_JOINT_IMPEDANCE, Mode::NRT_JOINT_IMPEDANCE};
const std::vector<Mode> kCartesianModes = {
    Mode::RT_CARTESIAN_MOTION_FORCE, Mode::NRT_CARTESIAN_MOTION_FORCE, Mode::NRT_SUPER_PRIMITIVE};

TEST_F(RobotSettingsTest, ModeBeforeArgumentsWithoutGateAndNothingSent) {
  Robot& robot = *env_->robot;
  struct Case {
    std::string name;
    std::vector<Mode> modes;
    std::function<void()> call;
    std::string argument_error;
  };
  const std::vector<double> six(6, 0.5);
  const std::vector<Case> cases = {
      {"SetJointImpedance", kJointModes, [&] { robot.SetJointImpedance(six, {}); },
       SizeText("SetJointImpedance", "K_q")},
      {"SetMaxContactTorque", kJointModes, [&] { robot.SetMaxContactTorque(six); },
       SizeText("SetMaxContactTorque", "max_torques")},
      {"SetJointInertiaScale", kJointModes,
       [&] { robot.SetJointInertiaScale(std::vector<double>(8, 1.0)); },
       SizeText("SetJointInertiaScale", "inertia_scales")},
      {"SetCartesianImpedance", kCartesianModes,
       [&] {
         robot.SetCartesianImpedance({-1, 0, 0, 0, 0, 0}, {0.5, 0.5, 0.5, 0.5, 0.5, 0.5});
       },
       RangeText("SetCartesianImpedance", "K_x")},
      {"SetMaxContactWrench", kCartesianModes,
       [&] {
         robot.SetMaxContactWrench({0, 0, -1, 0, 0, 0});
       },
       P("SetMaxContactWrench") + " Input parameter [max_wrench] contains negative value"},
      {"SetNullSpacePosture", kCartesianModes, [&] { robot.SetNullSpacePosture(six); },
       SizeText("SetNullSpacePosture", "ref_positions")},
      {"SetNullSpaceObjectives", kCartesianModes, [&] { robot.SetNullSpaceObjectives(2, 0, 0); },
       ScalarRangeText("SetNullSpaceObjectives", "linear_manipulability")},
      {"SetForceControlAxis", kCartesianModes,
       [&] {
         robot.SetForceControlAxis({true, true, true, true, true, true}, {0.004, 1, 1});
       },
       RangeText("SetForceControlAxis", "max_linear_vel")},
      {"SetForceControlFrame", kCartesianModes,
       [&] { robot.SetForceControlFrame(static_cast<CoordType>(2), kFrame); },
       P("SetForceControlFrame") + " Input parameter [root_coord] is invalid"},
  };
  for (int raw = 0; raw <= 12; ++raw) {
    const auto mode = static_cast<Mode>(raw);
    // Settings have no operational gate.
    if (raw % 2 == 0) {
      env_->NotEnabled(mode);
    } else {
      env_->Ready(mode);
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + " in mode " + std::to_string(raw));
      if (std::find(c.modes.begin(), c.modes.end(), mode) != c.modes.end()) {
        Refused<std::invalid_argument>(c.call, c.argument_error);
      } else {
        Refused<std::logic_error>(c.call, ModeText(c.name));
      }
    }
    if (mode != Mode::IDLE) {
      Refused<std::logic_error>([&] { robot.SetPassiveForceControl(true); },
                                P("SetPassiveForceControl") + " Robot is not in IDLE mode");
    }
    // Digital outputs have no mode.
    Refused<std::invalid_argument>(
        [&] {
          robot.SetDigitalOutputs({{3, true}, {18, false}});
        },
        P("SetDigitalOutputs") + " Input map contains port index outside the valid range");
  }
}

TEST_F(RobotSettingsTest, JointSettingsRangeEdgesAndArguments) {
  Robot& robot = *env_->robot;
  const RobotInfo info = robot.info();
  ASSERT_EQ(info.K_q_max, (std::vector<double>{6000, 6000, 4200, 4200, 1500, 1500, 1500}));
  env_->Switch(Mode::NRT_JOINT_IMPEDANCE);

  // Stiffness up to each joint's own limit; the default damping is 0.7.
  const std::string ji = "SetJointImpedance";
  json request = SentBy(71, [&] { robot.SetJointImpedance(info.K_q_max, {}); });
  std::vector<float> expected = AsFloats(info.K_q_max);
  expected.insert(expected.end(), 7, 0.7f);
  EXPECT_EQ(Floats(request), expected);
  EXPECT_TRUE(request["int_args"].empty());
  EXPECT_TRUE(request["string_args"].empty());
  EXPECT_EQ(request["long_string"], "");
  const std::vector<double> k = {100, 2000.5, 0, 4200, 1e-3, 1499.99, 3};
  const std::vector<double> z = {0.3, 0.8, 0.5, 0.55, 0.7, 0.333, 0.8};
  request = SentBy(71, [&] { robot.SetJointImpedance(k, z); });
  expected = AsFloats(k);
  for (double d : z) expected.push_back(static_cast<float>(d));
  EXPECT_EQ(Floats(request), expected);
  EXPECT_EQ(env_->sim.State(env_->serial)["settings"]["71"].get<std::vector<float>>(), expected);

  Refused<std::invalid_argument>(
      [&] { robot.SetJointImpedance(std::vector<double>(6, 1), std::vector<double>(6, 0.5)); },
      SizeText(ji, "K_q"));
  Refused<std::invalid_argument>([&] { robot.SetJointImpedance(k, std::vector<double>(8, 0.5)); },
                                 SizeText(ji, "Z_q"));
  for (size_t i = 0; i < 7; ++i) {
    for (const double bad : {Up(info.K_q_max[i]), -1.0, kNaN, kInf}) {
      Refused<std::invalid_argument>([&] { robot.SetJointImpedance(With(k, i, bad), z); },
                                     RangeText(ji, "K_q"));
    }
  }
  for (const double bad : {0.29, Down(0.3), 0.81, Up(0.8), kNaN}) {
    Refused<std::invalid_argument>([&] { robot.SetJointImpedance(k, With(z, 4, bad)); },
                                   RangeText(ji, "Z_q"));
  }
  // Joint by joint: joint 1's damping comes before joint 3's stiffness.
  Refused<std::invalid_argument>(
      [&] { robot.SetJointImpedance(With(k, 3, 1e9), With(With(z, 3, 0.1), 1, 0.9)); },
      RangeText(ji, "Z_q"));
  Refused<std::invalid_argument>([&] { robot.SetJointImpedance(With(k, 1, 1e9), With(z, 1, 0.9)); },
                                 RangeText(ji, "K_q"));

  // Contact torques up to each joint's torque limit.
  const std::string ct = "SetMaxContactTorque";
  ASSERT_EQ(info.tau_max, (std::vector<double>{123, 123, 64, 64, 39, 39, 39}));
  request = SentBy(76, [&] { robot.SetMaxContactTorque(info.tau_max); });
  EXPECT_EQ(Floats(request), AsFloats(info.tau_max));
  request = SentBy(76, [&] { robot.SetMaxContactTorque(std::vector<double>(7, 0.0)); });
  EXPECT_EQ(Floats(request), std::vector<float>(7, 0.0f));
  Refused<std::invalid_argument>([&] { robot.SetMaxContactTorque(std::vector<double>(8, 1)); },
                                 SizeText(ct, "max_torques"));
  for (size_t i : {0u, 2u, 6u}) {
    for (const double bad : {Up(info.tau_max[i]), -0.001, kNaN, kInf}) {
      Refused<std::invalid_argument>([&] { robot.SetMaxContactTorque(With(info.tau_max, i, bad)); },
                                     RangeText(ct, "max_torques"));
    }
  }

  // Inertia scales from 0.75 to 1.
  const std::string is = "SetJointInertiaScale";
  const std::vector<double> scales = {0.75, 1.0, 0.8, 0.9, 0.95, 0.99, 0.7501};
  request = SentBy(75, [&] { robot.SetJointInertiaScale(scales); });
  EXPECT_EQ(Floats(request), AsFloats(scales));
  Refused<std::invalid_argument>([&] { robot.SetJointInertiaScale(std::vector<double>(6, 1)); },
                                 SizeText(is, "inertia_scales"));
  for (const double bad : {0.7, Down(0.75), 1.01, Up(1.0), kNaN, -kInf}) {
    Refused<std::invalid_argument>([&] { robot.SetJointInertiaScale(With(scales, 5, bad)); },
                                   RangeText(is, "inertia_scales"));
  }

  // The same in the real-time joint impedance mode.
  env_->Switch(Mode::RT_JOINT_IMPEDANCE);
  SentBy(71, [&] { robot.SetJointImpedance(k, {}); });
  SentBy(75, [&] { robot.SetJointInertiaScale(scales); });

  FailsOnce(
      71, [&] { robot.SetJointImpedance(k, z); }, "SetJointImpedance");
  FailsOnce(
      76, [&] { robot.SetMaxContactTorque(info.tau_max); }, "SetMaxContactTorque");
  FailsOnce(
      75, [&] { robot.SetJointInertiaScale(scales); }, "SetJointInertiaScale");
  env_->Switch(Mode::IDLE);
}

TEST_F(RobotSettingsTest, CartesianSettingsRangeEdgesAndArguments) {
  Robot& robot = *env_->robot;
  const RobotInfo info = robot.info();
  env_->Switch(Mode::NRT_CARTESIAN_MOTION_FORCE);

  // Cartesian impedance: stiffness up to the model's limits, damping 0.3 to 0.8.
  const std::string ci = "SetCartesianImpedance";
  const std::array<double, 6> kx = {10000, 10000, 10000, 1500, 1500, 1500};
  ASSERT_EQ(info.K_x_max, kx);
  const std::array<double, 6> zx = {0.3, 0.8, 0.5, 0.45, 0.7, 0.3333};
  json request = SentBy(70, [&] { robot.SetCartesianImpedance(kx, zx); });
  std::vector<float> expected = AsFloats(kx);
  for (double d : zx) expected.push_back(static_cast<float>(d));
  EXPECT_EQ(Floats(request), expected);
  for (size_t i = 0; i < 6; ++i) {
    for (const double bad : {Up(kx[i]), -0.5, kNaN, kInf}) {
      Refused<std::invalid_argument>([&] { robot.SetCartesianImpedance(With(kx, i, bad), zx); },
                                     RangeText(ci, "K_x"));
    }
    for (const double bad : {0.29, 0.81, kNaN}) {
      Refused<std::invalid_argument>([&] { robot.SetCartesianImpedance(kx, With(zx, i, bad)); },
                                     RangeText(ci, "Z_x"));
    }
  }
  Refused<std::invalid_argument>(
      [&] { robot.SetCartesianImpedance(With(kx, 4, 1e9), With(zx, 1, 0.9)); },
      RangeText(ci, "Z_x"));

  // Contact wrench: no upper limit, but a number.
  const std::string cw = "SetMaxContactWrench";
  request = SentBy(72, [&] { robot.SetMaxContactWrench({0, 0, 0, 0, 0, 0}); });
  EXPECT_EQ(Floats(request), std::vector<float>(6, 0.0f));
  const std::array<double, 6> big = {1e6, 2e6, 3.5, 0.1, 1e30, 7};
  request = SentBy(72, [&] { robot.SetMaxContactWrench(big); });
  EXPECT_EQ(Floats(request), AsFloats(big));
  for (size_t i = 0; i < 6; ++i) {
    Refused<std::invalid_argument>([&] { robot.SetMaxContactWrench(With(big, i, -0.001)); },
                                   P(cw) + " Input parameter [max_wrench] contains negative value");
  }
  Refused<std::invalid_argument>(
      [&] { robot.SetMaxContactWrench(With(big, 2, kNaN)); },
      P(cw) + " Input parameter [max_wrench] contains a non-finite value");
  Refused<std::invalid_argument>(
      [&] { robot.SetMaxContactWrench(With(big, 5, kInf)); },
      P(cw) + " Input parameter [max_wrench] contains a non-finite value");
  Refused<std::invalid_argument>(
      [&] { robot.SetMaxContactWrench(With(big, 0, 1e39)); },
      P(cw) + " Input parameter [max_wrench] contains a value outside the 32-bit float range");
  // A negative value is reported before a non-finite one.
  Refused<std::invalid_argument>(
      [&] { robot.SetMaxContactWrench(With(With(big, 0, kNaN), 4, -1.0)); },
      P(cw) + " Input parameter [max_wrench] contains negative value");

  // Null-space posture within the joint limits, both ends included.
  const std::string np = "SetNullSpacePosture";
  request = SentBy(73, [&] { robot.SetNullSpacePosture(info.q_min); });
  EXPECT_EQ(Floats(request), AsFloats(info.q_min));
  request = SentBy(73, [&] { robot.SetNullSpacePosture(info.q_max); });
  EXPECT_EQ(Floats(request), AsFloats(info.q_max));
  Refused<std::invalid_argument>([&] { robot.SetNullSpacePosture(std::vector<double>(6, 0)); },
                                 SizeText(np, "ref_positions"));
  for (size_t i = 0; i < 7; ++i) {
    for (const double bad : {Up(info.q_max[i]), Down(info.q_min[i]), kNaN}) {
      Refused<std::invalid_argument>([&] { robot.SetNullSpacePosture(With(info.q_max, i, bad)); },
                                     RangeText(np, "ref_positions"));
    }
  }

  // Null-space objectives, checked in argument order.
  const std::string no = "SetNullSpaceObjectives";
  request = SentBy(74, [&] { robot.SetNullSpaceObjectives(0, 0, 0.1); });
  EXPECT_EQ(Floats(request), (std::vector<float>{0.0f, 0.0f, 0.1f}));
  request = SentBy(74, [&] { robot.SetNullSpaceObjectives(1, 0.123456789, 1); });
  EXPECT_EQ(Floats(request), (std::vector<float>{1.0f, static_cast<float>(0.123456789), 1.0f}));
  Refused<std::invalid_argument>([&] { robot.SetNullSpaceObjectives(-0.01, 2, 0); },
                                 ScalarRangeText(no, "linear_manipulability"));
  Refused<std::invalid_argument>([&] { robot.SetNullSpaceObjectives(kNaN, 0, 0.5); },
                                 ScalarRangeText(no, "linear_manipulability"));
  Refused<std::invalid_argument>([&] { robot.SetNullSpaceObjectives(1, 1.01, 0); },
                                 ScalarRangeText(no, "angular_manipulability"));
  Refused<std::invalid_argument>([&] { robot.SetNullSpaceObjectives(1, kNaN, 0.5); },
                                 ScalarRangeText(no, "angular_manipulability"));
  for (const double bad : {0.0, Down(0.1), Up(1.0), kNaN, kInf}) {
    Refused<std::invalid_argument>([&] { robot.SetNullSpaceObjectives(0.5, 0.5, bad); },
                                   ScalarRangeText(no, "ref_positions_tracking"));
  }

  // Force-control axes: six flags as ints, three velocity limits.
  const std::string fa = "SetForceControlAxis";
  request = SentBy(80, [&] {
    robot.SetForceControlAxis({true, false, true, false, false, true}, {0.005, 2.0, 0.1});
  });
  EXPECT_EQ(request["int_args"], json::array({1, 0, 1, 0, 0, 1}));
  EXPECT_EQ(Floats(request), (std::vector<float>{0.005f, 2.0f, 0.1f}));
  for (size_t i = 0; i < 3; ++i) {
    for (const double bad : {0.004, Down(0.005), Up(2.0), kNaN}) {
      std::array<double, 3> v = {0.1, 0.1, 0.1};
      v[i] = bad;
      Refused<std::invalid_argument>([&] { robot.SetForceControlAxis({}, v); },
                                     RangeText(fa, "max_linear_vel"));
    }
  }

  // Force-control frame: the root as text, the pose unchecked but finite.
  const std::string ff = "SetForceControlFrame";
  request = SentBy(81, [&] { robot.SetForceControlFrame(CoordType::WORLD, kFrame); });
  EXPECT_EQ(request["string_args"], json::array({"WORLD"}));
  EXPECT_EQ(Floats(request), AsFloats(kFrame));
  EXPECT_TRUE(request["int_args"].empty());
  const std::array<double, 7> unnormalised = {1, 2, 3, 0, 0, 0, 0};
  request = SentBy(81, [&] { robot.SetForceControlFrame(CoordType::TCP, unnormalised); });
  EXPECT_EQ(request["string_args"], json::array({"TCP"}));
  EXPECT_EQ(Floats(request), AsFloats(unnormalised));
  for (const int bad : {2, -1, 1000}) {
    Refused<std::invalid_argument>(
        [&] { robot.SetForceControlFrame(static_cast<CoordType>(bad), kFrame); },
        P(ff) + " Input parameter [root_coord] is invalid");
  }
  Refused<std::invalid_argument>(
      [&] { robot.SetForceControlFrame(CoordType::TCP, With(kFrame, 3, kNaN)); },
      P(ff) + " Input parameter [T_in_root] contains a non-finite value");
  Refused<std::invalid_argument>(
      [&] { robot.SetForceControlFrame(CoordType::WORLD, With(kFrame, 0, -kInf)); },
      P(ff) + " Input parameter [T_in_root] contains a non-finite value");
  // The root is checked before the pose.
  Refused<std::invalid_argument>(
      [&] { robot.SetForceControlFrame(static_cast<CoordType>(2), With(kFrame, 3, kNaN)); },
      P(ff) + " Input parameter [root_coord] is invalid");

  // The other Cartesian modes take the settings too.
  env_->Switch(Mode::NRT_SUPER_PRIMITIVE);
  SentBy(74, [&] { robot.SetNullSpaceObjectives(0.5, 0.5, 0.5); });
  env_->Switch(Mode::RT_CARTESIAN_MOTION_FORCE);
  SentBy(70, [&] { robot.SetCartesianImpedance(kx, zx); });

  FailsOnce(
      70, [&] { robot.SetCartesianImpedance(kx, zx); }, "SetCartesianImpedance");
  FailsOnce(
      72, [&] { robot.SetMaxContactWrench(big); }, "SetMaxContactWrench");
  FailsOnce(
      73, [&] { robot.SetNullSpacePosture(info.q_max); }, "SetNullSpacePosture");
  FailsOnce(
      74, [&] { robot.SetNullSpaceObjectives(0, 0, 0.1); }, "SetNullSpaceObjectives");
  FailsOnce(
      80,
      [&] {
        robot.SetForceControlAxis({}, {1, 1, 1});
      },
      "SetForceControlAxis");
  FailsOnce(
      81, [&] { robot.SetForceControlFrame(CoordType::TCP, kFrame); }, "SetForceControlFrame");
  env_->Switch(Mode::IDLE);
}

TEST_F(RobotSettingsTest, PassiveForceControlAndDigitalOutputs) {
  Robot& robot = *env_->robot;
  env_->Ready(Mode::IDLE);
  json request = SentBy(82, [&] { robot.SetPassiveForceControl(true); });
  EXPECT_EQ(request["int_args"], json::array({1}));
  EXPECT_TRUE(request["float_args"].empty());
  EXPECT_TRUE(env_->sim.State(env_->serial)["passive_force_control"].get<bool>());
  request = SentBy(82, [&] { robot.SetPassiveForceControl(false); });
  EXPECT_EQ(request["int_args"], json::array({0}));
  EXPECT_FALSE(env_->sim.State(env_->serial)["passive_force_control"].get<bool>());
  FailsOnce(
      82, [&] { robot.SetPassiveForceControl(true); }, "SetPassiveForceControl");

  // 18 slots: 1 or 0 for the ports given, -1 for the others; in any mode
  // and state.
  env_->NotEnabled(Mode::RT_JOINT_POSITION);
  request = SentBy(8, [&] { robot.SetDigitalOutputs({{17, false}, {0, true}}); });
  std::vector<int> slots(18, -1);
  slots[0] = 1;
  slots[17] = 0;
  EXPECT_EQ(request["int_args"].get<std::vector<int>>(), slots);
  EXPECT_TRUE(request["float_args"].empty());
  std::vector<int> outputs =
      env_->sim.State(env_->serial)["digital_outputs"].get<std::vector<int>>();
  EXPECT_EQ(outputs[0], 1);
  EXPECT_EQ(outputs[17], 0);
  request = SentBy(8, [&] { robot.SetDigitalOutputs({}); });
  EXPECT_EQ(request["int_args"].get<std::vector<int>>(), std::vector<int>(18, -1));
  env_->Ready(Mode::NRT_PLAN_EXECUTION);
  request = SentBy(8, [&] {
    robot.SetDigitalOutputs({{5, true}, {3, true}, {4, false}, {0, false}});
  });
  slots.assign(18, -1);
  slots[0] = 0;
  slots[3] = 1;
  slots[4] = 0;
  slots[5] = 1;
  EXPECT_EQ(request["int_args"].get<std::vector<int>>(), slots);
  outputs = env_->sim.State(env_->serial)["digital_outputs"].get<std::vector<int>>();
  EXPECT_EQ(outputs[0], 0);
  EXPECT_EQ(outputs[3], 1);
  EXPECT_EQ(outputs[17], 0) << "a port left out keeps its output";
  for (const unsigned int bad : {18u, 100u, 4294967295u}) {
    Refused<std::invalid_argument>(
        [&] {
          robot.SetDigitalOutputs({{0, true}, {bad, true}});
        },
        P("SetDigitalOutputs") + " Input map contains port index outside the valid range");
  }
  FailsOnce(
      8,
      [&] {
        robot.SetDigitalOutputs({{1, true}});
      },
      "SetDigitalOutputs");
}

// A robot with two external axes: their stiffness has no upper limit but
// must stay a finite 32-bit float; and limit tables that fall short of the
// joints refuse the joints they do not cover rather than read past their
// end.
TEST(RobotSettingsLimitsTest, ExternalAxesAndShortLimitTables) {
  SimRobot env({"--initial-state", "ready", "--dof-e", "2"});
  Robot& robot = *env.robot;
  Robot::Impl& impl = env.impl();
  ASSERT_EQ(impl.info.DoF, 9u);
  const std::vector<double> k_max = impl.info.K_q_max;
  ASSERT_EQ(k_max.size(), 9u);
  EXPECT_EQ(k_max[0], kInf);
  EXPECT_EQ(k_max[1], kInf);
  EXPECT_EQ(k_max[2], 6000.0);
  EXPECT_EQ(k_max[8], 1500.0);

  env.Ready(Mode::RT_JOINT_IMPEDANCE);
  std::vector<double> k(9, 100.0);
  k[0] = 1e9;
  k[1] = 3.4e38;
  auto Sent = [&](const std::function<void()>& call) {
    const size_t before = env.OpsTotal();
    call();
    return env.OnlyRequestSince(before);
  };
  json request = Sent([&] { robot.SetJointImpedance(k, {}); });
  std::vector<float> expected = AsFloats(k);
  expected.insert(expected.end(), 9, 0.7f);
  EXPECT_EQ(request["float_args"].get<std::vector<float>>(), expected);
  struct Bad {
    double value;
    std::string text;
  };
  for (const Bad& bad :
       {Bad{kInf, P("SetJointImpedance") + " Input parameter [K_q] contains a non-finite value"},
        Bad{1e39, P("SetJointImpedance") +
                      " Input parameter [K_q] contains a value outside the 32-bit float range"},
        Bad{kNaN, RangeText("SetJointImpedance", "K_q")},
        Bad{-1.0, RangeText("SetJointImpedance", "K_q")}}) {
    const size_t before = env.OpsTotal();
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { robot.SetJointImpedance(With(k, 1, bad.value), {}); }, bad.text));
    EXPECT_EQ(env.OpsTotal(), before);
  }

  // Tables shorter than the joints: the uncovered joints take no value.
  impl.info.K_q_max.resize(5);
  impl.info.tau_max.resize(3);
  impl.info.q_min.resize(8);
  const size_t before = env.OpsTotal();
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] { robot.SetJointImpedance(std::vector<double>(9, 1.0), {}); },
      RangeText("SetJointImpedance", "K_q")));
  EXPECT_TRUE(
      Throws<std::invalid_argument>([&] { robot.SetMaxContactTorque(std::vector<double>(9, 1.0)); },
                                    RangeText("SetMaxContactTorque", "max_torques")));
  env.Ready(Mode::NRT_CARTESIAN_MOTION_FORCE);
  EXPECT_TRUE(
      Throws<std::invalid_argument>([&] { robot.SetNullSpacePosture(std::vector<double>(9, 0.0)); },
                                    RangeText("SetNullSpacePosture", "ref_positions")));
  EXPECT_EQ(env.OpsTotal(), before);
}

}  // namespace
}  // namespace quiral::vek
