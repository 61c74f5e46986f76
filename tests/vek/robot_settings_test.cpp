// Impedance, force-control and I/O settings of a Robot against the
// simulated controller: the mode check before the arguments with nothing
// sent when one fails, the arguments the controller receives, and limit
// tables that do not cover every joint.
#include <gtest/gtest.h>

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
const std::array<double, 7> kFrame = {0.01, -0.02, 0.1, 0.9238795, 0.0, 0.3826834, 0.0};

// The texts of the argument checks after the operation's prefix.
std::string Size(const std::string& argument) {
  return " Size of input vector [" + argument + "] does not match robot DoF";
}
std::string Range(const std::string& argument) {
  return " Input parameter [" + argument + "] contains value outside the valid range";
}
std::string Scalar(const std::string& argument) {
  return " Input parameter [" + argument + "] is outside the valid range";
}
const std::string kNeg = " Input parameter [max_wrench] contains negative value";
const std::string kRoot = " Input parameter [root_coord] is invalid";
template <class C>
C With(C v, std::size_t i, double x) {
  v[i] = x;
  return v;
}

class RobotSettingsTest : public RobotTest {
 protected:
  void Refused(const std::function<void()>& call, const std::string& text) {
    env_->Refused<std::invalid_argument>(call, text);
  }
};

// A setting refused in IDLE (the shared mode check, shown once), then each
// setting's arguments checked in one of its modes on a robot not enabled:
// settings have no operational gate. Digital outputs need no mode; passive
// force control only IDLE.
TEST_F(RobotSettingsTest, ModeBeforeArgumentsWithoutGateAndNothingSent) {
  Robot& r = robot();
  const std::vector<double> six(6, 0.5);
  const Mode jr = Mode::RT_JOINT_IMPEDANCE, jn = Mode::NRT_JOINT_IMPEDANCE,
             cr = Mode::RT_CARTESIAN_MOTION_FORCE, cn = Mode::NRT_CARTESIAN_MOTION_FORCE,
             sp = Mode::NRT_SUPER_PRIMITIVE;
  const struct {
    std::string name;
    Mode mode;
    std::function<void()> call;
    std::string argument_error;
  } settings[] = {
      // clang-format off
      {"SetJointImpedance", jn, [&] { r.SetJointImpedance(six, {}); }, Size("K_q")},
      {"SetCartesianImpedance", sp, [&] { r.SetCartesianImpedance({-1}, {0.5, 0.5, 0.5, 0.5, 0.5,
       0.5}); }, Range("K_x")},
      {"SetMaxContactTorque", jr, [&] { r.SetMaxContactTorque(six); }, Size("max_torques")},
      {"SetJointInertiaScale", jn, [&] { r.SetJointInertiaScale(six); }, Size("inertia_scales")},
      {"SetMaxContactWrench", cr, [&] { r.SetMaxContactWrench({0, 0, -1}); }, kNeg},
      {"SetNullSpacePosture", cn, [&] { r.SetNullSpacePosture(six); }, Size("ref_positions")},
      {"SetNullSpaceObjectives", sp, [&] { r.SetNullSpaceObjectives(kNaN, 0, 0); },
       Scalar("linear_manipulability")},
      {"SetForceControlAxis", cr, [&] { r.SetForceControlAxis({}, {0.004, 1, 1}); },
       Range("max_linear_vel")},
      {"SetForceControlFrame", sp, [&] { r.SetForceControlFrame(CoordType(2), kFrame); }, kRoot}};
  // clang-format on
  env_->Refused<std::logic_error>(settings[0].call, P(settings[0].name) +
                                                       " Robot is not in an applicable control mode");
  for (const auto& c : settings) {
    env_->NotEnabled(c.mode);
    Refused(c.call, P(c.name) + c.argument_error);
  }
  env_->Refused<std::logic_error>([&] { r.SetPassiveForceControl(true); },
                                  P("SetPassiveForceControl") + " Robot is not in IDLE mode");
  for (const unsigned port : {18u, 4294967295u}) {
    Refused([&] { r.SetDigitalOutputs({{3, true}, {port, false}}); },
            P("SetDigitalOutputs") + " Input map contains port index outside the valid range");
  }
}

