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

#include "bivek/self_collision_monitor_impl.h"
#include "sim/base64.h"
#include "sim/procedure_ids.h"
#include "tests/vek/robot_test_util.h"

namespace quiral::bivek {
namespace {

using namespace vek::testing_util;
using vek::Mode;
using Ints = std::vector<std::vector<int>>;
using Monitor = SelfCollisionMonitor::Impl;
namespace fs = std::filesystem;

constexpr int kSwitchMode = static_cast<int>(sim::ProcedureId::kSwitchMode);
constexpr int kDownloadUrdf = static_cast<int>(sim::ProcedureId::kDownloadUrdf);
constexpr int kIdle = static_cast<int>(Mode::IDLE);
constexpr int kJointPosition = static_cast<int>(Mode::NRT_JOINT_POSITION);
// The monitor tries an arm again no sooner than this after its last stop.
constexpr auto kRestopInterval = 100ms;

const std::vector<double> kUpright(7, 0.0);
const std::vector<double> kTilted = {0.0, 0.45, 0.0, 0.0, 0.0, 0.0, 0.0};  // within 0.05 m
const std::string kWarning =
    "[quiral::bivek::SelfCollisionMonitor] The left [link7] and right [link6] are about to "
    "collide, stopping both robots ...";
const std::string kMonitor = "[quiral::bivek::SelfCollisionMonitor";
const std::string kRightRefusedIdle =
    "[quiral::bivek::SelfCollisionMonitor] Failed to stop the right robot, trying again: "
    "[quiral::vek::Robot::SwitchMode] Failed to switch control mode to IDLE";

// A monitor whose cycles the test runs itself, one call at a time.
struct CycledMonitor {
  explicit CycledMonitor(const RobotPair& pair)
      : handle(pair),
        impl(detail::SelfCollisionMonitorAccess::impl(handle)),
        watch(impl.NewWatch()) {}
  void Cycle() { impl.Cycle(watch); }

