// Plans and primitives of a Robot against the simulated controller: the
// order of the checks with nothing sent when one fails, the requests and
// texts the controller receives, plans that run, pause, halt at breakpoints
// and stop, and primitive calls at the length limit.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/vek/robot_command_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;

std::string P(const std::string& operation) { return "[quiral::vek::Robot::" + operation + "]"; }
std::string ModeText(const std::string& operation) {
  return P(operation) + " Robot is not in an applicable control mode";
}

using Params = std::map<std::string, ParamVariant>;

// Milliseconds `call` took.
template <typename F>
double TimedMs(F&& call) {
  const auto start = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

uint64_t NowNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

class RobotPlansTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { env_ = new SimRobot(); }
  static void TearDownTestSuite() {
    delete env_;
    env_ = nullptr;
  }
  // Every case starts from a ready robot in IDLE, its counter at 0.
  void SetUp() override { env_->Fresh(); }

  // Expects `call` to throw E with `text` and to send nothing.
  template <typename E>
  void Refused(const std::function<void()>& call, const std::string& text) {
    const size_t before = env_->OpsTotal();
    EXPECT_TRUE(Throws<E>(call, text));
    EXPECT_EQ(env_->OpsTotal(), before) << text;
  }

  // Expects `call` to throw std::runtime_error `text` after exactly one
  // request of procedure `id`, which the controller was told to refuse.
  void FailsOnce(int id, const std::function<void()>& call, const std::string& text) {
    env_->sim.Fault(env_->serial, {{"procedure_id", id}, {"kind", "fail"}, {"count", 1}});
    const size_t before = env_->OpsTotal();
    EXPECT_TRUE(Throws<std::runtime_error>(call, text));
    const std::vector<json> sent = env_->OpsSince(before);
    ASSERT_EQ(sent.size(), 1u) << text;
    EXPECT_EQ(sent[0]["procedure_id"], id);
  }

  // Runs `call`, which must send one request, and returns the milliseconds
  // from the controller's receipt of it to the return of `call` (both on
  // the monotonic clock): the reply's way back and any wait after it.
  double MsAfterReceipt(const std::function<void()>& call, json* request = nullptr) {
    const size_t before = env_->OpsTotal();
    call();
    const uint64_t end = NowNs();
    const json sent = env_->OnlyRequestSince(before);
    if (request != nullptr) *request = sent;
    return static_cast<double>(end - sent.value("t_ns", end)) / 1e6;
  }

  // Runs `call` and returns the one request it sent.
  json SentBy(const std::function<void()>& call) {
    const size_t before = env_->OpsTotal();
    call();
    return env_->OnlyRequestSince(before);
  }

  static SimRobot* env_;
};

SimRobot* RobotPlansTest::env_ = nullptr;

