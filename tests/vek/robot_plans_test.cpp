// Plans, primitives, global variables and primitive states of a Robot
// against the simulated controller: the order of the checks with nothing
// sent when one fails, the requests and texts the controller receives,
// plans that run, pause, halt at breakpoints and stop, and texts at the
// transport's length limit.
#include <gtest/gtest.h>

#include <chrono>
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
  void SetUp() override {
    RobotTest::SetUp();
    env_->sim.Set(env_->serial, {{"plans", {"HomePlan", "MainPlan", "WaitPlan"}},
                                 {"global_variables", {{"counter", "0"}, {"label", "idle"}}},
                                 {"primitive_states", nullptr}});
  }
  // Runs `call`, which must send one request, and returns the milliseconds
  // from the controller's receipt of it to the return of `call` (both on
  // the monotonic clock): the reply's way back and any wait after it.
  double MsAfterReceipt(const std::function<void()>& call) {
    const size_t before = env_->OpsTotal();
    call();
    const auto end = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    const std::vector<json> sent = env_->Requests(before);
    EXPECT_EQ(sent.size(), 1u);
    return static_cast<double>(end - sent.at(0).value("t_ns", end)) / 1e6;
  }
  json Program() { return env_->sim.State(env_->serial)["program"]; }
  // The controller answers the next request of `procedure` with `texts`.
  void Reply(int procedure, const json& texts, const std::string& service = "ops", int count = 1) {
    env_->sim.Fault(env_->serial, {{"service", service},
                                   {service == "ops" ? "procedure_id" : "request_id", procedure},
                                   {"kind", "custom_reply"},
                                   {"count", count},
                                   {"reply", {{"string_container", texts}}}});
  }
};

