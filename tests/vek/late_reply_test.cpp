// Replies that arrive after their call gave up, made to land in the next
// call: from a controller that names the request each reply answers, and
// from one that does not.
#include <gtest/gtest.h>

#include "tests/vek/robot_test_util.h"

namespace quiral::vek::testing_util {
namespace {

class LateReply : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    env_.sim.Set(env_.serial, {{"related_identity", GetParam()}});
    env_.Ready(Mode::NRT_PLAN_EXECUTION);
  }
  // The replies to the next `count` requests of `procedure` leave late.
  void Delay(int procedure, int delay_ms, int count = 1) {
    env_.sim.Fault(env_.serial, {{"procedure_id", procedure}, {"kind", "late_reply"},
                                 {"delay_ms", delay_ms}, {"count", count}});
  }
  std::string Label() { return std::get<std::string>(env_.robot->global_variables().at("label")); }
  // Seconds `call` takes.
  static double Seconds(const std::function<void()>& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  // Reads the global variables with the reply to the first attempt 3 s
  // late: the second attempt is answered after 2 s, and the first reply,
  // with label "idle", arrives 1 s later, in the next call, whose own reply
  // is made 1.5 s late.
  void LeaveStaleReply(int next_procedure) {
    Delay(11, 3000);
    EXPECT_EQ(Label(), "idle");
    Delay(next_procedure, 1500);
  }

  SimRobot env_;
};

TEST_P(LateReply, ToTheSameProcedure) {
  LeaveStaleReply(11);
  env_.sim.Set(env_.serial, {{"global_variables", {{"label", "busy"}}}});
  std::string label;
  const double seconds = Seconds([&] { label = Label(); });
  if (GetParam()) {  // the stale reply names another request: dropped
    EXPECT_EQ(label, "busy");
    EXPECT_GE(seconds, 1.45);
  } else {  // it carries the same procedure id: taken, it cannot be told apart
    EXPECT_EQ(label, "idle");
    EXPECT_LT(seconds, 1.4);
  }
}

TEST_P(LateReply, ToAnotherProcedureIsDroppedOnBothPaths) {
  LeaveStaleReply(20);
  EXPECT_GE(Seconds([&] { env_.robot->SetVelocityScale(30); }), 1.45);
  EXPECT_EQ(env_.sim.State(env_.serial)["velocity_scale"], 30);
}

TEST_P(LateReply, ToAnEarlierAttemptAnswersTheCall) {
  // Both first attempts 2.5 s late: the first reply answers the second
  // attempt, 0.5 s into it.
  Delay(11, 2500, 2);
  const double seconds = Seconds([&] { EXPECT_EQ(Label(), "idle"); });
  EXPECT_GE(seconds, 2.45);
  EXPECT_LT(seconds, 3.5);
}

INSTANTIATE_TEST_SUITE_P(Controller, LateReply, ::testing::Bool(), [](const auto& info) {
  return info.param ? "NamingTheRequest" : "NamingNoRequest";
});

}  // namespace
}  // namespace quiral::vek::testing_util