TEST_F(RobotPlansTest, ChecksComeFirstAndNothingIsSent) {
  Robot& robot = *env_->robot;
  const std::string too_long(10001, 'x');
  const Params too_long_params = {{"a", std::string(10000, 'y')}};

  // Wrong mode: nothing is sent, whatever the arguments.
  env_->Ready(Mode::IDLE);
  Refused<std::logic_error>([&] { robot.ExecutePlan("MainPlan", false, false); },
                            ModeText("ExecutePlan"));
  Refused<std::logic_error>([&] { robot.ExecutePlan(too_long, false, false); },
                            ModeText("ExecutePlan"));
  Refused<std::logic_error>([&] { robot.PausePlan(true); }, ModeText("PausePlan"));
  Refused<std::logic_error>([&] { robot.PausePlan(false); }, ModeText("PausePlan"));
  Refused<std::logic_error>([&] { robot.StopPlan(); }, ModeText("StopPlan"));
  Refused<std::logic_error>([&] { robot.SetBreakpointMode(true); }, ModeText("SetBreakpointMode"));
  Refused<std::logic_error>([&] { robot.StepBreakpoint(); }, ModeText("StepBreakpoint"));
  Refused<std::logic_error>([&] { robot.SetVelocityScale(101); }, ModeText("SetVelocityScale"));
  Refused<std::logic_error>([&] { robot.ExecutePrimitive("Home", too_long_params, false); },
                            ModeText("ExecutePrimitive"));
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
  const std::string not_operational = " Robot is not operational: Not enabled";
  Refused<std::runtime_error>([&] { robot.ExecutePlan("MainPlan", false, false); },
                              P("ExecutePlan") + not_operational);
  Refused<std::runtime_error>([&] { robot.ExecutePrimitive("Home", too_long_params, false); },
                              P("ExecutePrimitive") + not_operational);
  env_->NotEnabled(Mode::NRT_PLAN_EXECUTION);
  EXPECT_EQ(SentBy([&] { robot.PausePlan(true); })["procedure_id"], 24);

  // By index: the plan list is fetched first, even in the wrong mode.
  env_->Ready(Mode::IDLE);
  size_t before = env_->OpsTotal();
  EXPECT_TRUE(Throws<std::logic_error>([&] { robot.ExecutePlan(1u, false, false); },
                                       ModeText("ExecutePlan")));
  std::vector<json> sent = env_->OpsSince(before);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["procedure_id"], 23);
  const std::string index_error =
      P("ExecutePlan") + " Input parameter [index] is outside the valid range";
  env_->Ready(Mode::NRT_PLAN_EXECUTION);
  before = env_->OpsTotal();
  EXPECT_TRUE(
      Throws<std::invalid_argument>([&] { robot.ExecutePlan(3u, false, false); }, index_error));
  EXPECT_EQ(env_->OpsTotal(), before + 1);
  FailsOnce(
      23, [&] { robot.ExecutePlan(0u, false, false); },
      P("plan_list") + " No reply from the robot");
  env_->sim.Set(env_->serial, {{"plans", json::array()}});
  EXPECT_TRUE(
      Throws<std::invalid_argument>([&] { robot.ExecutePlan(0u, false, false); }, index_error));
  env_->sim.Set(env_->serial, {{"plans", {"HomePlan", "MainPlan", "WaitPlan"}}});

  // Arguments, after gate and mode.
  Refused<std::invalid_argument>(
      [&] { robot.ExecutePlan(std::string("Main\0Plan", 9), false, false); },
      P("ExecutePlan") + " Input parameter [plan_name] contains a null character");
  Refused<std::length_error>([&] { robot.ExecutePlan(too_long, false, false); },
                             P("ExecutePlan") +
                                 " Input parameter [plan_name] is too long to transmit (requires "
                                 "10001/10000 bytes of bandwidth)");
  for (const unsigned int scale : {101u, 1000u, 4294967295u}) {
    Refused<std::invalid_argument>(
        [&] { robot.SetVelocityScale(scale); },
        P("SetVelocityScale") + " Input parameter [velocity_scale] cannot exceed 100%");
  }

  env_->Ready(Mode::NRT_PRIMITIVE_EXECUTION);
  const std::string ep = P("ExecutePrimitive");
  Refused<std::invalid_argument>(
      [&] { robot.ExecutePrimitive(std::string("Ho\0me", 5), {}, false); },
      ep + " Input parameter [primitive_name] contains a null character");
  Refused<std::invalid_argument>(
      [&] {
        robot.ExecutePrimitive("Home", {{"a", 1}, {"b", std::numeric_limits<double>::quiet_NaN()}},
                               false);
      },
      ep + " Value of [b] in input map [input_params] contains a non-finite number");
  Coord no_ref_q_m;
  no_ref_q_m.ref_frame = {"WORLD", "WORLD_ORIGIN"};
  no_ref_q_m.ref_q_e[0] = 0.5;
  Refused<std::invalid_argument>(
      [&] {
        robot.ExecutePrimitive("Home", {{"c", no_ref_q_m}}, false);
      },
      "[quiral::vek::Coord] Struct member [ref_q_m] cannot be empty if [ref_q_e] has values");
  Refused<std::length_error>([&] { robot.ExecutePrimitive("Home", too_long_params, false); },
                             ep + " Input map [input_params] is too long to transmit (requires "
                                  "10010/10000 bytes of bandwidth)");
}

