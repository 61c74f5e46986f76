// Everything of a Robot that needs no controller: the serial-number checks,
// the model table, the stiffness limits, the joint-limit check, the
// standstill test and the argument helpers.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

using namespace std::string_literals;

using testing_util::kWhitelist;
using testing_util::Throws;
using Impl = Robot::Impl;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(RobotSerialTest, MalformedSerialsAndUnknownModelsAreRejectedBeforeAnyConnection) {
  // A '\0' would cut the topic names short and reach another robot; the
  // text quotes the serial as passed in.
  for (const std::string& serial :
       {std::string("Varno4-12\0x", 11), std::string(), "Varno4"s, "Varno4-1-2"s, "Varno4-1_2"s,
        "Varno4__12"s, "_Varno4_12"s, "Varno4 - 1 - 2"s}) {
    std::string quoted = serial;
    if (quoted.find('\0') != std::string::npos) quoted.replace(quoted.find('\0'), 1, "\\0");
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { Robot robot(serial, kWhitelist, false, false); },
        "[quiral::vek::Robot] Format of the provided robot serial number [" + quoted +
            "] is invalid"));
  }
  // Model names are compared exactly; blanks are removed before the lookup.
  for (const std::string model : {"varno4", "VARNO4", "Unknown", "Varno4x", "", " \tVarno4 "}) {
    std::string named = model;
    named.erase(std::remove(named.begin(), named.end(), ' '), named.end());
    EXPECT_TRUE(Throws<std::logic_error>(
        [&] { Robot robot(model + "-123", kWhitelist, false, false); },
        "[quiral::vek::Robot] Robot model [" + named + "] is not supported"));
  }
  EXPECT_EQ(Impl::NormaliseSerial(" Var no4 _ 1 2 3 "), "Varno4-123");
  EXPECT_EQ(Impl::NormaliseSerial("Varno4-1\t2"), "Varno4-1\t2");  // only blanks go
  EXPECT_EQ(Impl::ModelFromSerial("Varno4M-1"), Impl::VARNO4M);
  EXPECT_EQ(Impl::ModelFromSerial("Starfloat-1"), Impl::STARFLOAT);
  EXPECT_EQ(Impl::ModelFromSerial(Impl::ModelNames()[11] + "-42"),
            static_cast<Impl::RobotModel>(11));
}

TEST(RobotSerialTest, StiffnessLimitsKeepEachLimitWithItsJoint) {
  using V = std::vector<double>;
  // External axes first, unlimited; the arm's table after them, on every
  // model (one used to replace the whole list with its table).
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::VARNO4, 2, 7),
            (V{kInf, kInf, 6000, 6000, 4200, 4200, 1500, 1500, 1500}));
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::VARNO10R, 1, 7),
            (V{kInf, 12000, 12000, 10000, 10000, 5000, 5000, 5000}));
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::OMBRISK_L, 0, 7), kMaxJointStiffnessOmbriskL);
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::OMBRISK_L, 2, 7),
            (V{kInf, kInf, 6000, 6000, 4200, 4200, 1500, 1500, 1500}));
  // A table shorter than the arm: the joints past it get the model's
  // smallest limit, never a value read past the table; an arm shorter than
  // the table takes its first entries.
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::STARFLOAT, 1, 5),
            (V{kInf, 6000, 6000, 6000, 6000, 6000}));
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::VARNO4, 0, 9),
            (V{6000, 6000, 4200, 4200, 1500, 1500, 1500, 1500, 1500}));
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
  EXPECT_EQ(Impl::CartesianStiffnessLimits(Impl::OMBRISK_L),
            (A{10000, 10000, 10000, 1500, 1500, 1500}));
  EXPECT_EQ(Impl::CartesianStiffnessLimits(Impl::VARNO10S),
            (A{20000, 20000, 20000, 3000, 3000, 3000}));
  EXPECT_EQ(Impl::CartesianStiffnessLimits(Impl::STARFLOAT), (A{15000, 15000, 15000, 0, 0, 0}));
}

TEST(RobotSerialTest, JointLimitsStandstillAndArgumentChecks) {
  RobotInfo info;
  info.DoF = 2;
  info.q_min = {-1, -1};
  info.q_max = {1, 1};
  info.joint_limit_3 = {2, 2};
  info.tau_max = {10, 10};
  EXPECT_NO_THROW(Impl::CheckJointLimits(info));
  EXPECT_NO_THROW(Impl::CheckJointLimits(RobotInfo{}));
  const std::string invalid =
      "[quiral::vek::Robot] One or more robot joint limits received from server are invalid";
  for (const double bad : {0.0, -0.0, 1e-17, kNaN}) {
    for (auto field :
         {&RobotInfo::q_min, &RobotInfo::q_max, &RobotInfo::joint_limit_3, &RobotInfo::tau_max}) {
      RobotInfo changed = info;
      (changed.*field)[1] = bad;
      EXPECT_TRUE(Throws<std::logic_error>([&] { Impl::CheckJointLimits(changed); }, invalid));
    }
  }
  // A vector of the wrong length is never read past its end.
  info.tau_max = {10};
  EXPECT_TRUE(Throws<std::logic_error>([&] { Impl::CheckJointLimits(info); }, invalid));

  RobotStates s;
  EXPECT_TRUE(Impl::IsStandstill(s));  // no data
  s.motor_velocity = {0.0, 0.017, -0.017, 0.0};
  EXPECT_TRUE(Impl::IsStandstill(s));
  for (const double moving : {0.0171, -0.0171, kNaN}) {
    s.motor_velocity[3] = moving;
    EXPECT_FALSE(Impl::IsStandstill(s)) << moving;
  }

  EXPECT_TRUE(Impl::InRange(0.0, 0.0, 100.0));
  EXPECT_TRUE(Impl::InRange(100.0, 0.0, 100.0));
  for (const double outside : {100.5, -0.1, kNaN, kInf}) {
    EXPECT_FALSE(Impl::InRange(outside, 0.0, 100.0)) << outside;
  }
  EXPECT_NO_THROW(Impl::RequireNoNul("plan", "ExecutePlan", "plan_name"));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [] { Impl::RequireNoNul(std::string("pl\0an", 5), "ExecutePlan", "plan_name"); },
      "[quiral::vek::Robot::ExecutePlan] Input parameter [plan_name] contains a null character"));
}

}  // namespace
}  // namespace quiral::vek
