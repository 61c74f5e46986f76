// The self-collision monitor against two simulated controllers whose arms
// stand 0.5 m apart: tilting the left arm's second joint by about 0.41 rad
// brings its top link within 0.05 m of the right arm. Each test runs in a
// working directory of its own (the mesh folders are written there).
#include "bivek/self_collision_monitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <regex>

#include "sim/base64.h"
#include "tests/vek/robot_test_util.h"

namespace quiral::bivek {
namespace {

using namespace vek::testing_util;
using vek::Mode;
using Ints = std::vector<std::vector<int>>;
namespace fs = std::filesystem;

const std::vector<double> kUpright(7, 0.0);
const std::vector<double> kTilted = {0.0, 0.45, 0.0, 0.0, 0.0, 0.0, 0.0};  // within 0.05 m
const std::string kWarning =
    "[quiral::bivek::SelfCollisionMonitor] The left [link7] and right [link6] are about to "
    "collide, stopping both robots ...";
const std::string kMonitor = "[quiral::bivek::SelfCollisionMonitor";

class SelfCollisionMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_);
    fs::current_path(dir_);
    for (int arm : {0, 1}) sim_.Set(sn_[arm], {{"joints", kUpright}});
    ASSERT_TRUE(WaitUntil(
        [&] {
          const auto states = pair_.states();
          return states.first.link_position == kUpright && states.second.link_position == kUpright;
        },
        3s));
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Pose(int arm, const std::vector<double>& joints) {
    sim_.Set(sn_[arm], {{"joints", joints}});
  }
  void SetMode(int arm, Mode mode) { sim_.Set(sn_[arm], {{"mode", static_cast<int>(mode)}}); }
  // The modes of the switch requests an arm received since `since`.
  Ints Switches(int arm, size_t since) {
    Ints modes;
    for (const json& r : RequestsOf(sim_, sn_[arm], 7, since)) modes.push_back(r["int_args"]);
    return modes;
  }
  // Data samples the left arm has received.
  uint64_t Samples() {
    return vek::detail::RobotAccess::impl(*pair_.instances().first)->StreamSampleCount();
  }
  bool BothIdle() {
    return WaitUntil([&] { return pair_.mode() == std::make_pair(Mode::IDLE, Mode::IDLE); }, 5s);
  }

  const fs::path dir_ = fs::temp_directory_path() / ("monitor-" + UniqueSerial("dir"));
  const std::array<std::string, 2> sn_ = {UniqueSerial("Varno4"), UniqueSerial("Varno4")};
  SimProcess sim_{{sn_[0], sn_[1]}, {"--initial-state", "ready"}};
  RobotPair pair_{{sn_[0], sn_[1]}, {{0.0, 0.0, 0.0}, {0.5, 0.0, 0.0}}, kWhitelist};
};

TEST_F(SelfCollisionMonitorTest, StopsBothArmsOncePerOnsetAndAgainAnArmThatLeavesIdle) {
  SelfCollisionMonitor monitor(pair_);
  LogCapture log(spdlog::level::info);
  monitor.Start(10);
  const size_t mark[2] = {RequestTotal(sim_, sn_[0]), RequestTotal(sim_, sn_[1])};
  // The left arm turns towards the right one, past the point of collision
  // unless it is stopped.
  const auto approach = [&](bool refuse_right_stop) {
    const std::vector<double> far = {0.0, 0.8, 0.0, 0.0, 0.0, 0.0, 0.0}, zero(7, 0.0), ones(7, 1.0);
    pair_.SwitchMode(Mode::NRT_JOINT_POSITION);
    if (refuse_right_stop) sim_.Fault(sn_[1], {{"procedure_id", 7}, {"kind", "fail"}});
    pair_.SendJointPosition({far, kUpright}, {zero, zero}, {std::vector<double>(7, 0.5), ones},
                            {ones, ones});
  };
  approach(false);
  ASSERT_TRUE(log.WaitFor(kWarning, 5s));
  ASSERT_TRUE(BothIdle());
  EXPECT_LT(pair_.states().first.link_position[1], 0.45);
  // Driven out of IDLE while the links are still that close.
  SetMode(0, Mode::NRT_JOINT_POSITION);
  ASSERT_TRUE(WaitUntil([&] { return Switches(0, mark[0]).size() == 3; }, 3s));
  ASSERT_TRUE(BothIdle());

  // Apart, then close again: a second onset, whose first stop the right arm
  // refuses; it is stopped in the next cycle.
  Pose(0, kUpright);
  ASSERT_TRUE(WaitUntil([&] { return pair_.states().first.link_position == kUpright; }, 3s));
  approach(true);
  ASSERT_TRUE(log.WaitFor(kWarning, 5s, 2));
  ASSERT_TRUE(BothIdle());
  EXPECT_EQ(Switches(0, mark[0]), (Ints{{6}, {1}, {1}, {6}, {1}}));
  EXPECT_EQ(Switches(1, mark[1]), (Ints{{6}, {1}, {6}, {1}, {1}}));
  EXPECT_EQ(log.Count(spdlog::level::warn, kWarning), 2);
}

