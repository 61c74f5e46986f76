// Plans and primitives of a Robot against the simulated controller: the
// order of the checks with nothing sent when one fails, the requests and
// texts the controller receives, plans that run, pause, halt at breakpoints
// and stop, and primitive calls at the length limit.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;
using Params = std::map<std::string, ParamVariant>;

std::string ModeText(const std::string& operation) {
  return P(operation) + " Robot is not in an applicable control mode";
}
std::string TooLong(const std::string& operation, const std::string& what, int bytes) {
  return P(operation) + " " + what + " is too long to transmit (requires " + std::to_string(bytes) +
         "/10000 bytes of bandwidth)";
}

class RobotPlansTest : public RobotTest {
 protected:
  // The controller's own plans, none of them running.
  void SetUp() override {
    RobotTest::SetUp();
    env_->impl().client->operations_rpc.SwitchCtrlMode(qor::ExtCtrlMode::IDLE);
    env_->sim.Set(env_->serial, {{"plans", {"HomePlan", "MainPlan", "WaitPlan"}}});
  }
  // Runs `call`, which must send one request, and returns the milliseconds
  // from the controller's receipt of it to the return of `call` (both on
  // the monotonic clock): the reply's way back and any wait after it.
  double MsAfterReceipt(const std::function<void()>& call, json* request = nullptr) {
    const size_t before = env_->OpsTotal();
    call();
    const auto end = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    const json sent = env_->OnlyRequestSince(before);
    if (request != nullptr) *request = sent;
    return static_cast<double>(end - sent.value("t_ns", end)) / 1e6;
  }
  json SentBy(const std::function<void()>& call) { return env_->SentBy(call); }
  template <typename E>
  void Refused(const std::function<void()>& call, const std::string& text) {
    env_->Refused<E>(call, text);
  }
  json Program() { return env_->sim.State(env_->serial)["program"]; }
};

