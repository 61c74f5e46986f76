// One cycle of the self-collision monitor (read both arms' states, update
// both models, pose 2 x 8 meshed links, move them in the checker, one
// distance query) against two simulated controllers, run as the monitor
// thread runs it: once every 10 ms, its default interval.
//
// Reported (custom counters): p50_us, p99_us, max_us of one cycle, and
// share, the mean cycle time over the 10 ms interval (the part of each
// period the monitor spends working). The iteration time is the cycle
// alone (manual time); the pacing sleep is not counted.
//
// Run inside the network namespace, which the simulator requires; it writes
// the mesh folders into a temporary working directory:
//   scripts/netns-run build/bin/bivek_monitor_bench
#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bivek/robot_pair.h"
#include "bivek/self_collision_monitor.h"
#include "bivek/self_collision_monitor_impl.h"
#include "tests/support/sim_process.h"

namespace {

using namespace std::chrono_literals;
using quiral::bivek::RobotPair;
using quiral::bivek::SelfCollisionMonitor;
using quiral::test::SimProcess;
using quiral::test::UniqueSerial;
using quiral::test::WaitUntil;
using Clock = std::chrono::steady_clock;

constexpr auto kDefaultInterval = 10ms;

void BM_MonitorCycleAtDefaultInterval(benchmark::State& state) {
  spdlog::set_level(spdlog::level::warn);
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("monitor-bench-" + UniqueSerial("dir"));
  fs::create_directories(dir);
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  {
    const std::string sn[2] = {UniqueSerial("Varno4"), UniqueSerial("Varno4")};
    SimProcess sim({sn[0], sn[1]}, {"--initial-state", "ready"});
    RobotPair pair({sn[0], sn[1]}, {{0.0, 0.0, 0.0}, {0.5, 0.0, 0.0}}, {"127.0.0.1"});
    WaitUntil([&] { return !pair.states().second.link_position.empty(); }, 5s);
    SelfCollisionMonitor monitor(pair);
    auto& impl = quiral::bivek::detail::SelfCollisionMonitorAccess::impl(monitor);
    auto watch = impl.NewWatch();
    std::vector<double> cycle_us;
    auto next = Clock::now();
    for (auto _ : state) {
      std::this_thread::sleep_until(next += kDefaultInterval);
      const auto t0 = Clock::now();
      impl.Cycle(watch);
      const std::chrono::duration<double> took = Clock::now() - t0;
      state.SetIterationTime(took.count());
      cycle_us.push_back(took.count() * 1e6);
    }
    std::sort(cycle_us.begin(), cycle_us.end());
    const auto at = [&](double p) {
      return cycle_us[static_cast<size_t>(p * static_cast<double>(cycle_us.size() - 1))];
    };
    double sum = 0.0;
    for (const double us : cycle_us) sum += us;
    state.counters["p50_us"] = at(0.5);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = cycle_us.back();
    state.counters["share"] = sum / static_cast<double>(cycle_us.size()) /
                              std::chrono::duration<double, std::micro>(kDefaultInterval).count();
  }
  fs::current_path(previous);
  fs::remove_all(dir);
}
BENCHMARK(BM_MonitorCycleAtDefaultInterval)
    ->UseManualTime()
    ->Iterations(500)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