TEST_F(RobotPlansTest, PlansRunPauseHaltAtBreakpointsAndStop) {
  Robot& robot = *env_->robot;
  const std::vector<double> target = {0.2, -0.6, 0.1, 1.4, 0.0, 0.8, 0.0};
  env_->sim.Set(env_->serial, {{"plans",
                                {{{"name", "Alpha"}, {"duration_ms", 6000}, {"target", target}},
                                 {{"name", "Beta"}, {"duration_ms", 1500}},
                                 {{"name", "Gamma"}, {"duration_ms", 200}}}}});
  env_->Switch(Mode::NRT_PLAN_EXECUTION);
  auto program = [&] { return env_->sim.State(env_->serial)["program"]; };

  // Started by name; the call returns once the robot has acknowledged it.
  json request;
  EXPECT_LT(MsAfterReceipt([&] { robot.ExecutePlan("Alpha", true, false); }, &request), 250.0);
  EXPECT_EQ(request["procedure_id"], 22);
  EXPECT_EQ(request["long_string"], "Alpha");
  EXPECT_EQ(request["int_args"], json::array({1}));
  EXPECT_TRUE(request["float_args"].empty());
  EXPECT_TRUE(request["string_args"].empty());
  EXPECT_TRUE(program()["continue_exec"].get<bool>());
  EXPECT_TRUE(WaitUntil([&] { return robot.busy(); }, 3s));
  EXPECT_EQ(robot.plan_info().item_0, "Alpha");

  // Pause and resume, without arguments.
  request = SentBy([&] { robot.PausePlan(true); });
  EXPECT_EQ(request["procedure_id"], 24);
  EXPECT_TRUE(request["int_args"].empty());
  EXPECT_TRUE(program()["paused"].get<bool>());
  request = SentBy([&] { robot.PausePlan(false); });
  EXPECT_EQ(request["procedure_id"], 25);
  EXPECT_TRUE(request["int_args"].empty());
  EXPECT_FALSE(program()["paused"].get<bool>());

  // The velocity scale, 0 to 100.
  for (const unsigned int scale : {50u, 0u, 100u}) {
    request = SentBy([&] { robot.SetVelocityScale(scale); });
    EXPECT_EQ(request["procedure_id"], 20);
    EXPECT_EQ(request["int_args"], json::array({scale}));
    EXPECT_EQ(env_->sim.State(env_->serial)["velocity_scale"], scale);
    EXPECT_DOUBLE_EQ(robot.plan_info().item_6, scale / 100.0);
  }

  request = SentBy([&] { robot.StopPlan(); });
  EXPECT_EQ(request["procedure_id"], 26);
  EXPECT_TRUE(request["int_args"].empty());
  EXPECT_TRUE(program()["finished"].get<bool>());
  EXPECT_TRUE(WaitUntil([&] { return !robot.busy(); }, 3s));

  // Breakpoints: the plan halts at its next node until stepped on.
  request = SentBy([&] { robot.SetBreakpointMode(true); });
  EXPECT_EQ(request["procedure_id"], 27);
  EXPECT_EQ(request["int_args"], json::array({1}));
  EXPECT_TRUE(env_->sim.State(env_->serial)["breakpoint_mode"].get<bool>());
  // By index: the plan list, then the plan by its name; the wait for the
  // start is 300 ms.
  size_t before = env_->OpsTotal();
  EXPECT_GE(TimedMs([&] { robot.ExecutePlan(1u, false, true); }), 300.0);
  std::vector<json> sent = env_->OpsSince(before);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0]["procedure_id"], 23);
  EXPECT_EQ(sent[1]["procedure_id"], 22);
  EXPECT_EQ(sent[1]["long_string"], "Beta");
  EXPECT_EQ(sent[1]["int_args"], json::array({0}));
  EXPECT_TRUE(WaitUntil([&] { return robot.plan_info().item_7; }, 3s, 20ms));
  EXPECT_TRUE(robot.busy());
  request = SentBy([&] { robot.StepBreakpoint(); });
  EXPECT_EQ(request["procedure_id"], 28);
  EXPECT_TRUE(request["int_args"].empty());
  EXPECT_EQ(program()["breakpoint_steps"], 1);
  request = SentBy([&] { robot.SetBreakpointMode(false); });
  EXPECT_EQ(request["int_args"], json::array({0}));
  EXPECT_TRUE(WaitUntil([&] { return !robot.busy(); }, 5s));
  EXPECT_TRUE(program()["finished"].get<bool>());

  // A plan name is sent whole up to the transport's capacity.
  const std::string long_name(10000, 'n');
  before = env_->OpsTotal();
  EXPECT_TRUE(Throws<std::runtime_error>([&] { robot.ExecutePlan(long_name, false, false); },
                                         P("ExecutePlan") + " Failed to deliver the request"));
  EXPECT_EQ(env_->OnlyRequestSince(before)["long_string"], long_name);

  // Refused requests name their operation; none is repeated.
  const std::string failed = " Failed to deliver the request";
  FailsOnce(
      22, [&] { robot.ExecutePlan("Gamma", false, false); }, P("ExecutePlan") + failed);
  FailsOnce(
      24, [&] { robot.PausePlan(true); }, P("PausePlan") + " Failed to execute pause request");
  FailsOnce(
      25, [&] { robot.PausePlan(false); }, P("PausePlan") + " Failed to execute resume request");
  FailsOnce(
      26, [&] { robot.StopPlan(); }, P("StopPlan") + failed);
  FailsOnce(
      27, [&] { robot.SetBreakpointMode(true); }, P("SetBreakpointMode") + failed);
  FailsOnce(
      28, [&] { robot.StepBreakpoint(); }, P("StepBreakpoint") + failed);
  FailsOnce(
      20, [&] { robot.SetVelocityScale(10); }, P("SetVelocityScale") + failed);
  env_->Switch(Mode::IDLE);
}