TEST_F(RobotPlansTest, ChecksComeFirstAndNothingIsSent) {
  Robot& robot = this->robot();
  const std::string too_long(10001, 'x');
  const Params too_long_params = {{"a", std::string(10000, 'y')}};

  // Wrong mode: nothing is sent, whatever the arguments.
  const std::vector<std::pair<std::string, std::function<void()>>> in_idle = {
      {"ExecutePlan", [&] { robot.ExecutePlan(too_long, false, false); }},
      {"PausePlan", [&] { robot.PausePlan(false); }},
      {"StopPlan", [&] { robot.StopPlan(); }},
      {"SetBreakpointMode", [&] { robot.SetBreakpointMode(true); }},
      {"StepBreakpoint", [&] { robot.StepBreakpoint(); }},
      {"SetVelocityScale", [&] { robot.SetVelocityScale(101); }},
      {"ExecutePrimitive", [&] { robot.ExecutePrimitive("Home", too_long_params, false); }}};
  for (const auto& [operation, call] : in_idle)
    env_->Refused<std::logic_error>(call, ModeText(operation));
  // Plan execution does not take primitives, nor the reverse.
  env_->Ready(Mode::NRT_PLAN_EXECUTION);
  env_->Refused<std::logic_error>([&] { robot.ExecutePrimitive("Home", {}, false); },
                                  ModeText("ExecutePrimitive"));
  env_->Ready(Mode::NRT_PRIMITIVE_EXECUTION);
  env_->Refused<std::logic_error>([&] { robot.StopPlan(); }, ModeText("StopPlan"));

  // The gate comes before the mode, for the two start operations only.
  env_->NotEnabled(Mode::IDLE);
  env_->Refused<std::runtime_error>([&] { robot.ExecutePlan("MainPlan", false, false); },
                                    P("ExecutePlan") + " Robot is not operational: Not enabled");
  env_->Refused<std::runtime_error>(
      [&] { robot.ExecutePrimitive("Home", too_long_params, false); },
      P("ExecutePrimitive") + " Robot is not operational: Not enabled");
  env_->NotEnabled(Mode::NRT_PLAN_EXECUTION);
  EXPECT_EQ(env_->SentBy([&] { robot.PausePlan(true); })["procedure_id"], 24);

  // By index: the plan list is fetched first, even in the wrong mode.
  env_->Ready(Mode::IDLE);
  EXPECT_EQ(env_->SentBy([&] {
    EXPECT_TRUE(Throws<std::logic_error>([&] { robot.ExecutePlan(1u, false, false); },
                                         ModeText("ExecutePlan")));
  })["procedure_id"],
            23);
  const std::string index_error =
      P("ExecutePlan") + " Input parameter [index] is outside the valid range";
  env_->Ready(Mode::NRT_PLAN_EXECUTION);
  EXPECT_EQ(env_->SentBy([&] {
    EXPECT_TRUE(
        Throws<std::invalid_argument>([&] { robot.ExecutePlan(3u, false, false); }, index_error));
  })["procedure_id"],
            23);
  env_->FailsOnce(
      23, [&] { robot.ExecutePlan(0u, false, false); },
      P("plan_list") + " No reply from the robot");

  // Arguments, after gate and mode: a name the transport would cut short.
  env_->Refused<std::invalid_argument>(
      [&] { robot.ExecutePlan(std::string("Main\0Plan", 9), false, false); },
      P("ExecutePlan") + " Input parameter [plan_name] contains a null character");
  env_->Refused<std::length_error>([&] { robot.ExecutePlan(too_long, false, false); },
                                   TooLong("ExecutePlan", "Input parameter [plan_name]", 10001));
  for (const unsigned int scale : {101u, 4294967295u}) {
    env_->Refused<std::invalid_argument>(
        [&] { robot.SetVelocityScale(scale); },
        P("SetVelocityScale") + " Input parameter [velocity_scale] cannot exceed 100%");
  }
  env_->Ready(Mode::NRT_PRIMITIVE_EXECUTION);
  env_->Refused<std::invalid_argument>(
      [&] {
        robot.ExecutePrimitive("Home", {{"b", std::numeric_limits<double>::quiet_NaN()}}, false);
      },
      P("ExecutePrimitive") +
          " Value of [b] in input map [input_params] contains a non-finite number");
  env_->Refused<std::length_error>([&] { robot.ExecutePrimitive("Home", too_long_params, false); },
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
  EXPECT_LT(MsAfterReceipt([&] { robot.ExecutePlan("Alpha", true, false); }), 250.0);
  json request = env_->Requests(0, 22).back();
  EXPECT_EQ(request["long_string"], "Alpha");
  EXPECT_EQ(request["int_args"], json::array({1}));
  EXPECT_TRUE(request["float_args"].empty() && request["string_args"].empty());
  EXPECT_TRUE(WaitUntil([&] { return robot.busy(); }, 3s));
  EXPECT_EQ(robot.plan_info().item_0, "Alpha");

  // The velocity scale, 0 to 100; pause, resume and stop, without arguments.
  for (const unsigned int scale : {0u, 100u}) {
    request = env_->SentBy([&] { robot.SetVelocityScale(scale); });
    EXPECT_EQ(request["procedure_id"], 20);
    EXPECT_EQ(request["int_args"], json::array({scale}));
    EXPECT_DOUBLE_EQ(robot.plan_info().item_6, scale / 100.0);
  }
  const struct {
    std::function<void()> call;
    int procedure;
    std::string program_flag;
    bool flag;
  } plain[] = {{[&] { robot.PausePlan(true); }, 24, "paused", true},
               {[&] { robot.PausePlan(false); }, 25, "paused", false},
               {[&] { robot.StopPlan(); }, 26, "finished", true}};
  for (const auto& p : plain) {
    request = env_->SentBy(p.call);
    EXPECT_EQ(request["procedure_id"], p.procedure);
    EXPECT_TRUE(request["int_args"].empty());
    EXPECT_EQ(Program()[p.program_flag], p.flag) << p.procedure;
  }
  EXPECT_TRUE(WaitUntil([&] { return !robot.busy(); }, 3s));

  // Breakpoints: the plan halts at its next node until stepped on. By
  // index: the plan list, then the plan by its name; the wait for the
  // start is 300 ms.
  EXPECT_EQ(env_->SentBy([&] { robot.SetBreakpointMode(true); })["int_args"], json::array({1}));
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
  EXPECT_TRUE(robot.busy());
  request = env_->SentBy([&] { robot.StepBreakpoint(); });
  EXPECT_EQ(request["procedure_id"], 28);
  EXPECT_EQ(Program()["breakpoint_steps"], 1);
  EXPECT_EQ(env_->SentBy([&] { robot.SetBreakpointMode(false); })["int_args"], json::array({0}));
  EXPECT_TRUE(WaitUntil([&] { return !robot.busy(); }, 5s));

  // A plan name is sent whole up to the transport's capacity. Refused
  // requests name their operation; none is repeated.
  const std::string failed = " Failed to deliver the request";
  env_->FailsOnce(
      22, [&] { robot.ExecutePlan(std::string(10000, 'n'), false, false); },
      P("ExecutePlan") + failed);
  EXPECT_EQ(env_->Requests(0, 22).back()["long_string"], std::string(10000, 'n'));
  env_->FailsOnce(
      24, [&] { robot.PausePlan(true); }, P("PausePlan") + " Failed to execute pause request");
  env_->FailsOnce(
      25, [&] { robot.PausePlan(false); }, P("PausePlan") + " Failed to execute resume request");
  env_->FailsOnce(
      28, [&] { robot.StepBreakpoint(); }, P("StepBreakpoint") + failed);
}

TEST_F(RobotPlansTest, PrimitiveCallTexts) {
  Robot& robot = this->robot();
  env_->Switch(Mode::NRT_PRIMITIVE_EXECUTION);
  // Entries in name order; waiting for the start takes 300 ms, not
  // waiting returns at once.
  Coord target{{0.1, 0.2, 0.3}, {0, 180, 0}, {"WORLD", "WORLD_ORIGIN"}};
  Params params;
  params["vel"] = 0.5;
  params["target"] = target;
  params["count"] = 3;
  EXPECT_LT(MsAfterReceipt([&] { robot.ExecutePrimitive("MoveL", params, false); }), 250.0);
  json request = env_->Requests(0, 21).back();
  EXPECT_EQ(request["long_string"],
            "MoveL(count = 3, target = 0.1 0.2 0.3 0 180 0 WORLD WORLD_ORIGIN, vel = 0.5)");
  EXPECT_TRUE(request["int_args"].empty() && request["float_args"].empty() &&
              request["string_args"].empty());
  EXPECT_TRUE(WaitUntil([&] { return robot.busy(); }, 3s));
  EXPECT_EQ(robot.primitive_states().count("reachedTarget"), 1u);
  EXPECT_GE(MsAfterReceipt([&] { robot.ExecutePrimitive("Home", {}, true); }), 300.0);
  // The velocity scale is also taken in primitive execution.
  EXPECT_EQ(env_->SentBy([&] { robot.SetVelocityScale(30); })["int_args"], json::array({30}));

  // A text of exactly 10000 characters is sent whole; one more is refused.
  request = env_->SentBy([&] {
    robot.ExecutePrimitive("P", {{"a", std::string(9993, 'v')}}, false);
  });
  EXPECT_EQ(request["long_string"], "P(a = " + std::string(9993, 'v') + ")");
  env_->Refused<std::length_error>(
      [&] {
        robot.ExecutePrimitive("P", {{"a", std::string(9994, 'v')}}, false);
      },
      TooLong("ExecutePrimitive", "Input map [input_params]", 10001));
  env_->FailsOnce(
      21, [&] { robot.ExecutePrimitive("Home", {}, false); },
      P("ExecutePrimitive") + " Failed to deliver the request");
}

TEST_F(RobotPlansTest, LiteRobotStartsPlansAndPrimitivesWithoutTheGate) {
  auto lite = MakeRobot(env_->serial, /*lite=*/true);
  EXPECT_FALSE(lite->operational());
  // Without the gate a robot that is not enabled is asked all the same,
  // and its refusal is reported.
  env_->NotEnabled(Mode::NRT_PLAN_EXECUTION);
  ASSERT_TRUE(WaitUntil([&] { return lite->mode() == Mode::NRT_PLAN_EXECUTION; }, 3s));
  const size_t before = env_->OpsTotal();
  EXPECT_TRUE(Throws<std::runtime_error>([&] { lite->ExecutePlan("HomePlan", false, false); },
                                         P("ExecutePlan") + " Failed to deliver the request"));
  EXPECT_EQ(env_->Requests(before).at(0)["long_string"], "HomePlan");

  env_->Ready(Mode::NRT_PRIMITIVE_EXECUTION);
  ASSERT_TRUE(WaitUntil([&] { return lite->mode() == Mode::NRT_PRIMITIVE_EXECUTION; }, 3s));
  const json request = env_->SentBy([&] {
    lite->ExecutePrimitive("Home", {{"speed", 0.25}}, false);
  });
  EXPECT_EQ(request["long_string"], "Home(speed = 0.25)");
  EXPECT_TRUE(WaitUntil([&] { return lite->busy(); }, 3s));
  // The mode is still required.
  env_->Refused<std::logic_error>([&] { lite->ExecutePlan("HomePlan", false, false); },
                                  ModeText("ExecutePlan"));
}

TEST_F(RobotPlansTest, GlobalVariablesAreReadAndWritten) {
  // Replies straight from the wire: the first of equal names stays.
  Reply(11, {"a = 1", "a = 2", "c ="});
  const Params replied = robot().global_variables();
  ASSERT_EQ(replied.size(), 2u);
  EXPECT_TRUE(SameValue(replied.at("a"), 1));
  EXPECT_TRUE(SameValue(replied.at("c"), std::vector<std::string>{}));
  Reply(11, {"a = 1", "novalue"});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { robot().global_variables(); },
      P("global_variables") + " Received a malformed entry from the robot: [novalue]"));

  // Written in name order after the names were read on the same service;
  // exactly 10000 characters travel whole.
  size_t before = env_->OpsTotal();
  robot().SetGlobalVariables({{"label", "busy"}, {"counter", 5}});
  const std::vector<json> sent = env_->Requests(before);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0]["procedure_id"], 11);
  EXPECT_EQ(sent[1]["long_string"], "counter = 5, label = busy");
  EXPECT_TRUE(sent[1]["int_args"].empty() && sent[1]["float_args"].empty());
  const std::string value(10000 - 8, 'x');  // "label = " + value
  robot().SetGlobalVariables({{"label", value}});
  EXPECT_EQ(env_->sim.State(env_->serial)["global_variables"]["label"], value);

  // Refused before anything is written; the read's failure passes through.
  const std::string set = P("SetGlobalVariables");
  env_->Refused<std::length_error>([&] { robot().SetGlobalVariables({}); },
                                   set + " Input map [global_vars] is empty");
  before = env_->OpsTotal();
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        robot().SetGlobalVariables({{"counter", 1}, {"nope", 2}});
      },
      set + " The specified global variable [nope] does not exist"));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        robot().SetGlobalVariables({{"label", std::string("bu\0sy", 5)}});
      },
      set + " Value of [label] in input map [global_vars] contains a null character"));
  EXPECT_TRUE(env_->Requests(before, 12).empty());
  env_->sim.Fault(env_->serial, {{"procedure_id", 12}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        robot().SetGlobalVariables({{"counter", 1}});
      },
      set + " Failed to deliver the request"));
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
  env_->sim.Set(env_->serial,
                {{"primitive_states", {"reachedTarget = 1", "name = Home", "reachedTarget = 0"}}});
  const Params states = robot().primitive_states();
  ASSERT_EQ(states.size(), 2u);
  EXPECT_TRUE(SameValue(states.at("reachedTarget"), 1));
  // A reply holding an empty text is asked for again, up to six times.
  for (const int corrupted : {5, 6}) {
    Reply(2, {"reachedTarget = 0", ""}, "data", corrupted);
    const size_t before = requests();
    if (corrupted == 5) {
      EXPECT_TRUE(SameValue(robot().primitive_states().at("reachedTarget"), 1));
    } else {
      EXPECT_TRUE(Throws<std::runtime_error>(
          [&] { robot().primitive_states(); },
          P("primitive_states") + " Still received corrupted data after several attempts"));
    }
    EXPECT_EQ(requests(), before + 6);
  }
  env_->sim.Fault(env_->serial, {{"service", "data"}, {"request_id", 2}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>([&] { robot().primitive_states(); },
                                         P("primitive_states") + " No reply from the robot"));
}

}  // namespace
}  // namespace quiral::vek