TEST_F(RobotPlansTest, ChecksComeFirstAndNothingIsSent) {
  Robot& robot = this->robot();
  const std::string too_long(10001, 'x');
  const Params too_long_params = {{"a", std::string(10000, 'y')}};

  // Wrong mode: nothing is sent, whatever the arguments.
  const std::vector<std::pair<std::string, std::function<void()>>> in_idle = {
      {"ExecutePlan", [&] { robot.ExecutePlan(too_long, false, false); }},
      {"PausePlan", [&] { robot.PausePlan(true); }},
      {"PausePlan", [&] { robot.PausePlan(false); }},
      {"StopPlan", [&] { robot.StopPlan(); }},
      {"SetBreakpointMode", [&] { robot.SetBreakpointMode(true); }},
      {"StepBreakpoint", [&] { robot.StepBreakpoint(); }},
      {"SetVelocityScale", [&] { robot.SetVelocityScale(101); }},
      {"ExecutePrimitive", [&] { robot.ExecutePrimitive("Home", too_long_params, false); }}};
  for (const auto& [operation, call] : in_idle)
    Refused<std::logic_error>(call, ModeText(operation));
  // Plan execution does not take primitives, nor the reverse.
  env_->Ready(Mode::NRT_PLAN_EXECUTION);
  Refused<std::logic_error>([&] { robot.ExecutePrimitive("Home", {}, false); },
                            ModeText("ExecutePrimitive"));
  env_->Ready(Mode::NRT_PRIMITIVE_EXECUTION);
  Refused<std::logic_error>([&] { robot.ExecutePlan("MainPlan", false, false); },
                            ModeText("ExecutePlan"));
  Refused<std::logic_error>([&] { robot.StopPlan(); }, ModeText("StopPlan"));

  // The gate comes before the mode, for the two start operations only.
  env_->NotEnabled(Mode::IDLE);
  Refused<std::runtime_error>([&] { robot.ExecutePlan("MainPlan", false, false); },
                              P("ExecutePlan") + " Robot is not operational: Not enabled");
  Refused<std::runtime_error>([&] { robot.ExecutePrimitive("Home", too_long_params, false); },
                              P("ExecutePrimitive") + " Robot is not operational: Not enabled");
  env_->NotEnabled(Mode::NRT_PLAN_EXECUTION);
  EXPECT_EQ(SentBy([&] { robot.PausePlan(true); })["procedure_id"], 24);

  // By index: the plan list is fetched first, even in the wrong mode.
  env_->Ready(Mode::IDLE);
  EXPECT_EQ(SentBy([&] {
              EXPECT_TRUE(Throws<std::logic_error>([&] { robot.ExecutePlan(1u, false, false); },
                                                   ModeText("ExecutePlan")));
            })["procedure_id"],
            23);
  const std::string index_error =
      P("ExecutePlan") + " Input parameter [index] is outside the valid range";
  env_->Ready(Mode::NRT_PLAN_EXECUTION);
  EXPECT_EQ(SentBy([&] {
              EXPECT_TRUE(Throws<std::invalid_argument>(
                  [&] { robot.ExecutePlan(3u, false, false); }, index_error));
            })["procedure_id"],
            23);
  env_->FailsOnce(
      23, [&] { robot.ExecutePlan(0u, false, false); },
      P("plan_list") + " No reply from the robot");
  env_->sim.Set(env_->serial, {{"plans", json::array()}});
  EXPECT_TRUE(
      Throws<std::invalid_argument>([&] { robot.ExecutePlan(0u, false, false); }, index_error));

  // Arguments, after gate and mode.
  Refused<std::invalid_argument>(
      [&] { robot.ExecutePlan(std::string("Main\0Plan", 9), false, false); },
      P("ExecutePlan") + " Input parameter [plan_name] contains a null character");
  Refused<std::length_error>([&] { robot.ExecutePlan(too_long, false, false); },
                             TooLong("ExecutePlan", "Input parameter [plan_name]", 10001));
  for (const unsigned int scale : {101u, 4294967295u}) {
    Refused<std::invalid_argument>(
        [&] { robot.SetVelocityScale(scale); },
        P("SetVelocityScale") + " Input parameter [velocity_scale] cannot exceed 100%");
  }
  env_->Ready(Mode::NRT_PRIMITIVE_EXECUTION);
  Coord no_ref_q_m;
  no_ref_q_m.ref_q_e[0] = 0.5;
  const std::vector<std::pair<std::function<void()>, std::string>> bad_primitives = {
      {[&] { robot.ExecutePrimitive(std::string("Ho\0me", 5), {}, false); },
       P("ExecutePrimitive") + " Input parameter [primitive_name] contains a null character"},
      {[&] {
         robot.ExecutePrimitive("Home", {{"a", 1}, {"b", std::numeric_limits<double>::quiet_NaN()}},
                                false);
       },
       P("ExecutePrimitive") +
           " Value of [b] in input map [input_params] contains a non-finite number"},
      {[&] {
         robot.ExecutePrimitive("Home", {{"c", no_ref_q_m}}, false);
       },
       "[quiral::vek::Coord] Struct member [ref_q_m] cannot be empty if [ref_q_e] has values"}};
  for (const auto& [call, text] : bad_primitives) Refused<std::invalid_argument>(call, text);
  Refused<std::length_error>([&] { robot.ExecutePrimitive("Home", too_long_params, false); },
                             TooLong("ExecutePrimitive", "Input map [input_params]", 10010));
}

