// Per-arm execution and error tagging, with plain callables in place of
// the arms.

#include "bivek/per_arm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <typeinfo>

#include "tests/vek/robot_test_util.h"

namespace quiral::bivek::detail {
namespace {

using namespace std::chrono_literals;
using vek::testing_util::LogCapture;
using vek::testing_util::Throws;

const std::string kName = "[quiral::bivek::RobotPair::Op]";

using RE = Retag<std::runtime_error>;
using LE_RE = Retag<std::logic_error, std::runtime_error>;
using IA_RE = Retag<std::invalid_argument, std::runtime_error>;
using IA_LE = Retag<std::invalid_argument, std::logic_error>;
using IA_LE_RE = Retag<std::invalid_argument, std::logic_error, std::runtime_error>;
using LN_IA_RE = Retag<std::length_error, std::invalid_argument, std::runtime_error>;
using LN_LE_RE = Retag<std::length_error, std::logic_error, std::runtime_error>;

const std::string kArmText = "[quiral::vek::Robot::Op] It went wrong";

// An arm operation that throws `e`.
template <class E>
std::function<void()> Fails(E e) {
  return [e] { throw e; };
}

// Runs `arm_error` as the first arm's operation of a sequential call with
// the policy P and expects exactly class E with exactly `text`.
template <class P, class E>
::testing::AssertionResult LeavesAs(const std::function<void()>& arm_error,
                                    const std::string& text) {
  return Throws<E>([&] { RunSequential(P(kName), arm_error, [] {}); }, text);
}

// A latch that tasks wait on with a deadline.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  bool Wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

// Two tasks that each wait until both have started: they only get through
// when they really run at the same time.
class Rendezvous {
 public:
  bool Arrive(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++arrived_;
    cv_.notify_all();
    return cv_.wait_for(lock, timeout, [&] { return arrived_ == 2; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int arrived_ = 0;
};

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

TEST(ExtractExceptMsgTest, CutsAtTheFirstClosingBracket) {
  EXPECT_EQ(_ExtractExceptMsg("[quiral::vek::Robot::Enable] E-stop is not released"),
            " E-stop is not released");
  EXPECT_EQ(_ExtractExceptMsg("no bracket at all"), "no bracket at all");
  EXPECT_EQ(_ExtractExceptMsg("[quiral::vek::Robot::Enable]"), "");
  EXPECT_EQ(_ExtractExceptMsg("[a] one [b] two"), " one [b] two");
  EXPECT_EQ(_ExtractExceptMsg("]"), "");
  EXPECT_EQ(_ExtractExceptMsg(""), "");
  EXPECT_EQ(_ExtractExceptMsg("text] rest"), " rest");
}

TEST(RetagTest, ClassOfTheReplacementIsTheFirstListedBase) {
  const std::string tagged = kName + "(first) It went wrong";
  // A listed class keeps its class.
  EXPECT_TRUE(
      (LeavesAs<IA_LE_RE, std::invalid_argument>(Fails(std::invalid_argument(kArmText)), tagged)));
  EXPECT_TRUE((LeavesAs<IA_LE_RE, std::logic_error>(Fails(std::logic_error(kArmText)), tagged)));
  EXPECT_TRUE(
      (LeavesAs<IA_LE_RE, std::runtime_error>(Fails(std::runtime_error(kArmText)), tagged)));
  // A derived class leaves as the listed base it derives from.
  EXPECT_TRUE((LeavesAs<IA_LE_RE, std::logic_error>(Fails(std::length_error(kArmText)), tagged)));
  EXPECT_TRUE((LeavesAs<IA_LE_RE, std::logic_error>(Fails(std::out_of_range(kArmText)), tagged)));
  EXPECT_TRUE((LeavesAs<IA_LE_RE, std::runtime_error>(Fails(std::range_error(kArmText)), tagged)));
  EXPECT_TRUE((LeavesAs<RE, std::runtime_error>(
      Fails(std::system_error(std::make_error_code(std::errc::io_error), kArmText)),
      kName + "(first) It went wrong: " + std::make_error_code(std::errc::io_error).message())));
  // Without std::invalid_argument in the list it becomes a std::logic_error.
  EXPECT_TRUE((LeavesAs<LE_RE, std::logic_error>(Fails(std::invalid_argument(kArmText)), tagged)));
  EXPECT_TRUE(
      (LeavesAs<LN_LE_RE, std::logic_error>(Fails(std::invalid_argument(kArmText)), tagged)));
  EXPECT_TRUE((LeavesAs<LN_LE_RE, std::length_error>(Fails(std::length_error(kArmText)), tagged)));
  EXPECT_TRUE((LeavesAs<LN_IA_RE, std::length_error>(Fails(std::length_error(kArmText)), tagged)));
  EXPECT_TRUE(
      (LeavesAs<LN_IA_RE, std::invalid_argument>(Fails(std::invalid_argument(kArmText)), tagged)));
}

TEST(RetagTest, UnlistedClassesLeaveUnchanged) {
  // Class and text of the arm's own error.
  EXPECT_TRUE((LeavesAs<IA_RE, std::logic_error>(Fails(std::logic_error(kArmText)), kArmText)));
  EXPECT_TRUE((LeavesAs<IA_RE, std::out_of_range>(Fails(std::out_of_range(kArmText)), kArmText)));
  EXPECT_TRUE(
      (LeavesAs<LN_IA_RE, std::out_of_range>(Fails(std::out_of_range(kArmText)), kArmText)));
  EXPECT_TRUE((LeavesAs<RE, std::logic_error>(Fails(std::logic_error(kArmText)), kArmText)));
  EXPECT_TRUE((LeavesAs<IA_LE, std::runtime_error>(Fails(std::runtime_error(kArmText)), kArmText)));
  EXPECT_TRUE(
      (LeavesAs<IA_LE_RE, std::bad_alloc>(Fails(std::bad_alloc()), std::bad_alloc().what())));
  // Not even a std::exception.
  EXPECT_THROW(RunSequential(
                   IA_LE_RE(kName), [] { throw 42; }, [] {}),
               int);
}

TEST(RetagTest, TextsWithoutOrWithOnlyABracket) {
  EXPECT_TRUE((LeavesAs<RE, std::runtime_error>(Fails(std::runtime_error("plain text")),
                                                kName + "(first)plain text")));
  EXPECT_TRUE((LeavesAs<RE, std::runtime_error>(Fails(std::runtime_error("[quiral::vek::Robot]")),
                                                kName + "(first)")));
  EXPECT_TRUE((LeavesAs<RE, std::runtime_error>(
      Fails(std::runtime_error("[quiral::vek::Robot::X] a [b] c")), kName + "(first) a [b] c")));
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

TEST(SequentialTest, FirstThenSecondOnTheCallingThread) {
  const auto caller = std::this_thread::get_id();
  std::vector<std::string> calls;
  const auto results = RunSequential(
      RE(kName),
      [&] {
        calls.push_back("first");
        EXPECT_EQ(std::this_thread::get_id(), caller);
        return 1;
      },
      [&] {
        calls.push_back("second");
        EXPECT_EQ(std::this_thread::get_id(), caller);
        return std::string("two");
      });
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(results, std::make_pair(1, std::string("two")));
}

TEST(SequentialTest, TheSecondArmIsNotCalledOnceTheFirstFailed) {
  int second_calls = 0;
  const auto second = [&] { ++second_calls; };
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] { RunSequential(LE_RE(kName), Fails(std::logic_error(kArmText)), second); },
      kName + "(first) It went wrong"));
  // An error the list does not match stops the call just as well.
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] { RunSequential(RE(kName), Fails(std::logic_error(kArmText)), second); }, kArmText));
  EXPECT_THROW(RunSequential(
                   RE(kName), [] { throw 1; }, second),
               int);
  EXPECT_EQ(second_calls, 0);

