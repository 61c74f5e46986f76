// Helpers shared by the tests that drive a Robot against the simulator: a
// controller with a Robot connected to it, putting the controller into a
// state and waiting until the Robot has seen it, and reading what reached
// the controller.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

#include "client/vek_client.h"
#include "tests/client/log_capture.h"
#include "tests/support/sim_process.h"
#include "vek/robot.h"
#include "vek/robot_access.h"
#include "vek/robot_impl.h"

namespace quiral::vek::testing_util {

using namespace std::chrono_literals;
using nlohmann::json;
using quiral_client_test::LogCapture;
using test::SimProcess;
using test::UniqueSerial;
using test::WaitUntil;

// Only the loopback interface: tests never leave the namespace.
inline const std::vector<std::string> kWhitelist = {"127.0.0.1"};

inline std::unique_ptr<Robot> MakeRobot(const std::string& serial, bool lite = false,
                                        bool verbose = false) {
  return std::make_unique<Robot>(serial, kWhitelist, verbose, lite);
}

// Runs `call` and expects an exception of exactly type E (not a subclass
// chosen by accident) with exactly this text.
template <typename E, typename F>
::testing::AssertionResult Throws(F&& call, const std::string& text) {
  try {
    call();
  } catch (const std::exception& e) {
    if (typeid(e) != typeid(E)) {
      return ::testing::AssertionFailure() << "threw " << typeid(e).name() << ": " << e.what();
    }
    if (text != e.what()) {
      return ::testing::AssertionFailure()
             << "text [" << e.what() << "], expected [" << text << "]";
    }
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "did not throw";
}

inline bool Equal(const JPos& a, const JPos& b) { return a.q_m == b.q_m && a.q_e == b.q_e; }
inline bool Equal(const Coord& a, const Coord& b) {
  return a.position == b.position && a.orientation == b.orientation && a.ref_frame == b.ref_frame &&
         a.ref_q_m == b.ref_q_m && a.ref_q_e == b.ref_q_e;
}
template <typename T>
bool Equal(const T& a, const T& b) {
  return a == b;
}
template <typename T>
bool Equal(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!Equal(a[i], b[i])) return false;
  }
  return true;
}
// The same alternative and an equal value (doubles compared exactly).
inline ::testing::AssertionResult SameValue(const ParamVariant& actual,
                                            const ParamVariant& expected) {
  if (actual.index() != expected.index()) {
    return ::testing::AssertionFailure()
           << "alternative " << actual.index() << ", expected " << expected.index();
  }
  const bool equal = std::visit(
      [&expected](const auto& value) {
        return Equal(value, std::get<std::decay_t<decltype(value)>>(expected));
      },
      actual);
  if (!equal)
    return ::testing::AssertionFailure() << "alternative " << actual.index() << " differs";
  return ::testing::AssertionSuccess();
}

// The prefix of every error text of an operation.
inline std::string P(const std::string& operation) {
  return "[quiral::vek::Robot::" + operation + "]";
}

// Requests of one procedure recorded by the simulator.
inline std::vector<json> RequestsOf(SimProcess& sim, const std::string& serial, int procedure,
                                    size_t since = 0) {
  const json reply =
      sim.Command("requests", {{"serial", serial}, {"since", since}, {"procedure_id", procedure}});
  return reply["items"].get<std::vector<json>>();
}

inline size_t RequestTotal(SimProcess& sim, const std::string& serial) {
  return sim.Command("requests", {{"serial", serial}, {"limit", 1}})["total"].get<size_t>();
}

// Changes the simulator's state and waits until a stream sample carrying the
// change has reached `robot`: the digital inputs carry a marker that
// differs on every call.
inline ::testing::AssertionResult SyncedSet(SimProcess& sim, const std::string& serial,
                                            const Robot& robot, json fields) {
  static int marker = 0;
  ++marker;
  std::vector<bool> inputs(18, false);
  std::array<bool, 18> expected{};
  for (int bit = 0; bit < 18; ++bit) expected[bit] = inputs[bit] = (marker >> bit) & 1;
  fields["digital_inputs"] = inputs;
  sim.Set(serial, fields);
  if (!WaitUntil([&] { return robot.digital_inputs() == expected; }, std::chrono::seconds(3))) {
    return ::testing::AssertionFailure() << "no sample with " << fields.dump();
  }
  return ::testing::AssertionSuccess();
}

// The state every test of a shared robot starts from: ready, idle, at rest,
// no fault.
inline const json& ReadyState() {
  static const json state = {{"estop", false},
                             {"enabling_button", false},
                             {"fault", nullptr},
                             {"fault_clearable", true},
                             {"mode", 1},
                             {"program_running", nullptr},
                             {"safety_board_state", 12},
                             {"system_state", 4},
                             {"velocity_override", nullptr}};
  return state;
}

// Doubles as they travel: rounded to 32-bit floats.
template <class C>
std::vector<float> AsFloats(const C& values) {
  return std::vector<float>(values.begin(), values.end());
}

// A simulated controller and a Robot connected to it.
class SimRobot {
 public:
  // A controller started with `args` (a ready robot by default) and a Robot
  // of the given kind connected to it.
  explicit SimRobot(std::vector<std::string> args = {"--initial-state", "ready"},
                    const std::string& model = "Varno4", bool lite = false, bool verbose = false)
      : serial(UniqueSerial(model)), sim({serial}, std::move(args)) {
    robot = MakeRobot(serial, lite, verbose);
  }

