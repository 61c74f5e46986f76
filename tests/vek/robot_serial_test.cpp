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

using testing_util::kWhitelist;
using testing_util::Throws;
using Impl = Robot::Impl;
using V = std::vector<double>;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(RobotSerialTest, MalformedSerialsAndUnknownModelsAreRejectedBeforeAnyConnection) {
  const auto make = [](const std::string& serial) {
    Robot robot(serial, kWhitelist, false, false);
  };
  const std::string format = "[quiral::vek::Robot] Format of the provided robot serial number [";
  // A '\0' would cut the topic names short and reach another robot.
  EXPECT_TRUE(Throws<std::invalid_argument>([&] { make(std::string("Varno4-12\0x", 11)); },
                                            format + "Varno4-12\\0x] is invalid"));
  for (const std::string serial : {"", "Varno4-1_2"}) {
    EXPECT_TRUE(
        Throws<std::invalid_argument>([&] { make(serial); }, format + serial + "] is invalid"));
  }
  // Model names are compared exactly, after the blanks are removed.
  for (const auto& [model, named] :
       {std::pair{"varno4", "varno4"}, std::pair{" \tVarno4 ", "\tVarno4"}}) {
    EXPECT_TRUE(Throws<std::logic_error>(
        [&, model = model] { make(std::string(model) + "-123"); },
        "[quiral::vek::Robot] Robot model [" + std::string(named) + "] is not supported"));
  }
}

TEST(RobotSerialTest, StiffnessLimitsKeepEachLimitWithItsJoint) {
  // External axes first, unlimited; joints past the table get the model's
  // smallest limit, never a value read past the table.
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::VARNO4, 0, 9),
            (V{6000, 6000, 4200, 4200, 1500, 1500, 1500, 1500, 1500}));
  EXPECT_EQ(Impl::JointStiffnessLimits(Impl::STARFLOAT, 1, 5),
            (V{kInf, 6000, 6000, 6000, 6000, 6000}));
  EXPECT_TRUE(Throws<std::logic_error>([&] { Impl::JointStiffnessLimits(Impl::OMBRISK_H, 0, 7); },
                                       "[quiral::vek::Robot] Unsupported robot model"));
}

TEST(RobotSerialTest, JointLimitsAndStandstill) {
  RobotInfo info;
  info.DoF = 2;
  info.q_min = {-1, -1};
  info.q_max = info.joint_limit_3 = info.tau_max = {1, 1};
  EXPECT_NO_THROW(Impl::CheckJointLimits(info));
  const std::string invalid =
      "[quiral::vek::Robot] One or more robot joint limits received from server are invalid";
  for (const double bad : {1e-17, kNaN}) {
    for (auto field :
         {&RobotInfo::q_min, &RobotInfo::q_max, &RobotInfo::joint_limit_3, &RobotInfo::tau_max}) {
      RobotInfo changed = info;
      (changed.*field)[1] = bad;
      EXPECT_TRUE(Throws<std::logic_error>([&] { Impl::CheckJointLimits(changed); }, invalid));
    }
  }
  info.tau_max = {10};  // too short: never read past its end
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
