// The console output of Google Benchmark runs that also remembers each
// benchmark's time per iteration, so that a benchmark can print its
// figures (see figures.h) once the runs are done. Runs of the same name
// (a benchmark registered several times) are averaged.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace quiral::bench {

class FigureReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override;

  // Mean real or CPU time per iteration of benchmark `name` (its function
  // name, "/" and its arguments when it has any) in nanoseconds; 0 when it
  // did not run.
  double RealNs(const std::string& name) const;
  double CpuNs(const std::string& name) const;

 private:
  struct Sums {
    double real_ns = 0.0, cpu_ns = 0.0;
    int runs = 0;
  };
  std::map<std::string, Sums> sums_;
};

// Runs the registered benchmarks with the command line's options, reporting
// to `reporter`; false, with nothing run, for an option it does not know.
bool RunBenchmarks(int* argc, char** argv, FigureReporter& reporter);

}  // namespace quiral::bench
