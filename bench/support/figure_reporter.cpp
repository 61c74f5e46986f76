#include "bench/support/figure_reporter.h"

namespace quiral::bench {

void FigureReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
    const double to_ns = benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                         benchmark::GetTimeUnitMultiplier(run.time_unit);
    const std::string& args = run.run_name.args;
    Sums& sums = sums_[run.run_name.function_name + (args.empty() ? "" : "/" + args)];
    sums.real_ns += run.GetAdjustedRealTime() * to_ns;
    sums.cpu_ns += run.GetAdjustedCPUTime() * to_ns;
    ++sums.runs;
  }
  ConsoleReporter::ReportRuns(runs);
}

double FigureReporter::RealNs(const std::string& name) const {
  const auto found = sums_.find(name);
  return found == sums_.end() ? 0.0 : found->second.real_ns / found->second.runs;
}

double FigureReporter::CpuNs(const std::string& name) const {
  const auto found = sums_.find(name);
  return found == sums_.end() ? 0.0 : found->second.cpu_ns / found->second.runs;
}

bool RunBenchmarks(int* argc, char** argv, FigureReporter& reporter) {
  benchmark::Initialize(argc, argv);
  if (benchmark::ReportUnrecognizedArguments(*argc, argv)) return false;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return true;
}

}  // namespace quiral::bench
