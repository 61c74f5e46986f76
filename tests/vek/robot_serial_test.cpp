// What a Robot decides without a controller: serial numbers and models
// refused before any connection, the stiffness limits per model, the check
// of the joint limits received and the standstill test.
#include <gtest/gtest.h>

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
  for (const std::string& serial : {std::string("Varno4-12\0x", 11), ""s, "Varno4"s, "Varno4-1-2"s,
                                    "Varno4-1_2"s, "Varno4__12"s, "_Varno4_12"s}) {
    std::string quoted = serial;
    if (quoted.find('\0') != std::string::npos) quoted.replace(quoted.find('\0'), 1, "\\0");
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { Robot robot(serial, kWhitelist, false, false); },
        "[quiral::vek::Robot] Format of the provided robot serial number [" + quoted +
            "] is invalid"));
  }
  // Model names are compared exactly, after the blanks are removed.
  for (const auto& [model, named] : std::vector<std::pair<std::string, std::string>>{
           {"varno4", "varno4"}, {"Unknown", "Unknown"}, {"", ""}, {" \tVarno4 ", "\tVarno4"}}) {
    EXPECT_TRUE(Throws<std::logic_error>(
        [&] { Robot robot(model + "-123", kWhitelist, false, false); },
        "[quiral::vek::Robot] Robot model [" + named + "] is not supported"));
  }
}

TEST(RobotSerialTest, StiffnessLimitsKeepEachLimitWithItsJoint) {
  using V = std::vector<double>;
  // External axes first, unlimited, then the arm's table, on every model;
  // joints past a short table get the model's smallest limit, never a value
  // read past the table.
  const struct {
    Impl::RobotModel model;
    std::size_t dof_e, dof;
    V expected;
  } joints[] = {{Impl::VARNO4, 2, 7, {kInf, kInf, 6000, 6000, 4200, 4200, 1500, 1500, 1500}},
                {Impl::VARNO10R, 1, 7, {kInf, 12000, 12000, 10000, 10000, 5000, 5000, 5000}},
                {Impl::OMBRISK_L, 0, 7, kMaxJointStiffnessOmbriskL},
                {Impl::OMBRISK_L, 2, 7, {kInf, kInf, 6000, 6000, 4200, 4200, 1500, 1500, 1500}},
                {Impl::STARFLOAT, 1, 5, {kInf, 6000, 6000, 6000, 6000, 6000}},
                {Impl::VARNO4, 0, 9, {6000, 6000, 4200, 4200, 1500, 1500, 1500, 1500, 1500}},
                {Impl::VARNO10, 0, 6, {12000, 12000, 10000, 10000, 5000, 5000}}};
  for (const auto& c : joints) {
    EXPECT_EQ(Impl::JointStiffnessLimits(c.model, c.dof_e, c.dof), c.expected) << c.model;
  }
  using A = std::array<double, 6>;
  EXPECT_EQ(Impl::CartesianStiffnessLimits(Impl::VARNO10S),
            (A{20000, 20000, 20000, 3000, 3000, 3000}));
  EXPECT_EQ(Impl::CartesianStiffnessLimits(Impl::STARFLOAT), (A{15000, 15000, 15000, 0, 0, 0}));
  for (const auto model : {Impl::UNKNOWN_MODEL, Impl::OMBRISK_H}) {
    EXPECT_TRUE(Throws<std::logic_error>([&] { Impl::JointStiffnessLimits(model, 0, 7); },
                                         "[quiral::vek::Robot] Unsupported robot model"));
  }
}

TEST(RobotSerialTest, JointLimitsAndStandstill) {
  RobotInfo info;
  info.DoF = 2;
  info.q_min = {-1, -1};
  info.q_max = info.joint_limit_3 = info.tau_max = {1, 1};
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
}

}  // namespace
}  // namespace quiral::vek