  int first_calls = 0;
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        RunSequential(
            RE(kName), [&] { ++first_calls; }, Fails(std::runtime_error(kArmText)));
      },
      kName + "(second) It went wrong"));
  EXPECT_EQ(first_calls, 1);
}

TEST(SequentialTest, SelectorSkipsUnselectedArms) {
  std::vector<std::string> calls;
  const auto first = [&] { calls.push_back("first"); };
  const auto second = [&] { calls.push_back("second"); };
  RunSequentialSelected(RE(kName), {false, false}, first, second);
  EXPECT_TRUE(calls.empty());
  RunSequentialSelected(RE(kName), {false, true}, first, second);
  EXPECT_EQ(calls, (std::vector<std::string>{"second"}));
  calls.clear();
  RunSequentialSelected(RE(kName), {true, false}, first, second);
  EXPECT_EQ(calls, (std::vector<std::string>{"first"}));
  // An unselected first arm cannot fail.
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        RunSequentialSelected(RE(kName), {false, true}, Fails(std::runtime_error(kArmText)),
                              Fails(std::runtime_error("[x] second")));
      },
      kName + "(second) second"));
}

TEST(ConcurrentTest, BothArmsRunAtTheSameTimeOnThreadsOfTheirOwn) {
  const auto caller = std::this_thread::get_id();
  Rendezvous both;
  std::thread::id first_thread;
  std::thread::id second_thread;
  const auto results = RunConcurrent(
      RE(kName),
      [&] {
        first_thread = std::this_thread::get_id();
        return both.Arrive(5s);
      },
      [&] {
        second_thread = std::this_thread::get_id();
        return both.Arrive(5s);
      });
  EXPECT_EQ(results, std::make_pair(true, true));
  EXPECT_NE(first_thread, caller);
  EXPECT_NE(second_thread, caller);
  EXPECT_NE(first_thread, second_thread);
}