TEST_F(SelfCollisionMonitorTest, RefusalsAndAStopThatDoesNotWaitOutTheInterval) {
  auto monitor = std::make_unique<SelfCollisionMonitor>(pair_);
  const std::string start = "[quiral::bivek::SelfCollisionMonitor::Start]";
  EXPECT_TRUE(Throws<std::invalid_argument>([&] { monitor->Start(0); },
                                            start + " The loop interval must be at least 1 ms"));
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -1e-9}) {
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { monitor->SetMinDistance(bad); },
        "[quiral::bivek::SelfCollisionMonitor::SetMinDistance] The minimum distance must be a "
        "finite number of at least 0"))
        << bad;
  }
  const unsigned int weeks = std::numeric_limits<unsigned int>::max();
  monitor->Start(weeks);
  EXPECT_TRUE(
      Throws<std::logic_error>([&] { monitor->Start(10); },
                               start + " The collision monitor is already started and running"));
  const auto quick = [](const std::function<void()>& call) {
    const auto before = std::chrono::steady_clock::now();
    call();
    return std::chrono::steady_clock::now() - before < 1s;
  };
  EXPECT_TRUE(quick([&] { monitor->Stop(); }));
  monitor->Start(weeks);
  EXPECT_TRUE(quick([&] { monitor.reset(); }));
}

// A side without meshes is never close to anything, whatever the distance.
TEST_F(SelfCollisionMonitorTest, ASideWithoutLinksIsWarnedOfAndNeverClose) {
  const json files = sim_.Command(
      "files", {{"serial", sn_[1]}, {"store", "urdf"}, {"with_bytes", true}})["files"];
  const std::vector<uint8_t> bytes = sim::Base64Decode(files[0]["base64"]);
  const std::string urdf = std::regex_replace(std::string(bytes.begin(), bytes.end()),
                                              std::regex("<collision>[\\s\\S]*?</collision>"), "");
  sim_.Set(sn_[1], {{"files", {{{"store", "urdf"}, {"name", files[0]["name"]}, {"text", urdf}}}}});
  LogCapture log(spdlog::level::info);
  SelfCollisionMonitor monitor(pair_);
  monitor.SetMinDistance(1e6);
  monitor.Start(10);
  EXPECT_EQ(log.Count(spdlog::level::warn,
                      "[quiral::bivek::SelfCollisionMonitor] The collision check keeps 8 links of "
                      "the left robot and 0 of the right robot and can never report a collision; "
                      "left out: left [flange], right [base_link link1 link2 link3 link4 link5 "
                      "link6 link7 flange]"),
            1);
  Pose(0, kTilted);
  const uint64_t since = Samples();
  ASSERT_TRUE(WaitUntil([&] { return Samples() > since + 50; }, 3s));  // some 20 cycles
  monitor.Stop();
  EXPECT_EQ(log.CountContaining("about to collide"), 0);
  EXPECT_TRUE(log.Starting(spdlog::level::err, kMonitor).empty());
}

}  // namespace
}  // namespace quiral::bivek
