// Internal: runs one operation per arm, one arm after the other or both at
// once, and turns an arm's error into the pair's tagged error. Every
// dual-arm operation of this library goes through these functions; none
// starts threads or tags errors by itself.
//
//   RunSequential(policy, first, second)          calling thread; the second
//   RunSequentialSelected(policy, sel, first, second)   arm is not called
//                                                  once the first has thrown
//   RunConcurrent(policy, first, second)          one std::async task per
//   RunConcurrentSelected(policy, sel, first, second)   (selected) arm
//
// `first` and `second` are callables without arguments; they run once each.
// The results come back as a std::pair (nothing for void callables and for
// the selector forms).
//
// Concurrent rules:
// - Both tasks are started before either is awaited, the first arm's first.
// - The call never returns or throws before every task it started has
//   ended: when the first arm fails, the second arm's task is waited for
//   before the first arm's error leaves; when the second task cannot be
//   started, the first one is waited for before that error leaves
//   unchanged (the second arm then gets no command).
// - When both arms fail, the first arm's error leaves; the second arm's is
//   logged as a warning, so that it is not lost.
//
// A policy turns an arm's error into the error that leaves the pair:
//   [[noreturn]] void Raise(Arm arm, const std::exception_ptr& error) const;
//   const std::string& name() const;  // e.g. "[quiral::bivek::RobotPair::Enable]"
// Retag<E...> re-tags by a list of exception classes; FixedRuntimeError
// replaces every std::exception by one fixed text.
#pragma once

#include <exception>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "bivek/robot_pair.h"

namespace quiral::bivek::detail {

enum class Arm { kFirst, kSecond };

// "(first)" or "(second)".
const char* ArmTag(Arm arm);

// The text of an error as an arm reported it: what() of a std::exception,
// else a fixed text.
std::string ErrorText(const std::exception_ptr& error);

// Logs at warning level an arm's error that does not leave the operation
// because the other arm's error does.
void LogDroppedError(const std::string& name, Arm arm, const std::exception_ptr& error);

// Rethrow(error, tag) throws a new exception of the first class of Es that
// `error` derives from, with the text `tag` + _ExtractExceptMsg(what()); it
// rethrows `error` unchanged when it derives from none of them.
template <class... Es>
struct Tagger;

template <>
struct Tagger<> {
  [[noreturn]] static void Rethrow(const std::exception_ptr& error, const std::string&) {
    std::rethrow_exception(error);
  }
};

template <class E, class... Rest>
struct Tagger<E, Rest...> {
  [[noreturn]] static void Rethrow(const std::exception_ptr& error, const std::string& tag) {
    try {
      std::rethrow_exception(error);
    } catch (const E& e) {
      throw E(tag + _ExtractExceptMsg(e.what()));
    } catch (...) {
    }
    Tagger<Rest...>::Rethrow(error, tag);
  }
};

// True when no class of the list derives from a class before it: a derived
// class must be tried before its base, or it could never match.
template <class E, class... Rest>
constexpr bool NoBaseOfLaterOne() {
  return (!std::is_base_of_v<E, Rest> && ...);
}
template <class... Es>
struct DerivedFirst;
template <>
struct DerivedFirst<> : std::true_type {};
template <class E, class... Rest>
struct DerivedFirst<E, Rest...>
    : std::bool_constant<NoBaseOfLaterOne<E, Rest...>() && DerivedFirst<Rest...>::value> {};

// Re-tags an arm's error by the classes Es, tried in this order.
template <class... Es>
class Retag {
  static_assert(sizeof...(Es) > 0, "a re-tag list names at least one class");
  static_assert(DerivedFirst<Es...>::value, "a derived class must come before its base");

 public:
  explicit Retag(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }
  [[noreturn]] void Raise(Arm arm, const std::exception_ptr& error) const {
    Tagger<Es...>::Rethrow(error, name_ + ArmTag(arm));
  }

 private:
  std::string name_;
};

// Replaces any std::exception of an arm by a std::runtime_error with the text
// name + arm tag + `text` (the arm's own text is logged as an error, not
// passed on); other exceptions leave unchanged.
class FixedRuntimeError {
 public:
  FixedRuntimeError(std::string name, std::string text)
      : name_(std::move(name)), text_(std::move(text)) {}
  const std::string& name() const { return name_; }
  [[noreturn]] void Raise(Arm arm, const std::exception_ptr& error) const;

