// Serial-number checks, the model table, the stiffness limits, the joint
// limit check and the standstill test: everything of a Robot that needs no
// controller.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/vek/robot_test_util.h"
#include "vek/robot.h"
#include "vek/robot_impl.h"

namespace quiral::vek {
namespace {

using testing_util::Throws;
using Impl = Robot::Impl;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string FormatError(const std::string& serial) {
  return "[quiral::vek::Robot] Format of the provided robot serial number [" + serial +
         "] is invalid";
}

TEST(RobotSerialTest, MalformedSerialsAreRejectedBeforeAnyConnection) {
  // A '\0' would cut the topic names short and reach another robot.
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [] { Robot robot(std::string("Varno4-12\0x", 11), testing_util::kWhitelist, false, false); },
      FormatError("Varno4-12\\0x")));
  const std::vector<std::string> bad = {
      "", "Varno4", "Varno4-1-2", "Varno4-1_2", "Varno4__12", "_Varno4_12", "Varno4 - 1 - 2",
  };
  for (const std::string& serial : bad) {
    SCOPED_TRACE(serial);
    // The text quotes the serial exactly as passed in.
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { Robot robot(serial, testing_util::kWhitelist, false, false); }, FormatError(serial)));
  }
}

TEST(RobotSerialTest, ModelNamesAreComparedExactly) {
  for (const std::string model : {"varno4", "VARNO4", "Unknown", "Varno", "Varno4x", ""}) {
    SCOPED_TRACE(model);
    EXPECT_TRUE(Throws<std::logic_error>(
        [&] { Robot robot(model + "-123", testing_util::kWhitelist, false, false); },
        "[quiral::vek::Robot] Robot model [" + model + "] is not supported"));
  }
  // Blanks are removed before the lookup, so this names no model at all.
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] { Robot robot(" \tVarno4 _1", testing_util::kWhitelist, false, false); },
      "[quiral::vek::Robot] Robot model [\tVarno4] is not supported"));
}

TEST(RobotSerialTest, NormalisationAndModelLookup) {
  EXPECT_EQ(Impl::NormaliseSerial("Varno4-123"), "Varno4-123");
  EXPECT_EQ(Impl::NormaliseSerial("Varno4_123"), "Varno4-123");
  EXPECT_EQ(Impl::NormaliseSerial(" Var no4 _ 1 2 3 "), "Varno4-123");
  EXPECT_EQ(Impl::NormaliseSerial("Varno4-1\t2"), "Varno4-1\t2");  // only blanks go

  const auto& names = Impl::ModelNames();
  ASSERT_EQ(names.size(), 12u);
  EXPECT_EQ(names[0], "Unknown");
  for (int m = 1; m < 12; ++m) {
    SCOPED_TRACE(names[m]);
    EXPECT_EQ(Impl::ModelFromSerial(names[m] + "-42"), static_cast<Impl::RobotModel>(m));
  }
  EXPECT_EQ(Impl::ModelFromSerial("Varno4M-1"), Impl::VARNO4M);
  EXPECT_EQ(Impl::ModelFromSerial("Starfloat-1"), Impl::STARFLOAT);
}