TEST_F(RobotPlansTest, PlansRunPauseHaltAtBreakpointsAndStop) {
  Robot& robot = this->robot();
  env_->sim.Set(env_->serial, {{"plans",
                                {{{"name", "Alpha"}, {"duration_ms", 6000}},
                                 {{"name", "Beta"}, {"duration_ms", 1500}},
                                 {{"name", "Gamma"}, {"duration_ms", 200}}}}});
  env_->Switch(Mode::NRT_PLAN_EXECUTION);

  // Started by name; the call returns once the robot has acknowledged it.
  json request;
  EXPECT_LT(MsAfterReceipt([&] { robot.ExecutePlan("Alpha", true, false); }, &request), 250.0);
  EXPECT_EQ(request["procedure_id"], 22);
  EXPECT_EQ(request["long_string"], "Alpha");
  EXPECT_EQ(request["int_args"], json::array({1}));
  EXPECT_TRUE(request["float_args"].empty() && request["string_args"].empty());
  EXPECT_TRUE(Program()["continue_exec"].get<bool>());
  EXPECT_TRUE(WaitUntil([&] { return robot.busy(); }, 3s));
  EXPECT_EQ(robot.plan_info().item_0, "Alpha");

  // Pause, resume and stop, without arguments; the velocity scale, 0 to 100.
  const struct {
    std::function<void()> call;
    int procedure;
    std::string program_flag;
    bool flag;
  } plain[] = {{[&] { robot.PausePlan(true); }, 24, "paused", true},
               {[&] { robot.PausePlan(false); }, 25, "paused", false},
               {[&] { robot.StopPlan(); }, 26, "finished", true}};
  for (const unsigned int scale : {50u, 0u, 100u}) {
    request = SentBy([&] { robot.SetVelocityScale(scale); });
    EXPECT_EQ(request["procedure_id"], 20);
    EXPECT_EQ(request["int_args"], json::array({scale}));
    EXPECT_DOUBLE_EQ(robot.plan_info().item_6, scale / 100.0);
  }
  for (const auto& p : plain) {
    request = SentBy(p.call);
    EXPECT_EQ(request["procedure_id"], p.procedure);
    EXPECT_TRUE(request["int_args"].empty());
    EXPECT_EQ(Program()[p.program_flag], p.flag) << p.procedure;
  }
  EXPECT_TRUE(WaitUntil([&] { return !robot.busy(); }, 3s));

  // Breakpoints: the plan halts at its next node until stepped on.
  request = SentBy([&] { robot.SetBreakpointMode(true); });
  EXPECT_EQ(request["procedure_id"], 27);
  EXPECT_EQ(request["int_args"], json::array({1}));
  // By index: the plan list, then the plan by its name; the wait for the
  // start is 300 ms.
  const size_t before = env_->OpsTotal();
  const auto start = std::chrono::steady_clock::now();
  robot.ExecutePlan(1u, false, true);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  const std::vector<json> sent = env_->OpsSince(before);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0]["procedure_id"], 23);
  EXPECT_EQ(sent[1]["long_string"], "Beta");
  EXPECT_EQ(sent[1]["int_args"], json::array({0}));
  EXPECT_TRUE(WaitUntil([&] { return robot.plan_info().item_7; }, 3s, 20ms));
  EXPECT_TRUE(robot.busy());
  request = SentBy([&] { robot.StepBreakpoint(); });
  EXPECT_EQ(request["procedure_id"], 28);
  EXPECT_TRUE(request["int_args"].empty());
  EXPECT_EQ(Program()["breakpoint_steps"], 1);
  EXPECT_EQ(SentBy([&] { robot.SetBreakpointMode(false); })["int_args"], json::array({0}));
  EXPECT_TRUE(WaitUntil([&] { return !robot.busy(); }, 5s));

  // A plan name is sent whole up to the transport's capacity.
  const std::string long_name(10000, 'n');
  env_->FailsOnce(
      22, [&] { robot.ExecutePlan(long_name, false, false); },
      P("ExecutePlan") + " Failed to deliver the request");
  EXPECT_EQ(env_->Requests(22).back()["long_string"], long_name);
  // Refused requests name their operation; none is repeated.
  const std::string failed = " Failed to deliver the request";
  env_->FailsOnce(
      24, [&] { robot.PausePlan(true); }, P("PausePlan") + " Failed to execute pause request");
  env_->FailsOnce(
      25, [&] { robot.PausePlan(false); }, P("PausePlan") + " Failed to execute resume request");
  env_->FailsOnce(
      26, [&] { robot.StopPlan(); }, P("StopPlan") + failed);
  env_->FailsOnce(
      27, [&] { robot.SetBreakpointMode(true); }, P("SetBreakpointMode") + failed);
  env_->FailsOnce(
      28, [&] { robot.StepBreakpoint(); }, P("StepBreakpoint") + failed);
  env_->FailsOnce(
      20, [&] { robot.SetVelocityScale(10); }, P("SetVelocityScale") + failed);
}

