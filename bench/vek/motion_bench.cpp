// Streamed joint-position commands at 1 kHz against the simulated
// controller, for one robot and for two robots driven from one thread.
//
// Reported per benchmark (custom counters):
//   p50_us, p99_us, max_us  cost of one StreamJointPosition call on the
//                           caller's thread (checks, conversion, publish);
//   sent                    commands sent per robot;
//   missed                  sequence numbers 1..sent that never reached the
//                           simulator, over all robots (target 0);
//   overruns                control cycles that started more than 1 ms late.
// The iteration time is the call cost (manual time); the 1 ms pacing sleep
// is not counted.
//
// Run inside the network namespace, which the simulator requires:
//   scripts/netns-run build/bin/vek_motion_bench
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <spdlog/spdlog.h>
#include <nlohmann/json.hpp>

#include "tests/support/sim_process.h"
#include "vek/robot.h"

namespace {

using namespace std::chrono_literals;
using quiral::test::SimProcess;
using quiral::test::UniqueSerial;
using quiral::test::WaitUntil;
using quiral::vek::Mode;
using quiral::vek::Robot;

constexpr int64_t kPeriodNs = 1000000;  // 1 kHz
constexpr int kCommands = 5000;         // 5 s of streaming per robot

const std::vector<double> kHome = {0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0};

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SleepUntilNs(int64_t t_ns) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(t_ns / 1000000000);
  ts.tv_nsec = static_cast<long>(t_ns % 1000000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
  }
}

double Percentile(std::vector<double> sorted_us, double p) {
  if (sorted_us.empty()) return 0.0;
  const auto index = static_cast<size_t>(p * static_cast<double>(sorted_us.size() - 1) + 0.5);
  return sorted_us[std::min(index, sorted_us.size() - 1)];
}

// Sequence numbers 1..sent the simulator never received for `serial`,
// reading its records from `since` on.
int64_t Missed(SimProcess& sim, const std::string& serial, size_t since, int sent) {
  auto total = [&] {
    return sim
        .Command("motion_commands",
                 {{"serial", serial}, {"since", size_t{1} << 40}, {"compact", true}})["total"]
        .get<size_t>();
  };
  // Best effort: give late samples a moment, then count what is there.
  WaitUntil([&] { return total() >= since + static_cast<size_t>(sent); }, 2s, 20ms);
  const nlohmann::json reply = sim.Command(
      "motion_commands", {{"serial", serial}, {"since", since}, {"compact", true}}, 10s);
  std::set<uint64_t> seen;
  for (const auto& seq : reply["seqs"]) {
    const auto s = seq.get<uint64_t>();
    if (s >= 1 && s <= static_cast<uint64_t>(sent)) seen.insert(s);
  }
  return sent - static_cast<int64_t>(seen.size());
}

void StreamJointPositions(benchmark::State& state, int robots) {
  spdlog::set_level(spdlog::level::warn);
  std::vector<std::string> serials;
  for (int i = 0; i < robots; ++i) serials.push_back(UniqueSerial(i == 0 ? "Varno4" : "Varno10"));
  SimProcess sim(serials, {"--initial-state", "ready", "--motion-detail", "0"});
  std::vector<std::unique_ptr<Robot>> arms;
  for (const auto& serial : serials) {
    arms.push_back(std::make_unique<Robot>(serial, std::vector<std::string>{"127.0.0.1"},
                                           /*verbose=*/false, /*lite=*/false));
  }
  std::vector<size_t> since;
  for (size_t i = 0; i < arms.size(); ++i) {
    arms[i]->SwitchMode(Mode::RT_JOINT_POSITION);
    if (!WaitUntil([&] { return arms[i]->mode() == Mode::RT_JOINT_POSITION; }, 3s) ||
        !sim.WaitMatched(serials[i], 5s, {"motion_commands"})) {
      state.SkipWithError("robot not ready for streaming");
      return;
    }
    since.push_back(sim.Command("motion_commands", {{"serial", serials[i]},
                                                    {"since", size_t{1} << 40},
                                                    {"compact", true}})["total"]
                        .get<size_t>());
  }

  const std::vector<double> zeros(7, 0.0);
  std::vector<double> target = kHome;
  std::vector<double> cost_us;
  cost_us.reserve(static_cast<size_t>(kCommands) * arms.size());
  int64_t overruns = 0;
  int sent = 0;
  int64_t next = NowNs() + kPeriodNs;
  for (auto _ : state) {
    SleepUntilNs(next);
    if (NowNs() - next > kPeriodNs) ++overruns;
    next += kPeriodNs;
    // A slow sine on joint 0, so that the commands differ.
    target[0] = 0.2 * std::sin(static_cast<double>(sent) * 1e-3);
    double iteration_s = 0.0;
    for (auto& arm : arms) {
      const auto t0 = std::chrono::steady_clock::now();
      arm->StreamJointPosition(target, zeros, zeros);
      const auto t1 = std::chrono::steady_clock::now();
      const double s = std::chrono::duration<double>(t1 - t0).count();
      cost_us.push_back(s * 1e6);
      iteration_s += s;
    }
    ++sent;
    state.SetIterationTime(iteration_s);
  }

  int64_t missed = 0;
  for (size_t i = 0; i < arms.size(); ++i) missed += Missed(sim, serials[i], since[i], sent);
  for (auto& arm : arms) arm->SwitchMode(Mode::IDLE);

  std::sort(cost_us.begin(), cost_us.end());
  state.counters["p50_us"] = Percentile(cost_us, 0.50);
  state.counters["p99_us"] = Percentile(cost_us, 0.99);
  state.counters["max_us"] = cost_us.empty() ? 0.0 : cost_us.back();
  state.counters["sent"] = sent;
  state.counters["missed"] = static_cast<double>(missed);
  state.counters["overruns"] = static_cast<double>(overruns);
}

void BM_StreamJointPosition_OneRobot(benchmark::State& state) { StreamJointPositions(state, 1); }
void BM_StreamJointPosition_TwoRobots(benchmark::State& state) { StreamJointPositions(state, 2); }

BENCHMARK(BM_StreamJointPosition_OneRobot)
    ->Iterations(kCommands)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StreamJointPosition_TwoRobots)
    ->Iterations(kCommands)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
