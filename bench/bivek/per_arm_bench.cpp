// The cost the pair adds to an arm operation: one call of each arm through
// sequential execution (calling thread), concurrent execution (a thread
// per arm, started and joined per call) and the error path with tagging.
// An arm's remote call takes about a millisecond or more, so the thread
// start of concurrent execution must stay well below that.
#include <benchmark/benchmark.h>

#include <stdexcept>

#include "bivek/per_arm.h"

namespace {

using quiral::bivek::detail::Retag;
using quiral::bivek::detail::RunConcurrent;
using quiral::bivek::detail::RunSequential;
using Policy = Retag<std::invalid_argument, std::logic_error, std::runtime_error>;

void BM_Sequential(benchmark::State& state) {
  const Policy policy("[quiral::bivek::RobotPair::Bench]");
  int value = 0;
  for (auto _ : state) {
    auto result = RunSequential(
        policy,
        [&] {
          benchmark::DoNotOptimize(++value);
          return value;
        },
        [&] {
          benchmark::DoNotOptimize(++value);
          return value;
        });
    benchmark::DoNotOptimize(result);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Sequential);

void BM_Concurrent(benchmark::State& state) {
  const Policy policy("[quiral::bivek::RobotPair::Bench]");
  for (auto _ : state) {
    auto result = RunConcurrent(
        policy, [] { return 1; }, [] { return 2; });
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_Concurrent)->UseRealTime();

void BM_ConcurrentFirstArmFails(benchmark::State& state) {
  const Policy policy("[quiral::bivek::RobotPair::Bench]");
  for (auto _ : state) {
    try {
      RunConcurrent(
          policy, [] { throw std::runtime_error("[quiral::vek::Robot::Bench] Failed"); }, [] {});
    } catch (const std::runtime_error& e) {
      benchmark::DoNotOptimize(e.what());
    }
  }
}
BENCHMARK(BM_ConcurrentFirstArmFails)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
