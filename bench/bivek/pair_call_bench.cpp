// Two calls of a RobotPair against two simulated controllers, timed the way
// bench/python/call_bench.py times the same calls through the Python
// module: states() (two snapshots, converted) and plan_list() (a remote
// call to each arm). Figures: call.cpp.<call>.p50/p99 in microseconds.
//
// Run inside the network namespace:
//   scripts/netns-run build-bench/bin/bivek_pair_call_bench
#include <spdlog/spdlog.h>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bench/support/figures.h"
#include "bivek/robot_pair.h"
#include "tests/support/sim_process.h"

namespace {

constexpr int kCalls = 2000;

}  // namespace

int main() {
  spdlog::set_level(spdlog::level::warn);
  using quiral::test::UniqueSerial;
  const std::pair<std::string, std::string> serials = {UniqueSerial("Varno4"),
                                                       UniqueSerial("Varno10")};
  quiral::test::SimProcess sim({serials.first, serials.second}, {"--initial-state", "ready"});
  quiral::bivek::RobotPair pair(serials, {std::array<double, 3>{}, std::array<double, 3>{}},
                                {"127.0.0.1"});
  struct Call {
    std::string name;
    std::function<void()> run;
    std::vector<double> us;
  };
  std::vector<Call> calls = {{"call.cpp.states", [&] { (void)pair.states(); }, {}},
                             {"call.cpp.plan_list", [&] { (void)pair.plan_list(); }, {}}};
  for (int i = 0; i < kCalls; ++i) {
    for (Call& call : calls) {
      const int64_t t0 = quiral::bench::NowNs();
      call.run();
      call.us.push_back(static_cast<double>(quiral::bench::NowNs() - t0) * 1e-3);
    }
  }
  for (const Call& call : calls) quiral::bench::PrintPercentiles(call.name, call.us, "us");
  return 0;
}
