// Status queries of a Robot against the simulated controller: the
// operational status and flags, modes the client does not know and the
// timeliness limit.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;

class RobotStatusTest : public RobotTest {};

TEST_F(RobotStatusTest, OperationalStatusMatrix) {
  using S = OperationalStatus;
  // clang-format off
  const struct {
    int board, system;
    bool estop;
    S expected;
  } rows[] = {
      {24, 4, false, S::RELEASING_BRAKE},  {72, 4, true, S::ESTOP_NOT_RELEASED},
      {72, 4, false, S::NOT_ENABLED},      {40, 15, false, S::CRITICAL_FAULT},
      {9, 18, false, S::IN_RECOVERY_STATE}, {10, 15, true, S::IN_REDUCED_STATE},
      {0, 1, false, S::BOOTING},           {136, 5, false, S::READY},
      {12, 2, false, S::IN_MANUAL_MODE},   {136, 12, false, S::IN_AUTO_MODE},
      {12, 13, false, S::MINOR_FAULT},     {136, 15, false, S::MINOR_FAULT},
      {136, 16, false, S::UNKNOWN},        {-1, 4, false, S::UNKNOWN},
      {14, 5, false, S::UNKNOWN}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.board) + " " + std::to_string(row.system) + " " +
                 std::to_string(row.estop));
    env_->Set(
        {{"estop", row.estop}, {"safety_board_state", row.board}, {"system_state", row.system}});
    EXPECT_EQ(robot().operational_status(), row.expected);
    EXPECT_EQ(robot().operational(),
              row.expected == S::READY || row.expected == S::IN_REDUCED_STATE);
    EXPECT_EQ(robot().fault(), row.system >= 13 && row.system <= 15);
    EXPECT_EQ(robot().reduced(), row.board == 10);
    EXPECT_EQ(robot().recovery(), row.board == 9);
    EXPECT_EQ(robot().estop_released(), !row.estop);
  }
}

// A mode the client does not know reads as UNKNOWN; a refused limit (NaN
// too) leaves the limit as it was.
TEST_F(RobotStatusTest, ModeEnablingButtonAndTimelinessLimit) {
  env_->sim.Set(env_->serial, {{"mode", 13}});
  EXPECT_TRUE(WaitUntil([&] { return robot().mode() == Mode::UNKNOWN; }, 2s));
  robot().SetTimelinessFailureLimit(100);
  robot().SetTimelinessFailureLimit(0);
  for (const double bad : {100.5, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { robot().SetTimelinessFailureLimit(bad); },
        P("SetTimelinessFailureLimit") +
            " Input parameter [percentage] is outside the valid range"));
  }
  EXPECT_EQ(detail::RobotAccess::client(robot())->timeliness_failure_limit.load(), 0.0);
}

}  // namespace
}  // namespace quiral::vek
