// Helpers shared by the RobotPair tests: one simulator process running two
// controllers, and one pair connected to them for a whole test suite.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "bivek/robot_pair.h"
#include "tests/support/sim_process.h"
#include "tests/vek/robot_test_util.h"

namespace quiral::bivek::testing_util {

using namespace std::chrono_literals;
using nlohmann::json;
using test::SimProcess;
using test::UniqueSerial;
using test::WaitUntil;
using vek::Mode;
using vek::testing_util::LogCapture;
using vek::testing_util::ReadyState;
using vek::testing_util::RequestsOf;
using vek::testing_util::RequestTotal;
using vek::testing_util::Throws;

inline const std::vector<std::string> kWhitelist = {"127.0.0.1"};

// Base positions of the two arms in the world frame.
inline const std::array<double, 3> kFirstBase = {1.0, 2.0, 3.0};
inline const std::array<double, 3> kSecondBase = {-0.5, 0.25, -2.0};

template <class T>
using PerArm = std::pair<T, T>;

// A pair connected to `serials`.
inline std::unique_ptr<RobotPair> MakePair(const PerArm<std::string>& serials) {
  return std::make_unique<RobotPair>(serials, std::make_pair(kFirstBase, kSecondBase),
                                     kWhitelist);
}

// Two simulated controllers (the first a medical model, which has brakes)
// and one pair connected to them, shared by the cases of a suite. Every
// case starts from both arms ready, idle, at rest, without faults and
// without fault rules.
class PairTest : public ::testing::Test {
 protected:
  // The simulator and the pair are made by the first case that runs, so
  // that a failure to start either fails that case (a failure in
  // SetUpTestSuite would show as skipped cases).
  static void StartOnce() {
    if (pair_) return;
    first_sn_ = UniqueSerial("Varno4M");
    second_sn_ = UniqueSerial("Varno10");
    sim_ = std::make_unique<SimProcess>(std::vector<std::string>{first_sn_, second_sn_},
                                        std::vector<std::string>{"--initial-state", "ready"});
    pair_ = MakePair({first_sn_, second_sn_});
  }
  static void TearDownTestSuite() {
    pair_.reset();
    sim_.reset();
  }

  void SetUp() override {
    ASSERT_NO_THROW(StartOnce());
    ASSERT_TRUE(pair_ && sim_);
    for (const std::string* serial : {&first_sn_, &second_sn_}) {
      sim_->Command("clear_faults", {{"serial", *serial}});
      sim_->Set(*serial, ReadyState());
    }
    ASSERT_TRUE(WaitUntil(
        [&] {
          return pair_->operational() && pair_->stopped() &&
                 pair_->mode() == std::make_pair(Mode::IDLE, Mode::IDLE) &&
                 pair_->estop_released() == std::make_pair(true, true);
        },
        5s));
  }

 public:
  static SimProcess& sim() { return *sim_; }
  static RobotPair& pair() { return *pair_; }
  static const std::string& first_sn() { return first_sn_; }
  static const std::string& second_sn() { return second_sn_; }

  // Sets both controllers' modes directly and waits until the pair sees them.
  static ::testing::AssertionResult SetModes(Mode first, Mode second) {
    sim_->Set(first_sn_, {{"mode", static_cast<int>(first)}});
    sim_->Set(second_sn_, {{"mode", static_cast<int>(second)}});
    if (!WaitUntil([&] { return pair_->mode() == std::make_pair(first, second); }, 3s)) {
      return ::testing::AssertionFailure() << "modes not seen";
    }
    return ::testing::AssertionSuccess();
  }

  // Switches both arms through the pair and waits until the pair's own
  // data shows the new mode (a switch returns when the controllers have
  // answered; their next states follow).
  static ::testing::AssertionResult SwitchBoth(Mode mode) {
    pair_->SwitchMode(mode);
    if (!WaitUntil([&] { return pair_->mode() == std::make_pair(mode, mode); }, 3s)) {
      return ::testing::AssertionFailure() << "mode not seen";
    }
    return ::testing::AssertionSuccess();
  }

  // Requests of one procedure since `since` (a RequestTotal).
  static std::vector<json> Requests(const std::string& serial, int procedure, size_t since) {
    return RequestsOf(*sim_, serial, procedure, since);
  }

  // Number of motion commands the controller has recorded.
  static size_t MotionTotal(const std::string& serial) {
    return sim_->Command("motion_commands", {{"serial", serial}, {"compact", true}})["seqs"].size();
  }

  // The newest motion command recorded since `since`; null when none.
  static json NewestMotion(const std::string& serial, size_t since) {
    const json items =
        sim_->Command("motion_commands", {{"serial", serial}, {"since", since}})["items"];
    return items.empty() ? json() : items.back();
  }

  // Motion commands are best effort and may be lost: calls `send` (one
  // command to each arm that `arms` selects) until each selected controller
  // has recorded a command, at most 5 times, and returns each arm's newest
  // record (null for an arm not selected or that recorded nothing).
  static PerArm<json> SendUntilReceived(const std::function<void()>& send,
                                        PerArm<bool> arms = {true, true}) {
    const PerArm<size_t> since = {MotionTotal(first_sn_), MotionTotal(second_sn_)};
    PerArm<json> newest;
    const auto received = [&] {
      if (arms.first) newest.first = NewestMotion(first_sn_, since.first);
      if (arms.second) newest.second = NewestMotion(second_sn_, since.second);
      return (!arms.first || !newest.first.is_null()) && (!arms.second || !newest.second.is_null());
    };
    for (int attempt = 0; attempt < 5; ++attempt) {
      send();
      if (WaitUntil(received, 1s, 10ms)) break;
    }
    return newest;
  }

  static inline std::string first_sn_;
  static inline std::string second_sn_;
  static inline std::unique_ptr<SimProcess> sim_;
  static inline std::unique_ptr<RobotPair> pair_;
};

// Seconds since `start`.
inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace quiral::bivek::testing_util
