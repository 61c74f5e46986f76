// Per-arm execution and error tagging, with plain callables in place of
// the arms.

#include "bivek/per_arm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <typeindex>
#include <typeinfo>

#include "tests/vek/robot_test_util.h"

namespace quiral::bivek::detail {
namespace {

using namespace std::chrono_literals;
using vek::testing_util::LogCapture;
using vek::testing_util::Throws;

const std::string kName = "[quiral::bivek::RobotPair::Op]";
const std::string kArmText = "[quiral::vek::Robot::Op] It went wrong";
const std::string kFirstTagged = kName + "(first) It went wrong";

using RE = Retag<std::runtime_error>;
using LE_RE = Retag<std::logic_error, std::runtime_error>;
using IA_RE = Retag<std::invalid_argument, std::runtime_error>;
using IA_LE = Retag<std::invalid_argument, std::logic_error>;
using IA_LE_RE = Retag<std::invalid_argument, std::logic_error, std::runtime_error>;
using LN_IA_RE = Retag<std::length_error, std::invalid_argument, std::runtime_error>;
using LN_LE_RE = Retag<std::length_error, std::logic_error, std::runtime_error>;

// An arm operation that throws `e`.
template <class E>
std::function<void()> Fails(E e) {
  return [e] { throw e; };
}

// Class and text of what leaves a sequential call under policy P whose first
// arm throws `e`.
struct Outcome {
  std::type_index type;
  std::string text;
};
template <class P, class E>
Outcome Leaves(E e) {
  try {
    RunSequential(P(kName), Fails(e), [] {});
  } catch (const std::exception& left) {
    return {typeid(left), left.what()};
  }
  return {typeid(void), "nothing thrown"};
}

// Starts the first task; fails to start the second as if no thread could be
// created.
struct SecondStartFails {
  mutable int starts = 0;
  template <class F>
  auto operator()(F&& task) const {
    if (++starts == 2)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::async(std::launch::async, std::forward<F>(task));
  }
};

// A task that is still busy well after the other one has failed, and
// records that it ran to its end.
std::function<void()> BusyUntilLate(std::atomic<bool>& ended) {
  return [&ended] {
    std::this_thread::sleep_for(200ms);
    ended = true;
  };
}

TEST(ExtractExceptMsgTest, CutsAtTheFirstClosingBracket) {
  const std::pair<std::string, std::string> cases[] = {
      {"[quiral::vek::Robot::Enable] E-stop is not released", " E-stop is not released"},
      {"no bracket at all", "no bracket at all"},
      {"[quiral::vek::Robot::Enable]", ""},
      {"[a] one [b] two", " one [b] two"},
      {"]", ""},
      {"", ""},
      {"text] rest", " rest"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(_ExtractExceptMsg(text), expected) << text;
}

TEST(RetagTest, LeavesAsTheFirstListedBaseOrUnchanged) {
  const std::string io = std::make_error_code(std::errc::io_error).message();
  const struct {
    Outcome got;
    std::type_index type;
    std::string text;
  } cases[] = {
      // A listed class keeps its class; a derived one leaves as the first
      // listed base it derives from.
      {Leaves<IA_LE_RE>(std::invalid_argument(kArmText)), typeid(std::invalid_argument),
       kFirstTagged},
      {Leaves<IA_LE_RE>(std::logic_error(kArmText)), typeid(std::logic_error), kFirstTagged},
      {Leaves<IA_LE_RE>(std::runtime_error(kArmText)), typeid(std::runtime_error), kFirstTagged},
      {Leaves<IA_LE_RE>(std::length_error(kArmText)), typeid(std::logic_error), kFirstTagged},
      {Leaves<RE>(std::system_error(std::make_error_code(std::errc::io_error), kArmText)),
       typeid(std::runtime_error), kFirstTagged + ": " + io},
      {Leaves<LE_RE>(std::invalid_argument(kArmText)), typeid(std::logic_error), kFirstTagged},
      {Leaves<LN_LE_RE>(std::length_error(kArmText)), typeid(std::length_error), kFirstTagged},
      {Leaves<LN_IA_RE>(std::invalid_argument(kArmText)), typeid(std::invalid_argument),
       kFirstTagged},
      // Unlisted classes: the arm's own class and text.
      {Leaves<IA_RE>(std::logic_error(kArmText)), typeid(std::logic_error), kArmText},
      {Leaves<LN_IA_RE>(std::out_of_range(kArmText)), typeid(std::out_of_range), kArmText},
      {Leaves<IA_LE>(std::runtime_error(kArmText)), typeid(std::runtime_error), kArmText},
      {Leaves<IA_LE_RE>(std::bad_alloc()), typeid(std::bad_alloc), std::bad_alloc().what()},
      // A text without a bracket is kept whole.
      {Leaves<RE>(std::runtime_error("plain text")), typeid(std::runtime_error),
       kName + "(first)plain text"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_TRUE(cases[i].got.type == cases[i].type)
        << "case " << i << ": " << cases[i].got.type.name();
    EXPECT_EQ(cases[i].got.text, cases[i].text) << "case " << i;
  }
  // Not even a std::exception.
  EXPECT_THROW(RunSequential(
                   IA_LE_RE(kName), [] { throw 42; }, [] {}),
               int);
}

TEST(FixedRuntimeErrorTest, ReplacesEveryStandardErrorAndLogsTheReason) {
  LogCapture log;
  const FixedRuntimeError policy("[quiral::bivek::RobotPair::Stop]", " Failed to stop the robot");
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        RunConcurrentSelected(
            policy, {true, true}, [] {},
            Fails(std::invalid_argument("[quiral::vek::Robot::SwitchMode] no")));
      },
      "[quiral::bivek::RobotPair::Stop](second) Failed to stop the robot"));
  EXPECT_EQ(log.Count(spdlog::level::err,
                      "[quiral::bivek::RobotPair::Stop](second) Failed to stop the robot: no"),
            1);
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        RunConcurrentSelected(policy, {true, false}, Fails(std::bad_alloc()), [] {});
      },
      "[quiral::bivek::RobotPair::Stop](first) Failed to stop the robot"));
  EXPECT_THROW(RunConcurrentSelected(
                   policy, {true, true}, [] { throw 7; }, [] {}),
               int);
}

