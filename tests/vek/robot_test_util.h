// Helpers of the Robot tests: exact exceptions, parameter values compared
// exactly, and a simulated controller with a Robot connected to it.
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
#include <vector>

#include "client/vek_client.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_process.h"
#include "vek/robot.h"
#include "vek/robot_access.h"
#include "vek/robot_impl.h"

namespace quiral::vek {

// Parameter values compare alternative by alternative, doubles exactly.
inline bool operator==(const JPos& a, const JPos& b) { return a.q_m == b.q_m && a.q_e == b.q_e; }
inline bool operator==(const Coord& a, const Coord& b) {
  return a.position == b.position && a.orientation == b.orientation && a.ref_frame == b.ref_frame &&
         a.ref_q_m == b.ref_q_m && a.ref_q_e == b.ref_q_e;
}

namespace testing_util {

using namespace std::chrono_literals;
using nlohmann::json;
using test::LogCapture;
using test::SimProcess;
using test::UniqueSerial;
using test::WaitUntil;

inline const std::vector<std::string> kWhitelist = {"127.0.0.1"};

inline std::unique_ptr<Robot> MakeRobot(const std::string& serial, bool lite = false,
                                        bool verbose = false) {
  return std::make_unique<Robot>(serial, kWhitelist, verbose, lite);
}

// Expects `call` to throw exactly `type` (not a subclass) with exactly `text`.
inline ::testing::AssertionResult ThrowsAs(const std::type_info& type,
                                           const std::function<void()>& call,
                                           const std::string& text) {
  try {
    call();
  } catch (const std::exception& e) {
    if (typeid(e) == type && text == e.what()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << typeid(e).name() << " [" << e.what() << "]";
  }
  return ::testing::AssertionFailure() << "did not throw";
}
template <typename E>
::testing::AssertionResult Throws(const std::function<void()>& call, const std::string& text) {
  return ThrowsAs(typeid(E), call, text);
}

// The prefix of every error text of an operation.
inline std::string P(const std::string& operation) {
  return "[quiral::vek::Robot::" + operation + "]";
}

// Doubles as they travel: rounded to 32-bit floats.
template <class C>
std::vector<float> AsFloats(const C& values) {
  return std::vector<float>(values.begin(), values.end());
}

// Operations requests recorded for one controller (of one procedure unless
// 0) from `since` on, and their count.
inline std::vector<json> RequestsOf(SimProcess& sim, const std::string& serial, int procedure = 0,
                                    size_t since = 0) {
  json args = {{"serial", serial}, {"since", since}};
  if (procedure != 0) args["procedure_id"] = procedure;
  return sim.Command("requests", args)["items"].get<std::vector<json>>();
}
inline size_t RequestTotal(SimProcess& sim, const std::string& serial) {
  return sim.Command("requests", {{"serial", serial}, {"limit", 1}})["total"].get<size_t>();
}

// A simulated controller (a ready robot by default) and a Robot connected
// to it.
class SimRobot {
 public:
  explicit SimRobot(std::vector<std::string> args = {"--initial-state", "ready"},
                    const std::string& model = "Varno4")
      : serial(UniqueSerial(model)), sim({serial}, std::move(args)), robot(MakeRobot(serial)) {}

  Robot::Impl& impl() { return *detail::RobotAccess::impl(*robot); }
  void WaitForMode(Mode mode) {
    ASSERT_TRUE(WaitUntil([&] { return robot->mode() == mode; }, 3s)) << static_cast<int>(mode);
  }
  // Sets the controller's state and waits until the Robot has a sample of
  // it: the digital inputs carry a marker that differs on every call.
  void Set(json fields) {
    static int marker = 0;
    std::array<bool, 18> inputs{};
    for (int bit = 0, m = ++marker; bit < 18; ++bit) inputs[bit] = (m >> bit) & 1;
    fields["digital_inputs"] = inputs;
    sim.Set(serial, fields);
    ASSERT_TRUE(WaitUntil([&] { return robot->digital_inputs() == inputs; }, 3s)) << fields.dump();
  }
  // The safety-board and system states and the mode, as the Robot sees them.
  void Put(int safety_board, int system_state, Mode mode) {
    Set({{"estop", false},
         {"fault", nullptr},
         {"safety_board_state", safety_board},
         {"system_state", system_state},
         {"mode", static_cast<int>(mode)}});
    WaitForMode(mode);
  }
  void Ready(Mode mode) { Put(12, 4, mode); }
  void NotEnabled(Mode mode) { Put(72, 4, mode); }
  void Switch(Mode mode) {
    robot->SwitchMode(mode);
    WaitForMode(mode);
  }
  // A ready robot in IDLE at rest, no fault rules, the motion counter at 0.
  void Fresh() {
    sim.ClearFaults(serial);
    Set(R"({"estop": false, "enabling_button": false, "fault": null, "fault_clearable": true,
            "mode": 1, "program_running": null, "safety_board_state": 12, "system_state": 4,
            "velocity_override": null})"_json);
    WaitForMode(Mode::IDLE);
    Switch(Mode::IDLE);
  }

  size_t OpsTotal() { return RequestTotal(sim, serial); }
  std::vector<json> Requests(size_t since, int procedure = 0) {
    return RequestsOf(sim, serial, procedure, since);
  }
  std::vector<std::vector<int>> IntArgs(int procedure, size_t since) {
    std::vector<std::vector<int>> out;
    for (const json& item : Requests(since, procedure)) out.push_back(item["int_args"]);
    return out;
  }
  // Runs `call` and returns the one request it sent.
  json SentBy(const std::function<void()>& call) {
    const size_t before = OpsTotal();
    call();
    const std::vector<json> items = Requests(before);
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? json::object() : items.back();
  }
  // Expects `call` to throw E with `text` and to send no request.
  template <typename E>
  void Refused(const std::function<void()>& call, const std::string& text) {
    const size_t before = OpsTotal();
    EXPECT_TRUE(Throws<E>(call, text));
    EXPECT_EQ(OpsTotal(), before) << text;
  }
  // Expects `call` to throw std::runtime_error `text` after exactly one
  // request of procedure `id`, which the controller refuses.
  void FailsOnce(int id, const std::function<void()>& call, const std::string& text) {
    sim.Fault(serial, {{"procedure_id", id}, {"kind", "fail"}, {"count", 1}});
    const size_t before = OpsTotal();
    EXPECT_TRUE(Throws<std::runtime_error>(call, text));
    const std::vector<json> sent = Requests(before);
    ASSERT_EQ(sent.size(), 1u) << text;
    EXPECT_EQ(sent[0]["procedure_id"], id);
  }

  // Motion commands recorded so far (they arrive asynchronously), and those
  // after `since` once `count` have come.
  size_t MotionTotal() {
    const json args = {{"serial", serial}, {"since", size_t{1} << 40}, {"compact", true}};
    return sim.Command("motion_commands", args)["total"].get<size_t>();
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

// Cases sharing one controller and Robot, made by the first case that runs;
// each case starts from a fresh, ready robot in IDLE.
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

}  // namespace testing_util
}  // namespace quiral::vek
