// Both arms' arguments are checked before either arm is commanded: an
// argument wrong for the second arm leaves tagged as its error, and neither
// arm receives anything.

#include <gtest/gtest.h>

#include <limits>

#include "bivek/robot_pair.h"
#include "tests/vek/robot_test_util.h"

namespace quiral::bivek {
namespace {

using namespace vek::testing_util;
using vek::Mode;
template <class T>
using PerArm = std::pair<T, T>;
using Vec = std::vector<double>;
using Pose = std::array<double, 7>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const PerArm<Vec> kQ = {{0, -0.7, 0, 1.57, 0, 0.7, 0}, {0, -0.7, 0, 1.57, 0, 0.7}};
const PerArm<Vec> kZeros = {Vec(7, 0.0), Vec(6, 0.0)}, kOnes = {Vec(7, 1.0), Vec(6, 1.0)};
const Pose kPose = {0.3, 0, 0.5, 0, 1, 0, 0}, kZeroQuaternion = {0.3, 0, 0.5, 0, 0, 0, 0};
const std::string kOp = "[quiral::bivek::RobotPair::";

// The first arm has 7 joints, the second 6.
class PairArgumentChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int arm : {0, 1}) {
      std::vector<std::string> args = {"--initial-state", "ready", "--dof", arm == 0 ? "7" : "6"};
      sims_[arm] = std::make_unique<SimProcess>(std::vector<std::string>{sn_[arm]}, args);
    }
    pair_ = std::make_unique<RobotPair>(std::make_pair(sn_[0], sn_[1]),
                                        PerArm<std::array<double, 3>>{}, kWhitelist);
    ASSERT_TRUE(WaitUntil([&] { return pair_->operational(); }, 5s));
    for (int arm : {0, 1}) ASSERT_TRUE(sims_[arm]->WaitMatched(sn_[arm], 5s, {"motion_commands"}));
  }
  bool SetModes(PerArm<Mode> modes) {
    sims_[0]->Set(sn_[0], {{"mode", static_cast<int>(modes.first)}});
    sims_[1]->Set(sn_[1], {{"mode", static_cast<int>(modes.second)}});
    return WaitUntil([&] { return pair_->mode() == modes; }, 3s);
  }
  // Requests each controller recorded, motion commands each arm published.
  std::array<uint64_t, 4> Received() {
    const auto arms = pair_->instances();
    return {RequestTotal(*sims_[0], sn_[0]), RequestTotal(*sims_[1], sn_[1]),
            vek::detail::RobotAccess::impl(*arms.first)->MotionCommandCounter(),
            vek::detail::RobotAccess::impl(*arms.second)->MotionCommandCounter()};
  }

  const std::array<std::string, 2> sn_ = {UniqueSerial("Varno4"), UniqueSerial("Varno4")};
  std::unique_ptr<SimProcess> sims_[2];
  std::unique_ptr<RobotPair> pair_;
};

TEST_F(PairArgumentChecksTest, SecondArmRefusedBeforeEitherArmIsCommanded) {
  RobotPair& p = *pair_;
  const Mode joint = Mode::NRT_JOINT_POSITION;
  const std::string in = "](second) Input parameter [",
                    quaternion = "] contains an invalid quaternion";
  const struct {
    PerArm<Mode> modes;
    std::function<void()> call;
    std::string text;
    bool logic_error = false;  // else std::invalid_argument
  } rows[] = {
      // clang-format off
      // Concurrent commands.
      {{joint, joint}, [&] { p.SendJointPosition({kQ.first, kQ.first}, kZeros, kOnes, kOnes); },
       kOp + "SendJointPosition](second) Size of input vector [positions] does not match robot "
             "DoF"},
      {{Mode::IDLE, Mode::IDLE}, [&] { p.SwitchMode({Mode::NRT_PLAN_EXECUTION, Mode::UNKNOWN}); },
       kOp + "SwitchMode](second) Invalid control mode input"},
      // Sequential commands.
      {{Mode::RT_JOINT_POSITION, Mode::RT_JOINT_POSITION},
       [&] { p.StreamJointPosition({kQ.first, {kNaN, 0, 0, 0, 0, 0}}, kZeros, kZeros); },
       kOp + "StreamJointPosition" + in + "positions] contains a non-finite value"},
      // An argument error leaves this one as a logic error, as it would from the arm.
      {{Mode::RT_CARTESIAN_MOTION_FORCE, Mode::RT_CARTESIAN_MOTION_FORCE},
       [&] { p.StreamCartesianMotionForce({kPose, kZeroQuaternion}, {}, {}, {}); },
       kOp + "StreamCartesianMotionForce" + in + "pose" + quaternion, true},
      // clang-format on
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(SetModes(row.modes)) << row.text;
    const std::array<uint64_t, 4> received = Received();
    EXPECT_TRUE(row.logic_error ? Throws<std::logic_error>(row.call, row.text)
                                : Throws<std::invalid_argument>(row.call, row.text));
    EXPECT_EQ(Received(), received) << row.text;
  }
  // The arms' first motion commands are the only ones their controllers record.
  ASSERT_TRUE(SetModes({joint, joint}));
  p.SendJointPosition(kQ, kZeros, kOnes, kOnes);
  for (int arm : {0, 1}) {
    EXPECT_TRUE(WaitUntil([&] { return sims_[arm]->MotionCommands(sn_[arm])["total"] == 1; }, 3s));
  }
}

}  // namespace
}  // namespace quiral::bivek