 private:
  std::string name_;
  std::string text_;
};

// Starts a task on a thread of its own. Tests replace it to make a start
// fail.
struct AsyncLauncher {
  template <class F>
  auto operator()(F&& task) const {
    return std::async(std::launch::async, std::forward<F>(task));
  }
};

// What a task hands back: the callable's result, or Nothing for void.
struct Nothing {};
template <class F>
using TaskResult =
    std::conditional_t<std::is_void_v<std::invoke_result_t<F&>>, Nothing, std::invoke_result_t<F&>>;

template <class F>
TaskResult<F> Invoke(F& f) {
  if constexpr (std::is_void_v<std::invoke_result_t<F&>>) {
    f();
    return Nothing{};
  } else {
    return f();
  }
}

template <class Policy, class F>
TaskResult<F> CallArm(const Policy& policy, Arm arm, F& f) {
  try {
    return Invoke(f);
  } catch (...) {
    policy.Raise(arm, std::current_exception());
  }
}

// The core of concurrent execution: runs the selected arms' callables as
// tasks and returns the results of those that ran.
template <class Policy, class F1, class F2, class Launcher = AsyncLauncher>
std::pair<std::optional<TaskResult<F1>>, std::optional<TaskResult<F2>>> RunTasks(
    const Policy& policy, std::pair<bool, bool> selected, F1& first, F2& second,
    const Launcher& launch = Launcher()) {
  std::future<TaskResult<F1>> task1;
  std::future<TaskResult<F2>> task2;
  if (selected.first) task1 = launch([&first] { return Invoke(first); });
  if (selected.second) {
    try {
      task2 = launch([&second] { return Invoke(second); });
    } catch (...) {
      if (task1.valid()) {
        task1.wait();
        try {
          task1.get();
        } catch (...) {
          LogDroppedError(policy.name(), Arm::kFirst, std::current_exception());
        }
      }
      throw;
    }
  }

  std::optional<TaskResult<F1>> result1;
  if (task1.valid()) {
    try {
      result1.emplace(task1.get());
    } catch (...) {
      const std::exception_ptr error = std::current_exception();
      if (task2.valid()) {
        task2.wait();
        try {
          task2.get();
        } catch (...) {
          LogDroppedError(policy.name(), Arm::kSecond, std::current_exception());
        }
      }
      policy.Raise(Arm::kFirst, error);
    }
  }
  std::optional<TaskResult<F2>> result2;
  if (task2.valid()) {
    try {
      result2.emplace(task2.get());
    } catch (...) {
      policy.Raise(Arm::kSecond, std::current_exception());
    }
  }
  return {std::move(result1), std::move(result2)};
}

template <class F1, class F2>
constexpr bool kBothVoid =
    std::is_void_v<std::invoke_result_t<F1&>>&& std::is_void_v<std::invoke_result_t<F2&>>;

// Both arms at once; the pair of results (nothing for void callables).
template <class Policy, class F1, class F2, class Launcher = AsyncLauncher>
auto RunConcurrent(const Policy& policy, F1&& first, F2&& second,
                   const Launcher& launch = Launcher()) {
  auto results = RunTasks(policy, {true, true}, first, second, launch);
  if constexpr (!kBothVoid<F1, F2>) {
    return std::make_pair(std::move(*results.first), std::move(*results.second));
  }
}

// The selected arms at once; an arm whose flag is false is not contacted.
template <class Policy, class F1, class F2, class Launcher = AsyncLauncher>
void RunConcurrentSelected(const Policy& policy, std::pair<bool, bool> selected, F1&& first,
                           F2&& second, const Launcher& launch = Launcher()) {
  static_assert(kBothVoid<F1, F2>, "selector forms return nothing");
  RunTasks(policy, selected, first, second, launch);
}

// First arm, then second, on the calling thread.
template <class Policy, class F1, class F2>
auto RunSequential(const Policy& policy, F1&& first, F2&& second) {
  if constexpr (kBothVoid<F1, F2>) {
    CallArm(policy, Arm::kFirst, first);
    CallArm(policy, Arm::kSecond, second);
  } else {
    auto result1 = CallArm(policy, Arm::kFirst, first);
    auto result2 = CallArm(policy, Arm::kSecond, second);
    return std::make_pair(std::move(result1), std::move(result2));
  }
}

// The selected arms, first then second, on the calling thread.
template <class Policy, class F1, class F2>
void RunSequentialSelected(const Policy& policy, std::pair<bool, bool> selected, F1&& first,
                           F2&& second) {
  static_assert(kBothVoid<F1, F2>, "selector forms return nothing");
  if (selected.first) CallArm(policy, Arm::kFirst, first);
  if (selected.second) CallArm(policy, Arm::kSecond, second);
}

}  // namespace quiral::bivek::detail