  Robot::Impl& impl() { return *detail::RobotAccess::impl(*robot); }

  // The mode comes with the real-time states, apart from the other data.
  void WaitForMode(Mode mode) {
    ASSERT_TRUE(WaitUntil([&] { return robot->mode() == mode; }, 3s)) << static_cast<int>(mode);
  }
  // Sets the controller's state and waits until the Robot has a sample of it.
  void Set(const json& fields) { ASSERT_TRUE(SyncedSet(sim, serial, *robot, fields)); }
  // The controller's raw states, and a wait until the Robot sees the
  // resulting status and mode.
  void Put(int safety_board, int system_state, Mode mode) {
    Set({{"estop", false},
         {"fault", nullptr},
         {"safety_board_state", safety_board},
         {"system_state", system_state},
         {"mode", static_cast<int>(mode)}});
    WaitForMode(mode);
  }
  // A ready robot in `mode`, set directly on the controller.
  void Ready(Mode mode) { Put(12, 4, mode); }
  // A robot that is not enabled (status "Not enabled") in `mode`.
  void NotEnabled(Mode mode) { Put(72, 4, mode); }
  // Switches through the Robot.
  void Switch(Mode mode) {
    robot->SwitchMode(mode);
    WaitForMode(mode);
  }
  // A ready robot in IDLE, at rest, without fault rules, whose
  // motion-command counter starts from 0 again.
  void Fresh() {
    sim.ClearFaults(serial);
    Set(ReadyState());
    WaitForMode(Mode::IDLE);
    Switch(Mode::IDLE);
  }

  // Operations requests recorded so far, those from `since` on, and those of
  // one procedure.
  size_t OpsTotal() { return RequestTotal(sim, serial); }
  std::vector<json> OpsSince(size_t since) {
    return sim.Command("requests", {{"serial", serial}, {"since", since}})["items"]
        .get<std::vector<json>>();
  }
  std::vector<json> Requests(int procedure, size_t since = 0) {
    return RequestsOf(sim, serial, procedure, since);
  }
  // The integer arguments of each request of `procedure` from `since` on.
  std::vector<std::vector<int>> IntArgs(int procedure, size_t since) {
    std::vector<std::vector<int>> out;
    for (const json& item : Requests(procedure, since))
      out.push_back(item["int_args"].get<std::vector<int>>());
    return out;
  }
  // The one request recorded since `since`; fails the test unless there is
  // exactly one.
  json OnlyRequestSince(size_t since) {
    const std::vector<json> items = OpsSince(since);
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? json::object() : items.back();
  }
  // Runs `call` and returns the one request it sent.
  json SentBy(const std::function<void()>& call) {
    const size_t before = OpsTotal();
    call();
    return OnlyRequestSince(before);
  }
  // Expects `call` to throw E with `text` and to send no request.
  template <typename E>
  void Refused(const std::function<void()>& call, const std::string& text) {
    const size_t before = OpsTotal();
    EXPECT_TRUE(Throws<E>(call, text));
    EXPECT_EQ(OpsTotal(), before) << text;
  }
  // Expects `call` to throw std::runtime_error `text` after exactly one
  // request of procedure `id`, which the controller was told to refuse.
  void FailsOnce(int id, const std::function<void()>& call, const std::string& text) {
    sim.Fault(serial, {{"procedure_id", id}, {"kind", "fail"}, {"count", 1}});
    const size_t before = OpsTotal();
    EXPECT_TRUE(Throws<std::runtime_error>(call, text));
    const std::vector<json> sent = OpsSince(before);
    ASSERT_EQ(sent.size(), 1u) << text;
    EXPECT_EQ(sent[0]["procedure_id"], id);
  }

  // Motion commands recorded so far (they arrive asynchronously), and the
  // next `count` after `since` (fewer when they do not come).
  size_t MotionTotal() {
    return sim
        .Command("motion_commands",
                 {{"serial", serial}, {"since", size_t{1} << 40}, {"compact", true}})["total"]
        .get<size_t>();
  }
  bool WaitMotionTotal(size_t total) {
    return WaitUntil([&] { return MotionTotal() >= total; }, 3s);
  }
  std::vector<json> NextMotion(size_t since, size_t count = 1) {
    EXPECT_TRUE(WaitMotionTotal(since + count)) << "motion commands did not arrive";
    return sim.MotionCommands(serial, since)["items"].get<std::vector<json>>();
  }
  uint64_t Counter() { return impl().MotionCommandCounter(); }

  std::string serial;
  SimProcess sim;
  std::unique_ptr<Robot> robot;
};

// Cases that share one controller and one Robot, made by the first case
// that runs (so that a failure to make them fails that case); each case
// starts from a fresh, ready robot in IDLE.
class RobotTest : public ::testing::Test {
 protected:
  static void TearDownTestSuite() {
    delete env_;
    env_ = nullptr;
  }
  void SetUp() override {
    if (env_ == nullptr) env_ = new SimRobot();
    env_->Fresh();
  }
  Robot& robot() { return *env_->robot; }

  inline static SimRobot* env_ = nullptr;
};

}  // namespace quiral::vek::testing_util
