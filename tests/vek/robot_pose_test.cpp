// Every command that takes a pose refuses one whose quaternion is zero (or
// shorter than the double epsilon) or not finite, and sends nothing.
#include <gtest/gtest.h>

#include <cfloat>
#include <limits>

#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;
using Pose = std::array<double, 7>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::vector<double> kQ = {0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0};

TEST_F(RobotTest, PosesWithoutAUsableQuaternionAreRefused) {
  ASSERT_TRUE(env_->sim.WaitMatched(env_->serial, 5s, {"motion_commands"}));
  Robot& r = robot();
  // Each pose, and the end of its error text.
  const std::pair<Pose, std::string> poses[] = {
      {{0.3, 0, 0.5, 0, 0, 0, 0}, "an invalid quaternion"},
      {{0.3, 0, 0.5, DBL_EPSILON / 2, 0, 0, 0}, "an invalid quaternion"},
      {{0.3, 0, 0.5, 1, kNaN, 0, 0}, "a non-finite value"}};
  const struct {
    Mode mode;
    std::string operation, argument;
    std::function<void(const Pose&)> call;
  } commands[] = {
      {Mode::RT_CARTESIAN_MOTION_FORCE, "StreamCartesianMotionForce", "pose",
       [&](const Pose& p) { r.StreamCartesianMotionForce(p, {}, {}, {}); }},
      {Mode::NRT_CARTESIAN_MOTION_FORCE, "SendCartesianMotionForce", "pose",
       [&](const Pose& p) { r.SendCartesianMotionForce(p, {}, {}, 1, 1, 1, 1); }},
      {Mode::NRT_SUPER_PRIMITIVE, "SendMultiCartesianMotionForce", "cart_cmds",
       [&](const Pose& p) {
         r.SendMultiCartesianMotionForce({{p, {}, {}, 1, 1, 1, 1}}, {kQ});
       }},
      {Mode::NRT_SUPER_PRIMITIVE, "SetForceControlFrame", "T_in_root",
       [&](const Pose& p) { r.SetForceControlFrame(CoordType::TCP, p); }},
  };
  const size_t motion_since = env_->MotionTotal(), ops_since = env_->OpsTotal();
  const uint64_t counter = env_->Counter();
  for (const auto& command : commands) {
    env_->Ready(command.mode);
    for (const auto& [pose, error] : poses) {
      const std::string text =
          P(command.operation) + " Input parameter [" + command.argument + "] contains " + error;
      EXPECT_TRUE(Throws<std::invalid_argument>([&, &pose = pose] { command.call(pose); }, text));
    }
  }
  EXPECT_EQ(env_->Counter(), counter);
  EXPECT_EQ(env_->OpsTotal(), ops_since);
  // A longer quaternion is the robot's to normalise: the one command that arrives.
  r.SendCartesianMotionForce({0.3, 0, 0.5, 0, 0, 0.5, 0}, {}, {}, 1, 1, 1, 1);
  EXPECT_EQ(env_->NextMotion(motion_since).size(), 1u);
}

}  // namespace
}  // namespace quiral::vek
