// Per-arm execution and error tagging, with plain objects and callables in
// place of the arms.

#include "bivek/per_arm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "tests/vek/robot_test_util.h"

namespace quiral::bivek::detail {
namespace {

using vek::testing_util::LogCapture;
using vek::testing_util::Throws;

const std::string kName = "[quiral::bivek::RobotPair::Op]";
const std::string kArmText = "[quiral::vek::Robot::Op] It went wrong";
const auto kNothing = [] {};

// An arm operation that throws `e`.
template <class E>
std::function<void()> Fails(E e) {
  return [e] { throw e; };
}

// A sequential call under policy P whose first arm throws `e`: Tagged
// expects a new exception of class E with the tagged text, Unchanged the
// arm's own class and text.
template <class P, class Thrown>
std::function<void()> FirstFails(Thrown e) {
  return [e] { RunSequential(P(kName), Fails(e), kNothing); };
}
template <class P, class E, class Thrown>
::testing::AssertionResult Tagged(Thrown e) {
  return Throws<E>(FirstFails<P>(e), kName + "(first)" + _ExtractExceptMsg(e.what()));
}
template <class P, class Thrown>
::testing::AssertionResult Unchanged(Thrown e) {
  return Throws<Thrown>(FirstFails<P>(e), e.what());
}

// An arm slower than the other one's failure; records that it ran to its end.
std::function<void()> SlowArm(std::atomic<bool>& ended) {
  return [&ended] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ended = true;
  };
}

// Starts the first task; fails to start the second as if no thread could be
// created.
struct SecondStartFails {
  mutable int starts = 0;
  template <class F>
  auto operator()(F&& task) const {
    if (++starts == 2) throw std::system_error(std::make_error_code(std::errc::interrupted));
    return std::async(std::launch::async, std::forward<F>(task));
  }
};

// Any object can be an arm: records its calls and the thread they ran on.
struct FakeArm {
  std::vector<std::string> calls;
  std::thread::id thread;
  std::string Label(const std::string& prefix, int n) {
    thread = std::this_thread::get_id();
    calls.push_back(prefix + std::to_string(n));
    return calls.back();
  }
  void Touch() { calls.push_back("touch"); }
  void Take(int n) { calls.push_back("take" + std::to_string(n)); }
};

// A listed class keeps its class; a derived one leaves as the first listed
// base it derives from; an unlisted one leaves as the arm threw it.
TEST(RetagTest, EachPolicyLeavesAsTheFirstListedBaseOrUnchanged) {
  using std::invalid_argument, std::length_error, std::logic_error, std::runtime_error;
  const char* x = "[quiral::vek::Robot::Op] It went wrong";
  EXPECT_TRUE((Tagged<TagInputStateAndFailures, invalid_argument>(invalid_argument(x))));
  EXPECT_TRUE((Tagged<TagInputStateAndFailures, logic_error>(length_error(x))));
  EXPECT_TRUE((Tagged<TagOversizeStateAndFailures, length_error>(length_error(x))));
  EXPECT_TRUE((Tagged<TagFailures, runtime_error>(
      std::system_error(std::make_error_code(std::errc::io_error), x))));
  EXPECT_TRUE(Unchanged<TagInputAndState>(runtime_error(x)));
  EXPECT_TRUE(Unchanged<TagInputStateAndFailures>(std::bad_alloc()));
  EXPECT_THROW(FirstFails<TagInputStateAndFailures>(42)(), int);
}

TEST(RetagTest, FixedRuntimeErrorReplacesEveryStandardErrorAndLogsTheReason) {
  LogCapture log;
  const FixedRuntimeError policy("[quiral::bivek::RobotPair::Stop]", " Failed to stop the robot");
  const std::string second = "[quiral::bivek::RobotPair::Stop](second) Failed to stop the robot";
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        RunConcurrentSelected(policy, {true, true}, kNothing,
                              Fails(std::invalid_argument("[a] no")));
      },
      second));
  EXPECT_EQ(log.Count(spdlog::level::err, second + ": no"), 1);
  EXPECT_THROW(RunConcurrentSelected(policy, {true, true}, Fails(7), kNothing), int);
}