  SelfCollisionMonitor handle;
  Monitor& impl;
  Monitor::Watch watch;
};

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
    for (const json& r : RequestsOf(sim_, sn_[arm], kSwitchMode, since)) {
      modes.push_back(r["int_args"]);
    }
    return modes;
  }
  // Replaces what `pattern` matches in an arm's URDF on its controller.
  void EditUrdf(int arm, const std::string& pattern, const std::string& replacement) {
    const json files = sim_.Command(
        "files", {{"serial", sn_[arm]}, {"store", "urdf"}, {"with_bytes", true}})["files"];
    const std::vector<uint8_t> bytes = sim::Base64Decode(files[0]["base64"]);
    const std::string urdf = std::regex_replace(std::string(bytes.begin(), bytes.end()),
                                                std::regex(pattern), replacement);
    sim_.Set(sn_[arm],
             {{"files", {{{"store", "urdf"}, {"name", files[0]["name"]}, {"text", urdf}}}}});
  }
  // Runs the monitor's cycles on this thread, one per data sample of the
  // left arm (as often as the monitor thread runs them at a 4 ms interval),
  // until `done` holds after a cycle or `timeout` has passed.
  bool CycleUntil(CycledMonitor& monitor, const std::function<bool()>& done,
                  std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      const uint64_t since = Samples();
      monitor.Cycle();
      if (done()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      WaitUntil([&] { return Samples() > since; }, 1s, 1ms);
    }
  }
  // Data samples the left arm has received.
  uint64_t Samples() {
    return vek::detail::RobotAccess::impl(*pair_.instances().first)->StreamSampleCount();
  }
  // Both arms in a motion mode, the right arm's controller refusing every
  // mode switch from now on.
  void MovingWithTheRightArmRefusingIdle() {
    for (int arm : {0, 1}) SetMode(arm, Mode::NRT_JOINT_POSITION);
    const auto moving = std::make_pair(Mode::NRT_JOINT_POSITION, Mode::NRT_JOINT_POSITION);
    ASSERT_TRUE(WaitUntil([&] { return pair_.mode() == moving; }, 3s));
    sim_.Fault(sn_[1], {{"procedure_id", kSwitchMode}, {"kind", "fail"}, {"count", -1}});
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
    if (refuse_right_stop) sim_.Fault(sn_[1], {{"procedure_id", kSwitchMode}, {"kind", "fail"}});
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
  // refuses; it is stopped once the re-stop interval has passed.
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
  EditUrdf(1, "<collision>[\\s\\S]*?</collision>", "");
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

// One arm cannot be stopped: the other is stopped once, and neither is
// stopped again once the collision is no longer imminent.
TEST_F(SelfCollisionMonitorTest, AnArmThatRefusesIdleNeitherRepeatsNorHoldsUpTheOthersStop) {
  CycledMonitor monitor(pair_);
  LogCapture log(spdlog::level::info);
  ASSERT_NO_FATAL_FAILURE(MovingWithTheRightArmRefusingIdle());
  const size_t mark[2] = {RequestTotal(sim_, sn_[0]), RequestTotal(sim_, sn_[1])};

  // The collision lasts while the right arm refuses three more times.
  Pose(0, kTilted);
  ASSERT_TRUE(CycleUntil(monitor, [&] { return Switches(1, mark[1]).size() >= 4; }, 5s));
  EXPECT_EQ(Switches(0, mark[0]), (Ints{{kIdle}}));
  EXPECT_EQ(pair_.mode().first, Mode::IDLE);
  const std::vector<json> refused = RequestsOf(sim_, sn_[1], kSwitchMode, mark[1]);
  for (size_t i = 1; i < refused.size(); ++i) {
    const int64_t gap_ns =
        refused[i]["t_ns"].get<int64_t>() - refused[i - 1]["t_ns"].get<int64_t>();
    EXPECT_GE(gap_ns, std::chrono::nanoseconds(kRestopInterval).count()) << i;
  }

  // Over: the cycle after the apart states were read no longer stops the
  // right arm, and the left one stays in the mode its user switches it to.
  Pose(0, kUpright);
  ASSERT_TRUE(
      CycleUntil(monitor, [&] { return pair_.states().first.link_position == kUpright; }, 3s));
  monitor.Cycle();
  const size_t over = RequestTotal(sim_, sn_[1]);
  pair_.instances().first->SwitchMode(Mode::NRT_JOINT_POSITION);
  int cycles = 0;  // more than one re-stop interval of cycles
  ASSERT_TRUE(CycleUntil(monitor, [&] { return ++cycles == 40; }, 5s));
  EXPECT_EQ(pair_.mode().first, Mode::NRT_JOINT_POSITION);
  EXPECT_EQ(Switches(0, mark[0]), (Ints{{kIdle}, {kJointPosition}}));
  EXPECT_TRUE(RequestsOf(sim_, sn_[1], kSwitchMode, over).empty());

  std::vector<std::string> errors;
  for (const LogCapture::Line& line : log.Lines()) {
    if (line.level == spdlog::level::err) errors.push_back(line.text);
  }
  EXPECT_EQ(errors, std::vector<std::string>{kRightRefusedIdle});
}

// A refused stop belongs to its episode: each new onset stops the arm in
// its own cycle, however soon after the refusal, and logs the refusal again.
TEST_F(SelfCollisionMonitorTest, EveryOnsetStopsEveryArmWhateverTheEpisodeBeforeIt) {
  CycledMonitor monitor(pair_);
  LogCapture log(spdlog::level::info);
  ASSERT_NO_FATAL_FAILURE(MovingWithTheRightArmRefusingIdle());
  Pose(0, kTilted);
  ASSERT_TRUE(WaitUntil(
      [&] { return std::abs(pair_.states().first.link_position.at(1) - kTilted[1]) < 1e-6; }, 3s));

  // The threshold, not the arms, ends and begins each episode, so that an
  // onset comes one cycle after the refusal before it.
  for (int episode = 0; episode < 3; ++episode) {
    monitor.impl.SetMinDistance(0.0);
    monitor.Cycle();
    const size_t before = RequestTotal(sim_, sn_[1]);
    monitor.impl.SetMinDistance(0.05);
    monitor.Cycle();
    EXPECT_EQ(Switches(1, before), (Ints{{kIdle}})) << episode;
  }
  EXPECT_EQ(log.Count(spdlog::level::warn, kWarning), 3);
  EXPECT_EQ(log.Count(spdlog::level::err, kRightRefusedIdle), 3);
}

// Each arm's URDF serves its model, its mesh download and the warnings of
// mesh placements that the check does not apply.
TEST_F(SelfCollisionMonitorTest, AsksEachControllerForItsUrdfOnce) {
  EditUrdf(1, "(<mesh filename=\"package://meshes/link3.stl\")", "$1 scale=\"1 1 2\"");
  EditUrdf(1, "<collision>(\\s*<geometry>\\s*<mesh filename=\"package://meshes/link4.stl\")",
           "<collision><origin xyz=\"0 0 0.01\"/>$1");
  const size_t mark[2] = {RequestTotal(sim_, sn_[0]), RequestTotal(sim_, sn_[1])};
  LogCapture log(spdlog::level::info);
  SelfCollisionMonitor monitor(pair_);
  for (int arm : {0, 1}) {
    EXPECT_EQ(RequestsOf(sim_, sn_[arm], kDownloadUrdf, mark[arm]).size(), 1u) << arm;
  }
  const std::string urdf_gives = "[quiral::bivek::SelfCollisionMonitor] The URDF of the right "
                                 "robot gives link ";
  const std::string unapplied = ", which the collision check does not apply";
  EXPECT_EQ(log.Starting(spdlog::level::warn, kMonitor),
            (std::vector<std::string>{urdf_gives + "[link3] a mesh scale" + unapplied,
                                      urdf_gives + "[link4] a collision origin" + unapplied}));
  EXPECT_TRUE(fs::is_regular_file("R_coll_meshes/link4.stl"));
}

}  // namespace
}  // namespace quiral::bivek
