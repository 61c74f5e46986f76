// Status queries of a Robot against the simulated controller: the
// operational status from the safety-board, system and e-stop states, the
// flags, the control mode, standstill, the timeliness limit, the event log
// and the plan queries.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/vek_client.h"
#include "tests/vek/robot_test_util.h"
#include "vek/robot.h"
#include "vek/robot_access.h"
#include "vek/robot_impl.h"

namespace quiral::vek {
namespace {

using namespace testing_util;

// One simulator and one Robot for every case of the suite.
class RobotStatusTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    serial_ = new std::string(UniqueSerial("Varno4"));
    sim_ = new SimProcess({*serial_}, {"--initial-state", "ready"});
    robot_ = MakeRobot(*serial_).release();
  }
  static void TearDownTestSuite() {
    delete robot_;
    delete sim_;
    delete serial_;
  }
  void SetUp() override {
    // Every case starts from a ready, idle robot at rest.
    sim_->ClearFaults(*serial_);
    ASSERT_TRUE(SyncedSet(*sim_, *serial_, *robot_, ReadyState()));
  }

  void SetAndSync(const json& fields) { ASSERT_TRUE(SyncedSet(*sim_, *serial_, *robot_, fields)); }

  static std::string* serial_;
  static SimProcess* sim_;
  static Robot* robot_;
};

std::string* RobotStatusTest::serial_ = nullptr;
SimProcess* RobotStatusTest::sim_ = nullptr;
Robot* RobotStatusTest::robot_ = nullptr;

TEST_F(RobotStatusTest, OperationalStatusMatrix) {
  using S = OperationalStatus;
  struct Row {
    int board;
    int system;
    bool estop;
    S expected;
  };
  const std::vector<Row> rows = {
      {24, 4, false, S::RELEASING_BRAKE},
      {72, 4, true, S::ESTOP_NOT_RELEASED},
      {72, 4, false, S::NOT_ENABLED},
      {40, 15, false, S::CRITICAL_FAULT},
      {9, 18, false, S::IN_RECOVERY_STATE},
      {10, 0, false, S::IN_REDUCED_STATE},
      {10, 15, true, S::IN_REDUCED_STATE},
      {0, 1, false, S::BOOTING},
      {12, 4, false, S::READY},
      {12, 5, false, S::READY},
      {136, 4, false, S::READY},
      {136, 5, false, S::READY},
      {12, 2, false, S::IN_MANUAL_MODE},
      {12, 6, false, S::IN_MANUAL_MODE},
      {136, 9, false, S::IN_MANUAL_MODE},
      {12, 11, false, S::IN_MANUAL_MODE},
      {12, 3, false, S::IN_AUTO_MODE},
      {12, 7, false, S::IN_AUTO_MODE},
      {136, 10, false, S::IN_AUTO_MODE},
      {12, 12, false, S::IN_AUTO_MODE},
      {12, 13, false, S::MINOR_FAULT},
      {136, 14, false, S::MINOR_FAULT},
      {12, 15, false, S::MINOR_FAULT},
      {12, 0, false, S::UNKNOWN},
      {12, 1, false, S::UNKNOWN},
      {12, 8, false, S::UNKNOWN},
      {12, 16, false, S::UNKNOWN},
      {136, 17, false, S::UNKNOWN},
      {12, 18, false, S::UNKNOWN},
      {12, 19, false, S::UNKNOWN},
      {12, -3, false, S::UNKNOWN},
      {-1, 4, false, S::UNKNOWN},
      {8, 4, false, S::UNKNOWN},
      {14, 5, false, S::UNKNOWN},
      {11, 4, false, S::UNKNOWN},
      {1000, 4, false, S::UNKNOWN},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("board " + std::to_string(row.board) + ", system " + std::to_string(row.system) +
                 (row.estop ? ", e-stop" : ""));
    // "estop" is applied first, then the raw states.
    SetAndSync(
        {{"estop", row.estop}, {"safety_board_state", row.board}, {"system_state", row.system}});
    EXPECT_EQ(robot_->operational_status(), row.expected);
    EXPECT_EQ(robot_->operational(),
              row.expected == S::READY || row.expected == S::IN_REDUCED_STATE);
    EXPECT_EQ(robot_->fault(), row.system >= 13 && row.system <= 15);
    EXPECT_EQ(robot_->reduced(), row.board == 10);
    EXPECT_EQ(robot_->recovery(), row.board == 9);
    EXPECT_EQ(robot_->estop_released(), !row.estop);
  }
}

