// Internal: runs one operation on each object of a pair (the two arms'
// robots, or any two objects of one class, one per arm), one after the
// other or both at once, and turns an arm's error into the pair's tagged
// error. Every dual-arm operation of this library goes through these
// functions; none starts threads or tags errors by itself.
//
// The usual form names the member function to run on each object and its
// arguments:
//   RunConcurrent(TagInputStateAndFailures(Name("SetJointImpedance")), robots,
//                 &vek::Robot::SetJointImpedance, K_q, Z_q);
// `objects` is a std::pair of pointers (plain, shared or unique) to the two
// objects. An argument that is a std::pair<T, T> gives each arm its own
// element (`first` to the first arm); any other argument goes to both arms
// as it is. The arguments are read in place while the arms run.
//
//   RunSequential(policy, objects, member, args...)
//   RunSequentialSelected(policy, selected, objects, member, args...)
//       on the calling thread, first arm then second; the second arm is not
//       called once the first has thrown
//   RunConcurrent(policy, objects, member, args...)
//   RunConcurrentSelected(policy, selected, objects, member, args...)
//       one std::async task per (selected) arm
// A selector form runs only the arms whose flag in `selected` is true.
//
// In place of `member`, RunSequential, RunConcurrent and
// RunConcurrentSelected also take CheckedMember{check, member}: before
// either arm runs `member`, `check` is called as check(object, args...) with
// each arm's object and arguments, first arm then second, on the calling
// thread (in the selector form, for the selected arms only: an arm left out
// is neither checked nor run). A check throws what `member` would throw for
// these arguments, and that error leaves as the member's own would (the same
// policy, the same arm tag); then neither arm is commanded. So an argument
// that is wrong for the second arm does not leave the first arm moved.
//
// In place of `objects, member, args...` each form also takes two callables
// without arguments, `first` and `second`, for arm work that is not one
// member call; each runs once. The results come back as a std::pair
// (nothing for void operations and for the selector forms).
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
// The named Retag policies below re-tag by classes of error; Untagged
// passes every error unchanged; FixedRuntimeError replaces every
// std::exception by one fixed text.
#pragma once

#include <exception>
#include <functional>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "bivek/robot_pair.h"