TEST(ConcurrentTest, AFailedFirstArmLeavesOnlyAfterTheSecondArmEnded) {
  std::atomic<bool> second_ended{false};
  Gate first_failed;
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        RunConcurrent(
            IA_LE_RE(kName),
            [&] {
              first_failed.Open();
              throw std::invalid_argument(kArmText);
            },
            [&] {
              // Still busy well after the first arm has failed.
              first_failed.Wait(5s);
              std::this_thread::sleep_for(200ms);
              second_ended = true;
            });
      },
      kName + "(first) It went wrong"));
  EXPECT_TRUE(second_ended);
}

TEST(ConcurrentTest, WhenBothFailOnlyTheFirstLeavesAndTheSecondIsLogged) {
  LogCapture log(spdlog::level::warn);
  std::atomic<bool> second_ended{false};
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] {
        RunConcurrent(IA_LE_RE(kName), Fails(std::logic_error("[quiral::vek::Robot::Op] one")),
                      [&] {
                        std::this_thread::sleep_for(100ms);
                        second_ended = true;
                        throw std::runtime_error("[quiral::vek::Robot::Op] two");
                      });
      },
      kName + "(first) one"));
  EXPECT_TRUE(second_ended);
  EXPECT_EQ(log.Count(spdlog::level::warn, kName + "(second) Also failed: two"), 1);
}

TEST(ConcurrentTest, ErrorsOfTheSecondArmAndUnlistedErrors) {
  std::atomic<int> first_calls{0};
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        RunConcurrent(
            RE(kName), [&] { ++first_calls; }, Fails(std::runtime_error(kArmText)));
      },
      kName + "(second) It went wrong"));
  EXPECT_EQ(first_calls, 1);

  // Unlisted: unchanged, and still only after the other task ended.
  std::atomic<bool> second_ended{false};
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] {
        RunConcurrent(RE(kName), Fails(std::logic_error(kArmText)), [&] {
          std::this_thread::sleep_for(100ms);
          second_ended = true;
        });
      },
      kArmText));
  EXPECT_TRUE(second_ended);
  second_ended = false;
  EXPECT_THROW(RunConcurrent(
                   RE(kName), [] { throw 3; },
                   [&] {
                     std::this_thread::sleep_for(100ms);
                     second_ended = true;
                   }),
               int);
  EXPECT_TRUE(second_ended);
}

TEST(ConcurrentTest, SelectorStartsOnlySelectedArms) {
  std::atomic<int> first_calls{0};
  std::atomic<int> second_calls{0};
  const auto first = [&] { ++first_calls; };
  const auto second = [&] { ++second_calls; };
  RunConcurrentSelected(RE(kName), {false, false}, first, second);
  EXPECT_EQ(first_calls + second_calls, 0);
  RunConcurrentSelected(RE(kName), {false, true}, first, second);
  EXPECT_EQ(first_calls, 0);
  EXPECT_EQ(second_calls, 1);
  RunConcurrentSelected(RE(kName), {true, false}, first, second);
  EXPECT_EQ(first_calls, 1);
  EXPECT_EQ(second_calls, 1);
  EXPECT_TRUE(Throws<std::logic_error>(
      [&] {
        RunConcurrentSelected(LE_RE(kName), {false, true}, Fails(std::logic_error("[a] no")),
                              Fails(std::invalid_argument("[b] yes")));
      },
      kName + "(second) yes"));
}

TEST(ConcurrentTest, ASecondTaskThatCannotStartLeavesAfterTheFirstEnded) {
  std::atomic<bool> first_ended{false};
  int second_calls = 0;
  try {
    RunConcurrent(
        IA_LE_RE(kName),
        [&] {
          std::this_thread::sleep_for(200ms);
          first_ended = true;
        },
        [&] { ++second_calls; }, SecondStartFails());
    FAIL() << "no error";
  } catch (const std::system_error& e) {
    // Unchanged: the thread library's own error.
    EXPECT_EQ(typeid(e), typeid(std::system_error));
    EXPECT_EQ(e.code(), std::make_error_code(std::errc::resource_unavailable_try_again));
  }
  EXPECT_TRUE(first_ended);
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