TEST_F(RobotStatusTest, ModeProgramInputsAndStandstill) {
  // Consecutive values differ, so each wait sees the new sample.
  const std::vector<std::pair<int, Mode>> modes = {
      {5, Mode::RT_JOINT_POSITION},
      {65535, Mode::UNKNOWN},
      {12, Mode::AUTO_RECOVERY},
      {13, Mode::UNKNOWN},
      {1, Mode::IDLE},
      {0, Mode::UNKNOWN},
      {11, Mode::NRT_SUPER_PRIMITIVE},
  };
  for (const auto& [raw, expected] : modes) {
    sim_->Set(*serial_, {{"mode", raw}});
    EXPECT_TRUE(WaitUntil([&] { return robot_->mode() == expected; }, 2s)) << raw;
  }

  sim_->Set(*serial_, {{"program_running", true}});
  EXPECT_TRUE(WaitUntil([&] { return robot_->busy(); }, 2s));
  sim_->Set(*serial_, {{"program_running", nullptr}});
  EXPECT_TRUE(WaitUntil([&] { return !robot_->busy(); }, 2s));

  SetAndSync({{"enabling_button", true}});
  EXPECT_TRUE(robot_->enabling_button_pressed());
  SetAndSync({{"enabling_button", false}});
  EXPECT_FALSE(robot_->enabling_button_pressed());

  // The motor velocities travel as 32-bit floats; 0.017 itself does not
  // survive that exactly, so the edge is tested without the wire.
  const std::vector<double> moving(7, 0.5);
  std::vector<double> slow(7, 0.0169);
  slow[6] = -0.0169;
  std::vector<double> one_joint(7, 0.0);
  one_joint[3] = -0.0172;
  SetAndSync({{"velocity_override", moving}});
  EXPECT_FALSE(robot_->stopped());
  SetAndSync({{"velocity_override", slow}});
  EXPECT_TRUE(robot_->stopped());
  SetAndSync({{"velocity_override", one_joint}});
  EXPECT_FALSE(robot_->stopped());
  SetAndSync({{"velocity_override", nullptr}});
  EXPECT_TRUE(robot_->stopped());

  const RobotStates states = robot_->states();
  EXPECT_EQ(states.link_position.size(), 7u);
  EXPECT_EQ(states.motor_velocity.size(), 7u);
  EXPECT_NEAR(states.link_position[3], 1.57, 1e-6);
  const RobotActions actions = robot_->actions();
  EXPECT_EQ(actions.position_des.size(), 7u);
}

TEST_F(RobotStatusTest, TimelinessLimit) {
  const auto client = detail::RobotAccess::client(*robot_);
  const std::string range_error =
      "[quiral::vek::Robot::SetTimelinessFailureLimit] Input parameter [percentage] is outside the "
      "valid range";
  EXPECT_NO_THROW(robot_->SetTimelinessFailureLimit(100));
  EXPECT_EQ(client->timeliness_failure_limit.load(), 100.0);
  EXPECT_NO_THROW(robot_->SetTimelinessFailureLimit(0));
  for (const double bad :
       {100.5, -0.1, std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
    EXPECT_TRUE(
        Throws<std::invalid_argument>([&] { robot_->SetTimelinessFailureLimit(bad); }, range_error))
        << bad;
  }
  // A refused NaN leaves the limit as it was, so the flag still works.
  EXPECT_EQ(client->timeliness_failure_limit.load(), 0.0);
  EXPECT_FALSE(robot_->reached_timeliness_failure_limit());
  const uint64_t before = sim_->State(*serial_)["timeliness_failures"].get<uint64_t>();
  sim_->Set(*serial_, {{"timeliness_failures", before + 3}});
  EXPECT_TRUE(WaitUntil([&] { return robot_->reached_timeliness_failure_limit(); }, 3s));
  robot_->SetTimelinessFailureLimit(2.0);
  EXPECT_TRUE(WaitUntil([&] { return !robot_->reached_timeliness_failure_limit(); }, 3s));
}

TEST_F(RobotStatusTest, EventLogKeepsEveryEntry) {
  ASSERT_TRUE(sim_->WaitMatched(*serial_, 5s, {"event_log"}));
  const size_t before = robot_->event_log().size();
  sim_->Command(
      "event",
      {{"serial", *serial_}, {"level", 2}, {"event_id", 4101}, {"description", "Joint 3 warm"}});
  ASSERT_TRUE(WaitUntil([&] { return robot_->event_log().size() == before + 1; }, 3s));
  sim_->Command("event", {{"serial", *serial_},
                          {"level", 7},
                          {"event_id", 4101},
                          {"description", "again"},
                          {"consequences", "c"}});
  ASSERT_TRUE(WaitUntil([&] { return robot_->event_log().size() == before + 2; }, 3s));
  const auto log = robot_->event_log();
  EXPECT_EQ(log[before].level, 2);
  EXPECT_EQ(log[before].id, 4101);
  EXPECT_EQ(log[before].description, "Joint 3 warm");
  EXPECT_EQ(log[before + 1].level, 7);
  EXPECT_EQ(log[before + 1].consequences, "c");
  EXPECT_LE(log[before].timestamp, log[before + 1].timestamp);
}

TEST_F(RobotStatusTest, PlanQueries) {
  const size_t data_before = sim_->DataRequests(*serial_)["total"].get<size_t>();
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] { robot_->plan_info(); },
      "[quiral::vek::Robot::plan_info] Robot is not in an applicable control mode"));
  EXPECT_EQ(sim_->DataRequests(*serial_)["total"].get<size_t>(), data_before);

  EXPECT_EQ(robot_->plan_list(), (std::vector<std::string>{"HomePlan", "MainPlan", "WaitPlan"}));
  sim_->Fault(*serial_, {{"procedure_id", 23}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { robot_->plan_list(); }, "[quiral::vek::Robot::plan_list] No reply from the robot"));

  sim_->Set(*serial_, {{"mode", 7}});
  ASSERT_TRUE(WaitUntil([&] { return robot_->mode() == Mode::NRT_PLAN_EXECUTION; }, 2s));
  const PlanInfo info = robot_->plan_info();
  EXPECT_EQ(info.item_0, "");
  EXPECT_EQ(info.item_3, "0");
  EXPECT_EQ(info.item_6, 1.0);
  EXPECT_FALSE(info.item_7);
  sim_->Fault(*serial_, {{"service", "data"}, {"request_id", 3}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { robot_->plan_info(); }, "[quiral::vek::Robot::plan_info] No reply from the robot"));
}

}  // namespace
}  // namespace quiral::vek