TEST(MemberFormTest, EachArmGetsItsElementOfEveryPairAndEveryOtherArgumentWhole) {
  FakeArm a, b;
  const std::pair<FakeArm*, FakeArm*> arms = {&a, &b};
  const std::pair<std::string, std::string> prefixes = {"a", "b"};
  EXPECT_EQ(RunSequential(TagFailures(kName), arms, &FakeArm::Label, prefixes, 1),
            std::make_pair(std::string("a1"), std::string("b1")));
  EXPECT_EQ(a.thread, std::this_thread::get_id());
  EXPECT_EQ(RunConcurrent(TagFailures(kName), arms, &FakeArm::Label, prefixes, 2),
            std::make_pair(std::string("a2"), std::string("b2")));
  EXPECT_NE(a.thread, std::this_thread::get_id());
  EXPECT_NE(a.thread, b.thread);
  RunSequentialSelected(TagFailures(kName), {false, true}, arms, &FakeArm::Touch);
  RunConcurrentSelected(TagFailures(kName), {true, false}, arms, &FakeArm::Touch);
  EXPECT_EQ(a.calls, (std::vector<std::string>{"a1", "a2", "touch"}));
  EXPECT_EQ(b.calls, (std::vector<std::string>{"b1", "b2", "touch"}));
}

// The selector form checks the selected arms only, both before either runs.
TEST(MemberFormTest, TheSelectorFormChecksEverySelectedArmBeforeAnyRuns) {
  FakeArm a, b;
  const std::pair<FakeArm*, FakeArm*> arms = {&a, &b};
  const CheckedMember checked{[](FakeArm& arm, int n) {
                                arm.calls.push_back("check" + std::to_string(n));
                                if (n < 0) throw std::invalid_argument(kArmText);
                              },
                              &FakeArm::Take};
  RunConcurrentSelected(TagInputAndFailures(kName), {false, true}, arms, checked,
                        std::make_pair(-1, 2));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        RunConcurrentSelected(TagInputAndFailures(kName), {true, true}, arms, checked,
                              std::make_pair(1, -3));
      },
      kName + "(second) It went wrong"));
  EXPECT_EQ(a.calls, (std::vector<std::string>{"check1"}));
  EXPECT_EQ(b.calls, (std::vector<std::string>{"check2", "take2", "check-3"}));
}

TEST(SequentialTest, TheSecondArmIsNeverCalledAfterTheFirstFailed) {
  int second_calls = 0;
  const auto second = [&] { ++second_calls; };
  EXPECT_THROW(RunSequential(TagStateAndFailures(kName), Fails(std::logic_error(kArmText)), second),
               std::logic_error);
  EXPECT_EQ(second_calls, 0);
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { RunSequential(TagFailures(kName), second, Fails(std::runtime_error(kArmText))); },
      kName + "(second) It went wrong"));
}

// No task outlives its call: the first arm's error leaves only once the
// second arm's task has ended; the second arm's error is logged.
TEST(ConcurrentTest, TheFirstArmsErrorLeavesAfterTheSecondArmEnded) {
  LogCapture log(spdlog::level::warn);
  std::atomic<bool> ended{false};
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] {
        RunConcurrent(TagInputStateAndFailures(kName), Fails(std::logic_error("[a] one")), [&] {
          SlowArm(ended)();
          throw std::runtime_error("[a] two");
        });
      },
      kName + "(first) one"));
  EXPECT_TRUE(ended);
  EXPECT_EQ(log.Count(spdlog::level::warn, kName + "(second) Also failed: two"), 1);
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { RunConcurrent(TagFailures(kName), kNothing, Fails(std::runtime_error("[a] two"))); },
      kName + "(second) two"));
}

// When the second task cannot be started, that error leaves unchanged once
// the first task has ended; the second arm gets no call.
TEST(ConcurrentTest, ASecondTaskThatCannotStartLeavesAfterTheFirstEnded) {
  LogCapture log(spdlog::level::warn);
  for (const bool first_fails : {false, true}) {
    std::atomic<bool> ended{false};
    const std::function<void()> first =
        first_fails ? Fails(std::logic_error("[a] bad")) : SlowArm(ended);
    int second_calls = 0;
    EXPECT_THROW(
        RunConcurrent(
            TagInputStateAndFailures(kName), first, [&] { ++second_calls; }, SecondStartFails()),
        std::system_error);
    EXPECT_EQ(ended.load(), !first_fails);
    EXPECT_EQ(second_calls, 0);
  }
  EXPECT_EQ(log.Count(spdlog::level::warn, kName + "(first) Also failed: bad"), 1);
}

}  // namespace
}  // namespace quiral::bivek::detail
