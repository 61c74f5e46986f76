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
template <class C>
C With(C v, std::size_t i, double x) {
  v[i] = x;
  return v;
}

class RobotSettingsTest : public RobotTest {
 protected:
  // The float arguments of the one request `call` sends, which must be of
  // procedure `id`.
  std::vector<float> Sent(int id, const std::function<void()>& call) {
    json request;
    EXPECT_NO_THROW(request = env_->SentBy(call));
    EXPECT_EQ(request["procedure_id"], id);
    return request.value("float_args", std::vector<float>{});
  }
  void Refused(const std::function<void()>& call, const std::string& text) {
    env_->Refused<std::invalid_argument>(call, text);
  }
};

const std::vector<Mode> kJointModes = {Mode::RT_JOINT_IMPEDANCE, Mode::NRT_JOINT_IMPEDANCE};
const std::vector<Mode> kCartesianModes = {
    Mode::RT_CARTESIAN_MOTION_FORCE, Mode::NRT_CARTESIAN_MOTION_FORCE, Mode::NRT_SUPER_PRIMITIVE};

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

TEST_F(RobotSettingsTest, JointSettingsRangeEdgesAndArguments) {
  Robot& robot = this->robot();
  const RobotInfo info = robot.info();
  ASSERT_EQ(info.K_q_max, (std::vector<double>{6000, 6000, 4200, 4200, 1500, 1500, 1500}));
  env_->Switch(Mode::NRT_JOINT_IMPEDANCE);

  // Stiffness up to each joint's own limit, damping 0.3 to 0.8 (0.7 when
  // not given), checked joint by joint.
  const std::string ji = "SetJointImpedance";
  std::vector<float> expected = AsFloats(info.K_q_max);
  expected.insert(expected.end(), 7, 0.7f);
  EXPECT_EQ(Sent(71, [&] { robot.SetJointImpedance(info.K_q_max, {}); }), expected);
  const std::vector<double> k = {100, 2000.5, 0, 4200, 1e-3, 1499.99, 3};
  const std::vector<double> z = {0.3, 0.8, 0.5, 0.55, 0.7, 0.333, 0.8};
  expected = AsFloats(k);
  for (double d : z) expected.push_back(static_cast<float>(d));
  EXPECT_EQ(Sent(71, [&] { robot.SetJointImpedance(k, z); }), expected);
  EXPECT_EQ(env_->sim.State(env_->serial)["settings"]["71"].get<std::vector<float>>(), expected);
  Refused([&] { robot.SetJointImpedance(k, std::vector<double>(8, 0.5)); }, SizeText(ji, "Z_q"));
  for (size_t i = 0; i < 7; ++i) {
    for (const double bad : {Up(info.K_q_max[i]), -1.0, kNaN, kInf}) {
      Refused([&] { robot.SetJointImpedance(With(k, i, bad), z); }, RangeText(ji, "K_q"));
    }
  }
  for (const double bad : {Down(0.3), Up(0.8), kNaN}) {
    Refused([&] { robot.SetJointImpedance(k, With(z, 4, bad)); }, RangeText(ji, "Z_q"));
  }
  Refused([&] { robot.SetJointImpedance(With(k, 3, 1e9), With(With(z, 3, 0.1), 1, 0.9)); },
          RangeText(ji, "Z_q"));
  Refused([&] { robot.SetJointImpedance(With(k, 1, 1e9), With(z, 1, 0.9)); }, RangeText(ji, "K_q"));

  // Contact torques up to each joint's torque limit.
  const std::string ct = "SetMaxContactTorque";
  EXPECT_EQ(Sent(76, [&] { robot.SetMaxContactTorque(info.tau_max); }), AsFloats(info.tau_max));
  EXPECT_EQ(Sent(76, [&] { robot.SetMaxContactTorque(std::vector<double>(7, 0.0)); }),
            std::vector<float>(7, 0.0f));
  for (size_t i : {0u, 2u, 6u}) {
    for (const double bad : {Up(info.tau_max[i]), -0.001, kNaN, kInf}) {
      Refused([&] { robot.SetMaxContactTorque(With(info.tau_max, i, bad)); },
              RangeText(ct, "max_torques"));
    }
  }

  // Inertia scales from 0.75 to 1, also in the real-time mode.
  const std::string is = "SetJointInertiaScale";
  const std::vector<double> scales = {0.75, 1.0, 0.8, 0.9, 0.95, 0.99, 0.7501};
  EXPECT_EQ(Sent(75, [&] { robot.SetJointInertiaScale(scales); }), AsFloats(scales));
  for (const double bad : {Down(0.75), Up(1.0), kNaN, -kInf}) {
    Refused([&] { robot.SetJointInertiaScale(With(scales, 5, bad)); },
            RangeText(is, "inertia_scales"));
  }
  env_->Switch(Mode::RT_JOINT_IMPEDANCE);
  Sent(75, [&] { robot.SetJointInertiaScale(scales); });
}

