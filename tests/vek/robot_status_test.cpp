// Status queries of a Robot against the simulated controller: the
// operational status and flags, and the timeliness limit.
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
  // The estop input splits the stop states; the safety board speaks before
  // the system state; a board state without a rule is UNKNOWN.
  const struct {
    int board, system;
    bool estop;
    S expected;
  } rows[] = {{72, 4, true, S::ESTOP_NOT_RELEASED}, {72, 4, false, S::NOT_ENABLED},
              {10, 15, true, S::IN_REDUCED_STATE},  {136, 5, false, S::READY},
              {12, 13, false, S::MINOR_FAULT},      {14, 5, false, S::UNKNOWN}};
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

// A refused limit (NaN too) leaves the limit as it was.
TEST_F(RobotStatusTest, ModeEnablingButtonAndTimelinessLimit) {
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
