// One simulated controller and one Robot connected to it, with the helpers
// the command tests share: putting the controller into a state and waiting
// until the Robot has seen it, and reading what reached the controller.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/vek/robot_test_util.h"
#include "vek/robot.h"
#include "vek/robot_access.h"
#include "vek/robot_impl.h"

namespace quiral::vek::testing_util {

// Doubles as they travel: rounded to 32-bit floats.
inline std::vector<float> AsFloats(const std::vector<double>& values) {
  return std::vector<float>(values.begin(), values.end());
}
template <std::size_t N>
std::vector<float> AsFloats(const std::array<double, N>& values) {
  return std::vector<float>(values.begin(), values.end());
}

// A lite Robot connected to the controller of `serial`.
inline std::unique_ptr<Robot> MakeLiteRobot(const std::string& serial) {
  return MakeRobot(serial, /*lite=*/true);
}

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

  // The controller's raw states, and a wait until the Robot sees the
  // resulting status and mode.
  void Put(int safety_board, int system_state, Mode mode) {
    sim.Set(serial, {{"estop", false},
                     {"fault", nullptr},
                     {"safety_board_state", safety_board},
                     {"system_state", system_state},
                     {"mode", static_cast<int>(mode)}});
    const OperationalStatus expected = StatusOf(safety_board, system_state);
    ASSERT_TRUE(WaitUntil(
        [&] { return robot->mode() == mode && robot->operational_status() == expected; }, 3s))
        << "board " << safety_board << ", system " << system_state << ", mode "
        << static_cast<int>(mode);
  }
  // A ready robot in `mode`, set directly on the controller.
  void Ready(Mode mode) { Put(12, 4, mode); }
  // A robot that is not enabled (status "Not enabled") in `mode`.
  void NotEnabled(Mode mode) { Put(72, 4, mode); }

  // Switches through the Robot, then waits until its states show the new
  // mode (they arrive a little after the controller's reply).
  void Switch(Mode mode) {
    robot->SwitchMode(mode);
    ASSERT_TRUE(WaitUntil([&] { return robot->mode() == mode; }, 3s)) << static_cast<int>(mode);
  }
  // A ready robot in IDLE whose motion-command counter starts from 0 again.
  void Fresh() {
    Ready(Mode::IDLE);
    Switch(Mode::IDLE);
  }

  // Operations requests recorded so far, and those from `since` on
  // (optionally of one procedure).
  size_t OpsTotal() { return RequestTotal(sim, serial); }
  std::vector<json> OpsSince(size_t since) {
    return sim.Command("requests", {{"serial", serial}, {"since", since}})["items"]
        .get<std::vector<json>>();
  }
  // The one request recorded since `since`; fails the test unless there is
  // exactly one.
  json OnlyRequestSince(size_t since) {
    const std::vector<json> items = OpsSince(since);
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? json::object() : items.back();
  }

  // Motion commands recorded so far (they arrive asynchronously).
  size_t MotionTotal() {
    return sim
        .Command("motion_commands",
                 {{"serial", serial}, {"since", size_t{1} << 40}, {"compact", true}})["total"]
        .get<size_t>();
  }
  bool WaitMotionTotal(size_t total, std::chrono::milliseconds timeout = 3s) {
    return WaitUntil([&] { return MotionTotal() >= total; }, timeout);
  }
  std::vector<json> MotionSince(size_t since) {
    return sim.MotionCommands(serial, since)["items"].get<std::vector<json>>();
  }
  // Waits for the next `count` motion commands after `since` and returns
  // them (fewer when they do not come).
  std::vector<json> NextMotion(size_t since, size_t count = 1) {
    EXPECT_TRUE(WaitMotionTotal(since + count)) << "motion commands did not arrive";
    return MotionSince(since);
  }

  uint64_t Counter() { return impl().MotionCommandCounter(); }

  std::string serial;
  SimProcess sim;
  std::unique_ptr<Robot> robot;

 private:
  static OperationalStatus StatusOf(int board, int system) {
    if (board == 72) return OperationalStatus::NOT_ENABLED;
    if (board == 10) return OperationalStatus::IN_REDUCED_STATE;
    if (board == 12 && (system == 4 || system == 5)) return OperationalStatus::READY;
    if (board == 12 && system == 15) return OperationalStatus::MINOR_FAULT;
    if (board == 12 && system == 2) return OperationalStatus::IN_MANUAL_MODE;
    if (board == 40) return OperationalStatus::CRITICAL_FAULT;
    return OperationalStatus::UNKNOWN;
  }
};

}  // namespace quiral::vek::testing_util
