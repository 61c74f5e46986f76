// Plans, primitives, global variables and primitive states of a Robot
// against the simulated controller: the order of the checks with nothing
// sent when one fails, the requests the controller receives, and plans
// that run, pause, halt at breakpoints and stop.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <typeinfo>
#include <vector>

#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;
using namespace std::string_literals;
using Params = std::map<std::string, ParamVariant>;

std::string ModeText(const std::string& operation) {
  return P(operation) + " Robot is not in an applicable control mode";
}

class RobotPlansTest : public RobotTest {
 protected:
  void SetUp() override {
    RobotTest::SetUp();
    env_->sim.Set(env_->serial, {{"plans", {"HomePlan", "MainPlan", "WaitPlan"}},
                                 {"global_variables", {{"counter", "0"}, {"label", "idle"}}},
                                 {"primitive_states", nullptr}});
  }
  // Milliseconds from the controller's receipt of the one request `call`
  // sends to the return of `call`.
  double MsAfterReceipt(const std::function<void()>& call) {
    const int64_t t_ns = env_->SentBy(call).value("t_ns", int64_t{0});
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return (std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() - t_ns) / 1e6;
  }
  json Program() { return env_->sim.State(env_->serial)["program"]; }
};

TEST_F(RobotPlansTest, ChecksComeFirstAndNothingIsSent) {
  Robot& r = robot();
  const std::string long_name(10001, 'x');
  const Params long_params = {{"a", std::string(10000, 'y')}};
  // Wrong mode (the shared check), whatever the arguments; the gate before
  // the mode for the two start operations only; then the arguments.
  const Mode idle = Mode::IDLE, plan = Mode::NRT_PLAN_EXECUTION;
  const std::type_info &state = typeid(std::logic_error), &gate = typeid(std::runtime_error),
                       &input = typeid(std::invalid_argument), &size = typeid(std::length_error);
  const std::string exec = P("ExecutePlan"), prim_op = P("ExecutePrimitive");
  const std::string name = exec + " Input parameter [plan_name]";
  const std::string not_enabled = " Robot is not operational: Not enabled";
  const std::string nul = " contains a null character";
  const struct {
    int board;
    Mode mode;
    const std::type_info& type;
    std::function<void()> call;
    std::string text;
  } rows[] = {
      // clang-format off
      {12, idle, state, [&] { r.ExecutePlan(long_name, false, false); }, ModeText("ExecutePlan")},
      {72, idle, gate, [&] { r.ExecutePlan("MainPlan", false, false); }, exec + not_enabled},
      {72, idle, gate, [&] { r.ExecutePrimitive("H", long_params, false); }, prim_op + not_enabled},
      {12, plan, input, [&] { r.ExecutePlan("M\0P"s, false, false); }, name + nul},
      {12, plan, size, [&] { r.ExecutePlan(long_name, false, false); },
       name + " is too long to transmit (requires 10001/10000 bytes of bandwidth)"},
      {12, plan, input, [&] { r.SetVelocityScale(4294967295u); },
       P("SetVelocityScale") + " Input parameter [velocity_scale] cannot exceed 100%"}};
  // clang-format on
  for (const auto& row : rows) {
    env_->Put(row.board, 4, row.mode);
    const size_t before = env_->OpsTotal();
    EXPECT_TRUE(ThrowsAs(row.type, row.call, row.text));
    EXPECT_EQ(env_->OpsTotal(), before) << row.text;
  }
  // No gate for the others.
  env_->NotEnabled(Mode::NRT_PLAN_EXECUTION);
  EXPECT_EQ(env_->SentBy([&] { r.PausePlan(true); })["procedure_id"], 24);

  // By index: the plan list is fetched first.
  env_->Ready(Mode::NRT_PLAN_EXECUTION);
  EXPECT_EQ(env_->SentBy([&] {
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { r.ExecutePlan(3u, false, false); },
        P("ExecutePlan") + " Input parameter [index] is outside the valid range"));
  })["procedure_id"],
            23);
}