TEST(SequentialTest, FirstThenSecondOnTheCallingThreadNeverAfterAFailure) {
  const auto caller = std::this_thread::get_id();
  std::vector<int> calls;
  const auto arm = [&](int n) {
    return [&, n] {
      calls.push_back(n);
      EXPECT_EQ(std::this_thread::get_id(), caller);
      return n;
    };
  };
  EXPECT_EQ(RunSequential(RE(kName), arm(1), arm(2)), std::make_pair(1, 2));
  // The first arm fails, whatever it throws: the second is not called.
  EXPECT_THROW(RunSequential(LE_RE(kName), Fails(std::logic_error(kArmText)), arm(3)),
               std::logic_error);
  EXPECT_THROW(RunSequential(RE(kName), Fails(std::logic_error(kArmText)), arm(3)),
               std::logic_error);
  EXPECT_THROW(RunSequential(
                   RE(kName), [] { throw 1; }, arm(3)),
               int);
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { RunSequential(RE(kName), arm(4), Fails(std::runtime_error(kArmText))); },
      kName + "(second) It went wrong"));
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 4}));
}

// No task outlives its call: the first arm's error leaves only once the
// second arm's task has ended; the second arm's error leaves tagged.
TEST(ConcurrentTest, AFailedFirstArmLeavesOnlyAfterTheSecondArmEnded) {
  std::atomic<bool> ended{false};
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        RunConcurrent(IA_LE_RE(kName), Fails(std::invalid_argument(kArmText)),
                      BusyUntilLate(ended));
      },
      kFirstTagged));
  EXPECT_TRUE(ended);
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        RunConcurrent(
            RE(kName), [] {}, Fails(std::runtime_error(kArmText)));
      },
      kName + "(second) It went wrong"));
}

TEST(ConcurrentTest, WhenBothFailOnlyTheFirstLeavesAndTheSecondIsLogged) {
  LogCapture log(spdlog::level::warn);
  std::atomic<bool> ended{false};
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] {
        RunConcurrent(IA_LE_RE(kName), Fails(std::logic_error("[quiral::vek::Robot::Op] one")),
                      [&] {
                        BusyUntilLate(ended)();
                        throw std::runtime_error("[quiral::vek::Robot::Op] two");
                      });
      },
      kName + "(first) one"));
  EXPECT_TRUE(ended);
  EXPECT_EQ(log.Count(spdlog::level::warn, kName + "(second) Also failed: two"), 1);
}

TEST(ConcurrentTest, ASecondTaskThatCannotStartLeavesAfterTheFirstEnded) {
  std::atomic<bool> ended{false};
  int second_calls = 0;
  try {
    RunConcurrent(
        IA_LE_RE(kName), BusyUntilLate(ended), [&] { ++second_calls; }, SecondStartFails());
    FAIL() << "no error";
  } catch (const std::system_error& e) {
    // Unchanged: the thread library's own error.
    EXPECT_EQ(typeid(e), typeid(std::system_error));
    EXPECT_EQ(e.code(), std::make_error_code(std::errc::resource_unavailable_try_again));
  }
  EXPECT_TRUE(ended);
  EXPECT_EQ(second_calls, 0);

  // The same when the first task fails meanwhile: the start error leaves.
  LogCapture log(spdlog::level::warn);
  EXPECT_THROW(
      RunConcurrent(
          IA_LE_RE(kName), Fails(std::logic_error("[a] first failed")), [] {}, SecondStartFails()),
      std::system_error);
  EXPECT_EQ(log.Count(spdlog::level::warn, kName + "(first) Also failed: first failed"), 1);
}

}  // namespace
}  // namespace quiral::bivek::detail