TEST_F(RobotSettingsTest, CartesianSettingsRangeEdgesAndArguments) {
  Robot& robot = this->robot();
  const RobotInfo info = robot.info();
  env_->Switch(Mode::NRT_CARTESIAN_MOTION_FORCE);

  // Cartesian impedance: stiffness up to the model's limits, damping 0.3
  // to 0.8, checked axis by axis.
  const std::string ci = "SetCartesianImpedance";
  const std::array<double, 6> kx = {10000, 10000, 10000, 1500, 1500, 1500};
  ASSERT_EQ(info.K_x_max, kx);
  const std::array<double, 6> zx = {0.3, 0.8, 0.5, 0.45, 0.7, 0.3333};
  std::vector<float> expected = AsFloats(kx);
  for (double d : zx) expected.push_back(static_cast<float>(d));
  EXPECT_EQ(Sent(70, [&] { robot.SetCartesianImpedance(kx, zx); }), expected);
  for (size_t i = 0; i < 6; ++i) {
    for (const double bad : {Up(kx[i]), -0.5, kNaN, kInf}) {
      Refused([&] { robot.SetCartesianImpedance(With(kx, i, bad), zx); }, RangeText(ci, "K_x"));
    }
    for (const double bad : {0.29, 0.81, kNaN}) {
      Refused([&] { robot.SetCartesianImpedance(kx, With(zx, i, bad)); }, RangeText(ci, "Z_x"));
    }
  }
  Refused([&] { robot.SetCartesianImpedance(With(kx, 4, 1e9), With(zx, 1, 0.9)); },
          RangeText(ci, "Z_x"));

  // Contact wrench: no upper limit, but a finite 32-bit float; a negative
  // value is reported before a non-finite one.
  const std::string cw = P("SetMaxContactWrench") + " Input parameter [max_wrench] contains";
  const std::array<double, 6> big = {1e6, 2e6, 3.5, 0.1, 1e30, 7};
  EXPECT_EQ(Sent(72, [&] { robot.SetMaxContactWrench(big); }), AsFloats(big));
  EXPECT_EQ(Sent(72, [&] { robot.SetMaxContactWrench({}); }), std::vector<float>(6, 0.0f));
  for (size_t i = 0; i < 6; ++i) {
    Refused([&] { robot.SetMaxContactWrench(With(big, i, -0.001)); }, cw + " negative value");
  }
  Refused([&] { robot.SetMaxContactWrench(With(big, 2, kNaN)); }, cw + " a non-finite value");
  Refused([&] { robot.SetMaxContactWrench(With(big, 5, kInf)); }, cw + " a non-finite value");
  Refused([&] { robot.SetMaxContactWrench(With(big, 0, 1e39)); },
          cw + " a value outside the 32-bit float range");
  Refused([&] { robot.SetMaxContactWrench(With(With(big, 0, kNaN), 4, -1.0)); },
          cw + " negative value");

  // Null-space posture within the joint limits, both ends included.
  const std::string np = "SetNullSpacePosture";
  EXPECT_EQ(Sent(73, [&] { robot.SetNullSpacePosture(info.q_min); }), AsFloats(info.q_min));
  EXPECT_EQ(Sent(73, [&] { robot.SetNullSpacePosture(info.q_max); }), AsFloats(info.q_max));
  for (size_t i = 0; i < 7; ++i) {
    for (const double bad : {Up(info.q_max[i]), Down(info.q_min[i]), kNaN}) {
      Refused([&] { robot.SetNullSpacePosture(With(info.q_max, i, bad)); },
              RangeText(np, "ref_positions"));
    }
  }

  // Null-space objectives, checked in argument order.
  const std::string no = "SetNullSpaceObjectives";
  EXPECT_EQ(Sent(74, [&] { robot.SetNullSpaceObjectives(0, 0, 0.1); }),
            (std::vector<float>{0.0f, 0.0f, 0.1f}));
  EXPECT_EQ(Sent(74, [&] { robot.SetNullSpaceObjectives(1, 0.123456789, 1); }),
            (std::vector<float>{1.0f, static_cast<float>(0.123456789), 1.0f}));
  Refused([&] { robot.SetNullSpaceObjectives(-0.01, 2, 0); },
          ScalarRangeText(no, "linear_manipulability"));
  Refused([&] { robot.SetNullSpaceObjectives(kNaN, 0, 0.5); },
          ScalarRangeText(no, "linear_manipulability"));
  Refused([&] { robot.SetNullSpaceObjectives(1, 1.01, 0); },
          ScalarRangeText(no, "angular_manipulability"));
  Refused([&] { robot.SetNullSpaceObjectives(1, kNaN, 0.5); },
          ScalarRangeText(no, "angular_manipulability"));
  for (const double bad : {0.0, Down(0.1), Up(1.0), kNaN, kInf}) {
    Refused([&] { robot.SetNullSpaceObjectives(0.5, 0.5, bad); },
            ScalarRangeText(no, "ref_positions_tracking"));
  }

  // Force-control axes: six flags as integers, three velocity limits.
  json request = env_->SentBy([&] {
    robot.SetForceControlAxis({true, false, true, false, false, true}, {0.005, 2.0, 0.1});
  });
  EXPECT_EQ(request["int_args"], json::array({1, 0, 1, 0, 0, 1}));
  EXPECT_EQ(request["float_args"].get<std::vector<float>>(),
            (std::vector<float>{0.005f, 2.0f, 0.1f}));
  for (size_t i = 0; i < 3; ++i) {
    for (const double bad : {Down(0.005), Up(2.0), kNaN}) {
      Refused(
          [&] {
            robot.SetForceControlAxis({}, With(std::array<double, 3>{0.1, 0.1, 0.1}, i, bad));
          },
          RangeText("SetForceControlAxis", "max_linear_vel"));
    }
  }

  // Force-control frame: the root as text, the pose unchecked but finite;
  // the root is checked first.
  const std::string ff = P("SetForceControlFrame") + " Input parameter";
  request = env_->SentBy([&] { robot.SetForceControlFrame(CoordType::WORLD, kFrame); });
  EXPECT_EQ(request["string_args"], json::array({"WORLD"}));
  EXPECT_EQ(request["float_args"].get<std::vector<float>>(), AsFloats(kFrame));
  const std::array<double, 7> unnormalised = {1, 2, 3, 0, 0, 0, 0};
  request = env_->SentBy([&] { robot.SetForceControlFrame(CoordType::TCP, unnormalised); });
  EXPECT_EQ(request["string_args"], json::array({"TCP"}));
  EXPECT_EQ(request["float_args"].get<std::vector<float>>(), AsFloats(unnormalised));
  for (const int bad : {2, -1, 1000}) {
    Refused([&] { robot.SetForceControlFrame(static_cast<CoordType>(bad), With(kFrame, 3, kNaN)); },
            ff + " [root_coord] is invalid");
  }
  Refused([&] { robot.SetForceControlFrame(CoordType::WORLD, With(kFrame, 0, -kInf)); },
          ff + " [T_in_root] contains a non-finite value");

  // The other Cartesian modes take the settings too.
  env_->Switch(Mode::NRT_SUPER_PRIMITIVE);
  Sent(74, [&] { robot.SetNullSpaceObjectives(0.5, 0.5, 0.5); });
  env_->Switch(Mode::RT_CARTESIAN_MOTION_FORCE);
  Sent(70, [&] { robot.SetCartesianImpedance(kx, zx); });
}