TEST_F(RobotPlansTest, PlansRunPauseHaltAtBreakpointsAndStop) {
  Robot& robot = this->robot();
  env_->sim.Set(
      env_->serial,
      {{"plans",
        {{{"name", "Alpha"}, {"duration_ms", 6000}}, {{"name", "Beta"}, {"duration_ms", 1500}}}}});
  env_->Switch(Mode::NRT_PLAN_EXECUTION);
  // Started by name; the call returns once the robot has acknowledged it.
  EXPECT_LT(MsAfterReceipt([&] { robot.ExecutePlan("Alpha", true, false); }), 250.0);
  json request = env_->Requests(0, 22).back();
  EXPECT_EQ(request["long_string"], "Alpha");
  EXPECT_EQ(request["int_args"], json::array({1}));
  EXPECT_TRUE(WaitUntil([&] { return robot.busy(); }, 3s));
  EXPECT_EQ(robot.plan_info().item_0, "Alpha");
  // The velocity scale as the plan reports it; pause, resume and stop,
  // without arguments.
  EXPECT_EQ(env_->SentBy([&] { robot.SetVelocityScale(100); })["int_args"], json({100}));
  EXPECT_DOUBLE_EQ(robot.plan_info().item_6, 1.0);
  const std::tuple<std::function<void()>, int, std::string, bool> plain[] = {
      {[&] { robot.PausePlan(true); }, 24, "paused", true},
      {[&] { robot.PausePlan(false); }, 25, "paused", false},
      {[&] { robot.StopPlan(); }, 26, "finished", true}};
  for (const auto& [call, procedure, flag, value] : plain) {
    request = env_->SentBy(call);
    EXPECT_EQ(request["procedure_id"], procedure);
    EXPECT_TRUE(request["int_args"].empty());
    EXPECT_EQ(Program()[flag], value) << procedure;
  }
  EXPECT_TRUE(WaitUntil([&] { return !robot.busy(); }, 3s));

  // Breakpoints: the plan halts at its next node until stepped on. By
  // index: the plan list, then the plan by name; the wait for the start is
  // 300 ms.
  EXPECT_EQ(env_->SentBy([&] { robot.SetBreakpointMode(true); })["int_args"], json({1}));
  const size_t before = env_->OpsTotal();
  const auto start = std::chrono::steady_clock::now();
  robot.ExecutePlan(1u, false, true);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  const std::vector<json> sent = env_->Requests(before);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0]["procedure_id"], 23);
  EXPECT_EQ(sent[1]["long_string"], "Beta");
  EXPECT_EQ(sent[1]["int_args"], json::array({0}));
  EXPECT_TRUE(WaitUntil([&] { return robot.plan_info().item_7; }, 3s, 20ms));
  EXPECT_EQ(env_->SentBy([&] { robot.StepBreakpoint(); })["procedure_id"], 28);
  EXPECT_EQ(env_->SentBy([&] { robot.SetBreakpointMode(false); })["int_args"], json::array({0}));
  EXPECT_TRUE(WaitUntil([&] { return !robot.busy(); }, 5s));

}

// Not waiting returns at once, waiting for the start takes 300 ms.
TEST_F(RobotPlansTest, PrimitivesWaitForTheirStartOnlyWhenAsked) {
  Robot& robot = this->robot();
  env_->Switch(Mode::NRT_PRIMITIVE_EXECUTION);
  EXPECT_LT(MsAfterReceipt([&] { robot.ExecutePrimitive("MoveL", {{"vel", 0.5}}, false); }), 250.0);
  EXPECT_EQ(env_->Requests(0, 21).back()["long_string"], "MoveL(vel = 0.5)");
  EXPECT_TRUE(WaitUntil([&] { return robot.busy(); }, 3s));
  EXPECT_GE(MsAfterReceipt([&] { robot.ExecutePrimitive("Home", {}, true); }), 300.0);
}

TEST_F(RobotPlansTest, GlobalVariablesAreReadAndWritten) {
  // Written in name order after the names were read.
  size_t before = env_->OpsTotal();
  robot().SetGlobalVariables({{"label", "busy"}, {"counter", 5}});
  const std::vector<json> sent = env_->Requests(before);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0]["procedure_id"], 11);
  EXPECT_EQ(sent[1]["long_string"], "counter = 5, label = busy");
  EXPECT_EQ(robot().global_variables(), (Params{{"counter", 5}, {"label", "busy"s}}));
  // Refused before anything is written; the read's failure passes through.
  const std::string set = P("SetGlobalVariables");
  before = env_->OpsTotal();
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        robot().SetGlobalVariables({{"counter", 1}, {"nope", 2}});
      },
      set + " The specified global variable [nope] does not exist"));
  EXPECT_TRUE(env_->Requests(before, 12).empty());
  env_->FailsOnce(
      11,
      [&] {
        robot().SetGlobalVariables({{"counter", 1}});
      },
      P("global_variables") + " No reply from the robot");
}

TEST_F(RobotPlansTest, PrimitiveStatesAreAskedForAgainWhileCorrupted) {
  auto requests = [&] { return env_->sim.DataRequests(env_->serial)["total"].get<size_t>(); };
  EXPECT_TRUE(robot().primitive_states().empty());  // no primitive has run
  // A reply holding an empty text is asked for again, six times in all.
  env_->sim.Fault(env_->serial, {{"service", "data"}, {"request_id", 2}, {"kind", "custom_reply"},
                                 {"count", 6}, {"reply", {{"string_container", {"x = 0", ""}}}}});
  const size_t before = requests();
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { robot().primitive_states(); },
      P("primitive_states") + " Still received corrupted data after several attempts"));
  EXPECT_EQ(requests(), before + 6);
}

}  // namespace
}  // namespace quiral::vek