TEST(RobotSerialTest, StiffnessLimitsKeepEachLimitWithItsJoint) {
  using V = std::vector<double>;
  // External axes first, unlimited; the arm's table after them.
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::VARNO4, 2, 7),
            (V{kInf, kInf, 6000, 6000, 4200, 4200, 1500, 1500, 1500}));
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::VARNO4SR, 0, 7), kMaxJointStiffnessVarno4);
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::VARNO10R, 1, 7),
            (V{kInf, 12000, 12000, 10000, 10000, 5000, 5000, 5000}));
  // The model whose table used to replace everything: aligned as well.
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::OMBRISK_L, 0, 7), kMaxJointStiffnessOmbriskL);
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::OMBRISK_L, 2, 7),
            (V{kInf, kInf, 6000, 6000, 4200, 4200, 1500, 1500, 1500}));
  // A table shorter than the arm: the joints past it get the model's
  // smallest limit, never a value read past the table.
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::STARFLOAT, 0, 3), kMaxJointStiffnessStarfloat);
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::STARFLOAT, 1, 5),
            (V{kInf, 6000, 6000, 6000, 6000, 6000}));
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::VARNO4, 0, 9),
            (V{6000, 6000, 4200, 4200, 1500, 1500, 1500, 1500, 1500}));
  // An arm shorter than the table takes its first entries.
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::VARNO10, 0, 6),
            (V{12000, 12000, 10000, 10000, 5000, 5000}));
  EXPECT_TRUE(Impl::JointStiffnessLimits(Impl::VARNO4, 0, 0).empty());

  for (const auto model : {Impl::UNKNOWN_MODEL, Impl::OMBRISK_H}) {
    EXPECT_TRUE(Throws<std::logic_error>([&] { Impl::JointStiffnessLimits(model, 0, 7); },
                                         "[quiral::vek::Robot] Unsupported robot model"));
    EXPECT_TRUE(Throws<std::logic_error>([&] { Impl::CartesianStiffnessLimits(model); },
                                         "[quiral::vek::Robot] Unsupported robot model"));
  }
  using A = std::array<double, 6>;
  EXPECT_EQ(Impl::CartesianStiffnessLimits(Impl::VARNO4M),
            (A{10000, 10000, 10000, 1500, 1500, 1500}));
  EXPECT_EQ(Impl::CartesianStiffnessLimits(Impl::OMBRISK_L),
            (A{10000, 10000, 10000, 1500, 1500, 1500}));
  EXPECT_EQ(Impl::CartesianStiffnessLimits(Impl::VARNO10S),
            (A{20000, 20000, 20000, 3000, 3000, 3000}));
  EXPECT_EQ(Impl::CartesianStiffnessLimits(Impl::STARFLOAT), (A{15000, 15000, 15000, 0, 0, 0}));
}

TEST(RobotSerialTest, JointLimitCheckRejectsZeroAndNaN) {
  RobotInfo info;
  info.DoF = 2;
  info.q_min = {-1, -1};
  info.q_max = {1, 1};
  info.joint_limit_3 = {2, 2};
  info.tau_max = {10, 10};
  EXPECT_NO_THROW(Impl::CheckJointLimits(info));
  const std::string text =
      "[quiral::vek::Robot] One or more robot joint limits received from server are invalid";
  for (const double bad : {0.0, -0.0, 1e-17, kNaN}) {
    for (std::vector<double> RobotInfo::*field :
         {&RobotInfo::q_min, &RobotInfo::q_max, &RobotInfo::joint_limit_3, &RobotInfo::tau_max}) {
      RobotInfo changed = info;
      (changed.*field)[1] = bad;
      EXPECT_TRUE(Throws<std::logic_error>([&] { Impl::CheckJointLimits(changed); }, text));
    }
  }
  // A vector of the wrong length is never read past its end.
  RobotInfo short_info = info;
  short_info.tau_max = {10};
  EXPECT_TRUE(Throws<std::logic_error>([&] { Impl::CheckJointLimits(short_info); }, text));
  // No joints, nothing to check.
  EXPECT_NO_THROW(Impl::CheckJointLimits(RobotInfo{}));
}

TEST(RobotSerialTest, StandstillTest) {
  RobotStates s;
  EXPECT_TRUE(Impl::IsStandstill(s));  // no data
  s.motor_velocity = {0.0, 0.017, -0.017, 0.0};
  EXPECT_TRUE(Impl::IsStandstill(s));
  s.motor_velocity[3] = 0.0171;
  EXPECT_FALSE(Impl::IsStandstill(s));
  s.motor_velocity[3] = -0.0171;
  EXPECT_FALSE(Impl::IsStandstill(s));
  s.motor_velocity[3] = kNaN;
  EXPECT_FALSE(Impl::IsStandstill(s));
}

TEST(RobotSerialTest, RangeHelperRejectsNaN) {
  EXPECT_TRUE(Impl::InRange(0.0, 0.0, 100.0));
  EXPECT_TRUE(Impl::InRange(100.0, 0.0, 100.0));
  EXPECT_FALSE(Impl::InRange(100.5, 0.0, 100.0));
  EXPECT_FALSE(Impl::InRange(-0.1, 0.0, 100.0));
  EXPECT_FALSE(Impl::InRange(kNaN, 0.0, 100.0));
  EXPECT_FALSE(Impl::InRange(kInf, 0.0, 100.0));
  EXPECT_NO_THROW(Impl::RequireNoNul("plan", "ExecutePlan", "plan_name"));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [] { Impl::RequireNoNul(std::string("pl\0an", 5), "ExecutePlan", "plan_name"); },
      "[quiral::vek::Robot::ExecutePlan] Input parameter [plan_name] contains a null character"));
}

}  // namespace
}  // namespace quiral::vek