TEST_F(RobotSettingsTest, PassiveForceControlDigitalOutputsAndRefusals) {
  Robot& robot = this->robot();
  for (const bool on : {true, false}) {
    const json request = env_->SentBy([&] { robot.SetPassiveForceControl(on); });
    EXPECT_EQ(request["procedure_id"], 82);
    EXPECT_EQ(request["int_args"], json::array({on ? 1 : 0}));
    EXPECT_EQ(env_->sim.State(env_->serial)["passive_force_control"], on);
  }

  // 18 slots: 1 or 0 for the ports given, -1 for the others; in any mode
  // and state. A port left out keeps its output.
  env_->NotEnabled(Mode::RT_JOINT_POSITION);
  json request = env_->SentBy([&] { robot.SetDigitalOutputs({{17, false}, {0, true}}); });
  std::vector<int> slots(18, -1);
  slots[0] = 1;
  slots[17] = 0;
  EXPECT_EQ(request["int_args"].get<std::vector<int>>(), slots);
  EXPECT_TRUE(request["float_args"].empty());
  env_->Ready(Mode::NRT_PLAN_EXECUTION);
  request = env_->SentBy([&] { robot.SetDigitalOutputs({{5, true}, {0, false}}); });
  slots.assign(18, -1);
  slots[0] = 0;
  slots[5] = 1;
  EXPECT_EQ(request["int_args"].get<std::vector<int>>(), slots);
  const auto outputs = env_->sim.State(env_->serial)["digital_outputs"].get<std::vector<int>>();
  EXPECT_EQ(outputs[0] * 100 + outputs[5] * 10 + outputs[17], 10);
  EXPECT_EQ(env_->SentBy([&] { robot.SetDigitalOutputs({}); })["int_args"],
            json(std::vector<int>(18, -1)));
  for (const unsigned int bad : {18u, 4294967295u}) {
    Refused(
        [&] {
          robot.SetDigitalOutputs({{0, true}, {bad, true}});
        },
        P("SetDigitalOutputs") + " Input map contains port index outside the valid range");
  }

  // A refused request names its operation and is not repeated.
  const RobotInfo info = robot.info();
  const struct {
    Mode mode;
    int id;
    std::string name;
    std::function<void()> call;
  } refusals[] = {
      {Mode::IDLE, 82, "SetPassiveForceControl", [&] { robot.SetPassiveForceControl(true); }},
      {Mode::IDLE, 8, "SetDigitalOutputs",
       [&] {
         robot.SetDigitalOutputs({{1, true}});
       }},
      {Mode::NRT_JOINT_IMPEDANCE, 71, "SetJointImpedance",
       [&] { robot.SetJointImpedance(info.K_q_max, {}); }},
      {Mode::NRT_JOINT_IMPEDANCE, 76, "SetMaxContactTorque",
       [&] { robot.SetMaxContactTorque(info.tau_max); }},
      {Mode::NRT_JOINT_IMPEDANCE, 75, "SetJointInertiaScale",
       [&] { robot.SetJointInertiaScale(std::vector<double>(7, 1.0)); }},
      {Mode::NRT_CARTESIAN_MOTION_FORCE, 70, "SetCartesianImpedance",
       [&] {
         robot.SetCartesianImpedance(info.K_x_max, {0.5, 0.5, 0.5, 0.5, 0.5, 0.5});
       }},
      {Mode::NRT_CARTESIAN_MOTION_FORCE, 72, "SetMaxContactWrench",
       [&] { robot.SetMaxContactWrench({}); }},
      {Mode::NRT_CARTESIAN_MOTION_FORCE, 73, "SetNullSpacePosture",
       [&] { robot.SetNullSpacePosture(info.q_max); }},
      {Mode::NRT_CARTESIAN_MOTION_FORCE, 74, "SetNullSpaceObjectives",
       [&] { robot.SetNullSpaceObjectives(0, 0, 0.1); }},
      {Mode::NRT_CARTESIAN_MOTION_FORCE, 80, "SetForceControlAxis",
       [&] {
         robot.SetForceControlAxis({}, {1, 1, 1});
       }},
      {Mode::NRT_CARTESIAN_MOTION_FORCE, 81, "SetForceControlFrame",
       [&] { robot.SetForceControlFrame(CoordType::TCP, kFrame); }}};
  for (const auto& r : refusals) {
    env_->Ready(r.mode);
    env_->FailsOnce(r.id, r.call, P(r.name) + " Failed to deliver the request");
  }
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
    env.Refused<std::invalid_argument>(
        [&, bad = bad] { robot.SetJointImpedance(With(k, 1, bad), {}); }, text);
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