TEST_F(RobotPlansTest, PrimitiveCallTexts) {
  Robot& robot = this->robot();
  env_->Switch(Mode::NRT_PRIMITIVE_EXECUTION);
  json request = SentBy([&] { robot.ExecutePrimitive("Home", {}, false); });
  EXPECT_EQ(request["procedure_id"], 21);
  EXPECT_EQ(request["long_string"], "Home()");
  EXPECT_TRUE(request["int_args"].empty() && request["float_args"].empty() &&
              request["string_args"].empty());
  EXPECT_TRUE(WaitUntil([&] { return robot.busy(); }, 3s));
  EXPECT_EQ(robot.primitive_states().count("reachedTarget"), 1u);

  // Entries in name order, whatever order the map was filled in.
  Coord target;
  target.position = {0.1, 0.2, 0.3};
  target.orientation = {0, 180, 0};
  target.ref_frame = {"WORLD", "WORLD_ORIGIN"};
  Coord second = target;
  second.position[2] = 0.35;
  second.ref_q_m = {0, -0.7, 0, 1.57, 0, 0.7, 0};
  Params params;
  params["vel"] = 0.5;
  params["target"] = target;
  params["name"] = std::string("abc");
  params["count"] = 3;
  params["coords"] = std::vector<Coord>{target, second};
  params["flags"] = std::vector<int>{1, 0, -1};
  params["empty"] = std::vector<std::string>{};
  request = SentBy([&] { robot.ExecutePrimitive("MoveL", params, false); });
  EXPECT_EQ(request["long_string"],
            "MoveL(coords = 0.1 0.2 0.3 0 180 0 WORLD WORLD_ORIGIN : 0.1 0.2 0.35 0 180 0 WORLD "
            "WORLD_ORIGIN 0 -0.7 0 1.57 0 0.7 0, count = 3, empty = , flags = 1 0 -1, name = abc, "
            "target = 0.1 0.2 0.3 0 180 0 WORLD WORLD_ORIGIN, vel = 0.5)");
  // The velocity scale is also taken in primitive execution.
  EXPECT_EQ(SentBy([&] { robot.SetVelocityScale(30); })["int_args"], json::array({30}));

  // Waiting for the start takes 300 ms; not waiting returns at once.
  EXPECT_GE(MsAfterReceipt([&] { robot.ExecutePrimitive("Home", {}, true); }), 300.0);
  EXPECT_LT(MsAfterReceipt([&] { robot.ExecutePrimitive("Home", {}, false); }), 250.0);

  // A text of exactly 10000 characters is sent whole; one more is refused.
  // "P(a = " + value + ")" is 7 characters longer than the value, and the
  // name counts too.
  request = SentBy([&] { robot.ExecutePrimitive("P", {{"a", std::string(9993, 'v')}}, false); });
  EXPECT_EQ(request["long_string"], "P(a = " + std::string(9993, 'v') + ")");
  const std::string too_long = TooLong("ExecutePrimitive", "Input map [input_params]", 10001);
  Refused<std::length_error>(
      [&] {
        robot.ExecutePrimitive("P", {{"a", std::string(9994, 'v')}}, false);
      },
      too_long);
  Refused<std::length_error>([&] { robot.ExecutePrimitive(std::string(9999, 'P'), {}, false); },
                             too_long);
  request = SentBy([&] { robot.ExecutePrimitive(std::string(9998, 'P'), {}, false); });
  EXPECT_EQ(request["long_string"].get<std::string>().size(), 10000u);
  env_->FailsOnce(
      21, [&] { robot.ExecutePrimitive("Home", {}, false); },
      P("ExecutePrimitive") + " Failed to deliver the request");
}

TEST_F(RobotPlansTest, LiteRobotStartsPlansAndPrimitivesWithoutTheGate) {
  auto lite = MakeRobot(env_->serial, /*lite=*/true);
  EXPECT_FALSE(lite->operational());
  env_->Ready(Mode::NRT_PLAN_EXECUTION);
  ASSERT_TRUE(WaitUntil([&] { return lite->mode() == Mode::NRT_PLAN_EXECUTION; }, 3s));
  json request = SentBy([&] { lite->ExecutePlan("HomePlan", false, false); });
  EXPECT_EQ(request["procedure_id"], 22);
  EXPECT_EQ(request["long_string"], "HomePlan");
  EXPECT_TRUE(WaitUntil([&] { return lite->busy(); }, 3s));
  EXPECT_EQ(SentBy([&] { lite->StopPlan(); })["procedure_id"], 26);
  // Without the gate a robot that is not enabled is asked all the same,
  // and its refusal is reported.
  env_->NotEnabled(Mode::NRT_PLAN_EXECUTION);
  const size_t before = env_->OpsTotal();
  EXPECT_TRUE(Throws<std::runtime_error>([&] { lite->ExecutePlan("HomePlan", false, false); },
                                         P("ExecutePlan") + " Failed to deliver the request"));
  EXPECT_EQ(env_->OnlyRequestSince(before)["procedure_id"], 22);

  env_->Ready(Mode::NRT_PRIMITIVE_EXECUTION);
  ASSERT_TRUE(WaitUntil([&] { return lite->mode() == Mode::NRT_PRIMITIVE_EXECUTION; }, 3s));
  request = SentBy([&] { lite->ExecutePrimitive("Home", {{"speed", 0.25}}, false); });
  EXPECT_EQ(request["long_string"], "Home(speed = 0.25)");
  // The mode is still required.
  Refused<std::logic_error>([&] { lite->ExecutePlan("HomePlan", false, false); },
                            ModeText("ExecutePlan"));
}

}  // namespace
}  // namespace quiral::vek
