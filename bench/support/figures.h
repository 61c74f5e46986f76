// What every benchmark hands to scripts/run-bench.sh: figures printed as
// lines "BENCH <name> <value> <unit>" on standard output, the percentiles
// of timed samples, the CPU time of the process and of each of its threads,
// and the monotonic clock the paced loops run on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quiral::bench {

// Prints one figure for the report; names are dotted, e.g. "rpc.api.p50".
void PrintFigure(const std::string& name, double value, const std::string& unit);

// The p-quantile (0 to 1) of `values`, nearest rank; 0 when empty.
double Percentile(std::vector<double> values, double p);

// Prints name.p50 and name.p99 of `values` in `unit`.
void PrintPercentiles(const std::string& name, const std::vector<double>& values,
                      const std::string& unit);

int64_t NowNs();
void SleepUntilNs(int64_t t_ns);

// User plus system CPU seconds of the whole process so far.
double ProcessCpuSeconds();

// CPU seconds of one thread and the times it was scheduled in, with its
// id and name.
struct ThreadCpu {
  int tid = 0;
  std::string name;
  double seconds = 0.0;
  uint64_t runs = 0;
};
// Every thread of this process, read from /proc/self/task/*/schedstat
// (nanosecond run time) and .../comm.
std::vector<ThreadCpu> ThreadCpuTimes();

// CPU per thread spent between two readings of ThreadCpuTimes, as
// "name[tid]=ms/runs ..." (milliseconds and times scheduled in), largest
// first, threads that spent none left out: where the CPU of a window went
// and how often each thread woke for it.
std::string ThreadCpuSplit(const std::vector<ThreadCpu>& before,
                           const std::vector<ThreadCpu>& after);

}  // namespace quiral::bench