// What the controller receives, at the ends of the ranges; the damping
// defaults to 0.7. Values outside the ranges, NaN too, in the order the
// checks run: joint by joint, stiffness before damping.
TEST_F(RobotSettingsTest, RangeEndsOnTheWire) {
  Robot& r = robot();
  const RobotInfo info = r.info();
  env_->Ready(Mode::NRT_JOINT_IMPEDANCE);
  json request = env_->SentBy([&] { r.SetJointImpedance(info.K_q_max, {}); });
  std::vector<float> floats = AsFloats(info.K_q_max);
  floats.insert(floats.end(), 7, 0.7f);
  EXPECT_EQ(request["procedure_id"], 71);
  EXPECT_EQ(request["float_args"], json(floats));
  const std::vector<double> k = {100, 2000.5, 0, 4200, 1e-3, 1499.99, 3}, z(7, 0.5);
  const std::string ji = P("SetJointImpedance");
  const double above = std::nextafter(info.K_q_max[4], 1e9);
  // clang-format off
  Refused([&] { r.SetJointImpedance(k, std::vector<double>(8, 0.5)); }, ji + Size("Z_q"));
  Refused([&] { r.SetJointImpedance(With(k, 4, above), z); }, ji + Range("K_q"));
  Refused([&] { r.SetJointImpedance(With(k, 3, 1e9), With(With(z, 3, 0.1), 1, 0.9)); },
          ji + Range("Z_q"));
  // clang-format on
  env_->Ready(Mode::NRT_CARTESIAN_MOTION_FORCE);
  request = env_->SentBy([&] {
    r.SetForceControlAxis({true, false, true, false, false, true}, {0.005, 2.0, 0.1});
  });
  EXPECT_EQ(request["int_args"], json({1, 0, 1, 0, 0, 1}));
  EXPECT_EQ(request["float_args"], json(std::vector<float>{0.005f, 2.0f, 0.1f}));
  request = env_->SentBy([&] { r.SetForceControlFrame(CoordType::TCP, kFrame); });
  EXPECT_EQ(request["string_args"], json({"TCP"}));
  EXPECT_EQ(request["float_args"], json(AsFloats(kFrame)));
  Refused([&] { r.SetNullSpaceObjectives(1, 1, std::nextafter(0.1, 0)); },
          P("SetNullSpaceObjectives") + Scalar("ref_positions_tracking"));
}

TEST_F(RobotSettingsTest, PassiveForceControlDigitalOutputsAndRefusals) {
  Robot& r = robot();
  for (const bool on : {true, false}) {
    const json request = env_->SentBy([&] { r.SetPassiveForceControl(on); });
    EXPECT_EQ(request["procedure_id"], 82);
    EXPECT_EQ(request["int_args"], json({on ? 1 : 0}));
  }
  // 18 slots: 1 or 0 for the ports given, -1 for the others, in any mode
  // and state.
  env_->NotEnabled(Mode::RT_JOINT_POSITION);
  std::vector<int> slots(18, -1);
  slots[0] = 1;
  slots[17] = 0;
  EXPECT_EQ(env_->SentBy([&] {
    r.SetDigitalOutputs({{17, false}, {0, true}});
  })["int_args"],
            json(slots));
}

// With two external axes, stiffness has no upper limit; limit tables that
// fall short of the joints refuse the joints they do not cover rather than
// read past their end.
TEST(RobotSettingsLimitsTest, ExternalAxesAndShortLimitTables) {
  SimRobot env({"--initial-state", "ready", "--dof-e", "2"});
  Robot& r = *env.robot;
  Robot::Impl& impl = env.impl();
  env.Ready(Mode::RT_JOINT_IMPEDANCE);
  std::vector<double> k(9, 100.0);
  k[0] = 1e9;
  k[1] = 3.4e38;
  std::vector<float> expected = AsFloats(k);
  expected.insert(expected.end(), 9, 0.7f);
  EXPECT_EQ(env.SentBy([&] { r.SetJointImpedance(k, {}); })["float_args"], json(expected));
  impl.info.K_q_max.resize(5);
  impl.info.tau_max.resize(3);
  env.Refused<std::invalid_argument>([&] { r.SetJointImpedance(std::vector<double>(9, 1.0), {}); },
                                     P("SetJointImpedance") + Range("K_q"));
  env.Refused<std::invalid_argument>([&] { r.SetMaxContactTorque(std::vector<double>(9, 1.0)); },
                                     P("SetMaxContactTorque") + Range("max_torques"));
}

}  // namespace
}  // namespace quiral::vek
