// Status queries of a Robot against the simulated controller: the
// operational status from the safety-board, system and e-stop states, the
// flags, the control mode, standstill, the timeliness limit, the event log
// and the plan queries.
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
  const struct {
    int board, system;
    bool estop;
    S expected;
  } rows[] = {{24, 4, false, S::RELEASING_BRAKE},
              {72, 4, true, S::ESTOP_NOT_RELEASED},
              {72, 4, false, S::NOT_ENABLED},
              {40, 15, false, S::CRITICAL_FAULT},
              {9, 18, false, S::IN_RECOVERY_STATE},
              {10, 0, false, S::IN_REDUCED_STATE},
              {10, 15, true, S::IN_REDUCED_STATE},
              {0, 1, false, S::BOOTING},
              {12, 4, false, S::READY},
              {136, 5, false, S::READY},
              {12, 2, false, S::IN_MANUAL_MODE},
              {136, 9, false, S::IN_MANUAL_MODE},
              {12, 11, false, S::IN_MANUAL_MODE},
              {12, 3, false, S::IN_AUTO_MODE},
              {136, 10, false, S::IN_AUTO_MODE},
              {12, 12, false, S::IN_AUTO_MODE},
              {12, 13, false, S::MINOR_FAULT},
              {136, 14, false, S::MINOR_FAULT},
              {12, 15, false, S::MINOR_FAULT},
              {12, 1, false, S::UNKNOWN},
              {12, 8, false, S::UNKNOWN},
              {136, 16, false, S::UNKNOWN},
              {12, 19, false, S::UNKNOWN},
              {12, -3, false, S::UNKNOWN},
              {-1, 4, false, S::UNKNOWN},
              {8, 4, false, S::UNKNOWN},
              {14, 5, false, S::UNKNOWN},
              {11, 4, false, S::UNKNOWN}};
  for (const auto& row : rows) {
    SCOPED_TRACE("board " + std::to_string(row.board) + ", system " + std::to_string(row.system) +
                 (row.estop ? ", e-stop" : ""));
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

TEST_F(RobotStatusTest, ModeProgramAndInputs) {
  // Consecutive values differ, so each wait sees the new sample.
  const std::vector<std::pair<int, Mode>> modes = {{5, Mode::RT_JOINT_POSITION},
                                                   {65535, Mode::UNKNOWN},
                                                   {12, Mode::AUTO_RECOVERY},
                                                   {13, Mode::UNKNOWN},
                                                   {11, Mode::NRT_SUPER_PRIMITIVE}};
  for (const auto& [raw, expected] : modes) {
    env_->sim.Set(env_->serial, {{"mode", raw}});
    EXPECT_TRUE(WaitUntil([&, expected = expected] { return robot().mode() == expected; }, 2s))
        << raw;
  }
  env_->sim.Set(env_->serial, {{"program_running", true}});
  EXPECT_TRUE(WaitUntil([&] { return robot().busy(); }, 2s));
  env_->Set({{"enabling_button", true}});
  EXPECT_TRUE(robot().enabling_button_pressed());

  const RobotStates states = robot().states();
  EXPECT_EQ(states.motor_velocity.size(), 7u);
  EXPECT_NEAR(states.link_position[3], 1.57, 1e-6);
  EXPECT_EQ(robot().actions().position_des.size(), 7u);
}

TEST_F(RobotStatusTest, TimelinessLimitAndEventLog) {
  const auto client = detail::RobotAccess::client(robot());
  EXPECT_NO_THROW(robot().SetTimelinessFailureLimit(100));
  EXPECT_EQ(client->timeliness_failure_limit.load(), 100.0);
  EXPECT_NO_THROW(robot().SetTimelinessFailureLimit(0));
  for (const double bad : {100.5, -0.1, std::numeric_limits<double>::quiet_NaN(),
                           -std::numeric_limits<double>::infinity()}) {
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { robot().SetTimelinessFailureLimit(bad); },
        P("SetTimelinessFailureLimit") +
            " Input parameter [percentage] is outside the valid range"))
        << bad;
  }
  // A refused NaN leaves the limit as it was, so the flag still works.
  EXPECT_EQ(client->timeliness_failure_limit.load(), 0.0);
  EXPECT_FALSE(robot().reached_timeliness_failure_limit());
  const uint64_t before = env_->sim.State(env_->serial)["timeliness_failures"].get<uint64_t>();
  env_->sim.Set(env_->serial, {{"timeliness_failures", before + 3}});
  EXPECT_TRUE(WaitUntil([&] { return robot().reached_timeliness_failure_limit(); }, 3s));
  robot().SetTimelinessFailureLimit(2.0);
  EXPECT_TRUE(WaitUntil([&] { return !robot().reached_timeliness_failure_limit(); }, 3s));

  // Every entry is kept, the same id twice too.
  ASSERT_TRUE(env_->sim.WaitMatched(env_->serial, 5s, {"event_log"}));
  const size_t logged = robot().event_log().size();
  env_->sim.Command("event", {{"serial", env_->serial},
                              {"level", 2},
                              {"event_id", 4101},
                              {"description", "Joint 3 warm"}});
  env_->sim.Command(
      "event", {{"serial", env_->serial}, {"level", 7}, {"event_id", 4101}, {"consequences", "c"}});
  ASSERT_TRUE(WaitUntil([&] { return robot().event_log().size() == logged + 2; }, 3s));
  const auto log = robot().event_log();
  EXPECT_EQ(log[logged].id, 4101);
  EXPECT_EQ(log[logged].description, "Joint 3 warm");
  EXPECT_EQ(log[logged + 1].level, 7);
  EXPECT_EQ(log[logged + 1].consequences, "c");
}

TEST_F(RobotStatusTest, PlanQueries) {
  const size_t data_before = env_->sim.DataRequests(env_->serial)["total"].get<size_t>();
  EXPECT_TRUE(
      Throws<std::logic_error>([&] { robot().plan_info(); },
                               P("plan_info") + " Robot is not in an applicable control mode"));
  EXPECT_EQ(env_->sim.DataRequests(env_->serial)["total"].get<size_t>(), data_before);

  EXPECT_EQ(robot().plan_list(), (std::vector<std::string>{"HomePlan", "MainPlan", "WaitPlan"}));
  env_->sim.Fault(env_->serial, {{"procedure_id", 23}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>([&] { robot().plan_list(); },
                                         P("plan_list") + " No reply from the robot"));

  env_->Ready(Mode::NRT_PLAN_EXECUTION);
  const PlanInfo info = robot().plan_info();
  EXPECT_EQ(info.item_3, "0");
  EXPECT_EQ(info.item_6, 1.0);
  env_->sim.Fault(env_->serial, {{"service", "data"}, {"request_id", 3}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>([&] { robot().plan_info(); },
                                         P("plan_info") + " No reply from the robot"));
}

}  // namespace
}  // namespace quiral::vek