TEST_F(RobotPlansTest, PrimitiveCallTexts) {
  Robot& robot = *env_->robot;
  env_->Switch(Mode::NRT_PRIMITIVE_EXECUTION);

  json request = SentBy([&] { robot.ExecutePrimitive("Home", {}, false); });
  EXPECT_EQ(request["procedure_id"], 21);
  EXPECT_EQ(request["long_string"], "Home()");
  EXPECT_TRUE(request["int_args"].empty());
  EXPECT_TRUE(request["float_args"].empty());
  EXPECT_TRUE(request["string_args"].empty());
  EXPECT_TRUE(WaitUntil([&] { return robot.busy(); }, 3s));
  EXPECT_EQ(env_->sim.State(env_->serial)["program"]["call"], "Home()");
  EXPECT_EQ(robot.primitive_states().count("reachedTarget"), 1u);

  // Entries in name order, whatever order the map was filled in.
  Coord target;
  target.position = {0.1, 0.2, 0.3};
  target.orientation = {0, 180, 0};
  target.ref_frame = {"WORLD", "WORLD_ORIGIN"};
  Coord second = target;
  second.position[2] = 0.35;
  second.ref_q_m = {0, -0.7, 0, 1.57, 0, 0.7, 0};
  JPos joints;
  joints.q_m = {0, -0.7, 0, 1.57, 0, 0.7, 0};
  Params params;
  params["vel"] = 0.5;
  params["target"] = target;
  params["name"] = std::string("abc");
  params["joints"] = joints;
  params["count"] = 3;
  params["coords"] = std::vector<Coord>{target, second};
  params["flags"] = std::vector<int>{1, 0, -1};
  params["empty"] = std::vector<std::string>{};
  request = SentBy([&] { robot.ExecutePrimitive("MoveL", params, false); });
  EXPECT_EQ(request["long_string"],
            "MoveL(coords = 0.1 0.2 0.3 0 180 0 WORLD WORLD_ORIGIN : 0.1 0.2 0.35 0 180 0 WORLD "
            "WORLD_ORIGIN 0 -0.7 0 1.57 0 0.7 0, count = 3, empty = , flags = 1 0 -1, joints = 0 "
            "-0.7 0 1.57 0 0.7 0 0 0 0 0 0 0, name = abc, target = 0.1 0.2 0.3 0 180 0 WORLD "
            "WORLD_ORIGIN, vel = 0.5)");

  // The velocity scale is also taken in primitive execution.
  request = SentBy([&] { robot.SetVelocityScale(30); });
  EXPECT_EQ(request["int_args"], json::array({30}));

  // Waiting for the start takes 300 ms; not waiting returns at once.
  EXPECT_GE(MsAfterReceipt([&] { robot.ExecutePrimitive("Home", {}, true); }), 300.0);
  EXPECT_LT(MsAfterReceipt([&] { robot.ExecutePrimitive("Home", {}, false); }), 250.0);

  // A text of exactly 10000 characters is sent whole; one more is refused.
  // "P(a = " + value + ")" is 7 characters longer than the value.
  const std::string at_limit = "P(a = " + std::string(9993, 'v') + ")";
  ASSERT_EQ(at_limit.size(), 10000u);
  request = SentBy([&] { robot.ExecutePrimitive("P", {{"a", std::string(9993, 'v')}}, false); });
  EXPECT_EQ(request["long_string"], at_limit);
  Refused<std::length_error>(
      [&] {
        robot.ExecutePrimitive("P", {{"a", std::string(9994, 'v')}}, false);
      },
      P("ExecutePrimitive") +
          " Input map [input_params] is too long to transmit (requires 10001/10000 bytes of "
          "bandwidth)");
  // The name counts too.
  Refused<std::length_error>(
      [&] { robot.ExecutePrimitive(std::string(9999, 'P'), {}, false); },
      P("ExecutePrimitive") +
          " Input map [input_params] is too long to transmit (requires 10001/10000 bytes of "
          "bandwidth)");
  request = SentBy([&] { robot.ExecutePrimitive(std::string(9998, 'P'), {}, false); });
  EXPECT_EQ(request["long_string"].get<std::string>().size(), 10000u);

  FailsOnce(
      21, [&] { robot.ExecutePrimitive("Home", {}, false); },
      P("ExecutePrimitive") + " Failed to deliver the request");
  env_->Switch(Mode::IDLE);
}

TEST_F(RobotPlansTest, LiteRobotStartsPlansAndPrimitivesWithoutTheGate) {
  env_->sim.Set(env_->serial, {{"plans", {"HomePlan", "MainPlan"}}});
  auto lite = MakeLiteRobot(env_->serial);
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
  env_->Ready(Mode::IDLE);
  ASSERT_TRUE(WaitUntil([&] { return lite->mode() == Mode::IDLE; }, 3s));
  Refused<std::logic_error>([&] { lite->ExecutePrimitive("Home", {}, false); },
                            ModeText("ExecutePrimitive"));
}

}  // namespace
}  // namespace quiral::vek