namespace quiral::bivek::detail {

enum class Arm { kFirst, kSecond };
// Both arms, first then second, for loops over a pair's arms.
inline constexpr Arm kArms[] = {Arm::kFirst, Arm::kSecond};

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

// The re-tag policies of the pairs' operations, named by the errors they
// re-tag, in the order they are tried:
//   Oversize  std::length_error: an empty map, or an input beyond its
//             transmission limit
//   Input     std::invalid_argument: an argument the arm refuses
//   State     std::logic_error, and what derives from it and is not listed
//             before it: the arm's state does not allow the operation
//   Failures  std::runtime_error: the robot or the link failed
// An error of a class that a policy does not name leaves unchanged and
// untagged; under a policy with State but without Input, an arm's
// std::invalid_argument leaves as a plain std::logic_error.
using TagFailures = Retag<std::runtime_error>;
using TagStateAndFailures = Retag<std::logic_error, std::runtime_error>;
using TagInputAndFailures = Retag<std::invalid_argument, std::runtime_error>;
using TagInputAndState = Retag<std::invalid_argument, std::logic_error>;
using TagInputStateAndFailures = Retag<std::invalid_argument, std::logic_error, std::runtime_error>;
using TagOversizeInputAndFailures =
    Retag<std::length_error, std::invalid_argument, std::runtime_error>;
using TagOversizeStateAndFailures = Retag<std::length_error, std::logic_error, std::runtime_error>;

// Every error of an arm leaves unchanged (the queries).
struct Untagged {
  const std::string& name() const {
    static const std::string kNone;
    return kNone;
  }
  [[noreturn]] void Raise(Arm, const std::exception_ptr& error) const {
    std::rethrow_exception(error);
  }
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

// An argument as one arm receives it: its own element of a per-arm pair,
// any other argument as it is.
template <class T>
const T& ForArm(Arm, const T& shared) {
  return shared;
}
template <class T>
const T& ForArm(Arm arm, const std::pair<T, T>& per_arm) {
  return arm == Arm::kFirst ? per_arm.first : per_arm.second;
}
template <class T>
T& ForArm(Arm arm, std::pair<T, T>& per_arm) {
  return arm == Arm::kFirst ? per_arm.first : per_arm.second;
}

// `member` called on one arm's object with that arm's arguments, as a
// callable without arguments that refers to the object and the arguments.
template <class Object, class Member, class... Args>
auto ArmCall(Arm arm, const Object& object, Member member, const Args&... args) {
  return [arm, &object, member, &args...] {
    static_cast<void>(arm);  // unused when there are no arguments
    return std::invoke(member, *object, ForArm(arm, args)...);
  };
}

template <class F1, class F2>
using IfCallables = std::enable_if_t<std::is_invocable_v<F1&> && std::is_invocable_v<F2&>>;
template <class Member>
using IfMember = std::enable_if_t<std::is_member_function_pointer_v<Member>>;

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
template <class Policy, class F1, class F2, class Launcher = AsyncLauncher,
          class = IfCallables<F1, F2>>
auto RunConcurrent(const Policy& policy, F1&& first, F2&& second,
                   const Launcher& launch = Launcher()) {
  auto results = RunTasks(policy, {true, true}, first, second, launch);
  if constexpr (!kBothVoid<F1, F2>) {
    return std::make_pair(std::move(*results.first), std::move(*results.second));
  }
}

// The selected arms at once; an arm whose flag is false is not contacted.
template <class Policy, class F1, class F2, class Launcher = AsyncLauncher,
          class = IfCallables<F1, F2>>
void RunConcurrentSelected(const Policy& policy, std::pair<bool, bool> selected, F1&& first,
                           F2&& second, const Launcher& launch = Launcher()) {
  static_assert(kBothVoid<F1, F2>, "selector forms return nothing");
  RunTasks(policy, selected, first, second, launch);
}

// First arm, then second, on the calling thread.
template <class Policy, class F1, class F2, class = IfCallables<F1, F2>>
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
template <class Policy, class F1, class F2, class = IfCallables<F1, F2>>
void RunSequentialSelected(const Policy& policy, std::pair<bool, bool> selected, F1&& first,
                           F2&& second) {
  static_assert(kBothVoid<F1, F2>, "selector forms return nothing");
  if (selected.first) CallArm(policy, Arm::kFirst, first);
  if (selected.second) CallArm(policy, Arm::kSecond, second);
}

// The member forms: `member` of each object of `objects`, with each arm's
// arguments.

// A member function with the check of its arguments (see the top).
template <class Check, class Member>
struct CheckedMember {
  Check check;
  Member member;
};
template <class Check, class Member>
CheckedMember(Check, Member) -> CheckedMember<Check, Member>;

// `check` on the selected arms, first then second, on the calling thread.
template <class Policy, class P1, class P2, class Check, class... Args>
void CheckArms(const Policy& policy, std::pair<bool, bool> selected,
               const std::pair<P1, P2>& objects, const Check& check, const Args&... args) {
  auto first = ArmCall(Arm::kFirst, objects.first, check, args...);
  auto second = ArmCall(Arm::kSecond, objects.second, check, args...);
  if (selected.first) CallArm(policy, Arm::kFirst, first);
  if (selected.second) CallArm(policy, Arm::kSecond, second);
}

template <class Policy, class P1, class P2, class Member, class... Args, class = IfMember<Member>>
auto RunConcurrent(const Policy& policy, const std::pair<P1, P2>& objects, Member member,
                   const Args&... args) {
  return RunConcurrent(policy, ArmCall(Arm::kFirst, objects.first, member, args...),
                       ArmCall(Arm::kSecond, objects.second, member, args...));
}

template <class Policy, class P1, class P2, class Member, class... Args, class = IfMember<Member>>
void RunConcurrentSelected(const Policy& policy, std::pair<bool, bool> selected,
                           const std::pair<P1, P2>& objects, Member member, const Args&... args) {
  RunConcurrentSelected(policy, selected, ArmCall(Arm::kFirst, objects.first, member, args...),
                        ArmCall(Arm::kSecond, objects.second, member, args...));
}

template <class Policy, class P1, class P2, class Member, class... Args, class = IfMember<Member>>
auto RunSequential(const Policy& policy, const std::pair<P1, P2>& objects, Member member,
                   const Args&... args) {
  return RunSequential(policy, ArmCall(Arm::kFirst, objects.first, member, args...),
                       ArmCall(Arm::kSecond, objects.second, member, args...));
}

template <class Policy, class P1, class P2, class Check, class Member, class... Args>
auto RunConcurrent(const Policy& policy, const std::pair<P1, P2>& objects,
                   const CheckedMember<Check, Member>& checked, const Args&... args) {
  CheckArms(policy, {true, true}, objects, checked.check, args...);
  return RunConcurrent(policy, objects, checked.member, args...);
}

template <class Policy, class P1, class P2, class Check, class Member, class... Args>
void RunConcurrentSelected(const Policy& policy, std::pair<bool, bool> selected,
                           const std::pair<P1, P2>& objects,
                           const CheckedMember<Check, Member>& checked, const Args&... args) {
  CheckArms(policy, selected, objects, checked.check, args...);
  RunConcurrentSelected(policy, selected, objects, checked.member, args...);
}

template <class Policy, class P1, class P2, class Check, class Member, class... Args>
auto RunSequential(const Policy& policy, const std::pair<P1, P2>& objects,
                   const CheckedMember<Check, Member>& checked, const Args&... args) {
  CheckArms(policy, {true, true}, objects, checked.check, args...);
  return RunSequential(policy, objects, checked.member, args...);
}

template <class Policy, class P1, class P2, class Member, class... Args, class = IfMember<Member>>
void RunSequentialSelected(const Policy& policy, std::pair<bool, bool> selected,
                           const std::pair<P1, P2>& objects, Member member, const Args&... args) {
  RunSequentialSelected(policy, selected, ArmCall(Arm::kFirst, objects.first, member, args...),
                        ArmCall(Arm::kSecond, objects.second, member, args...));
}

}  // namespace quiral::bivek::detail
