#include "bench/support/figures.h"

#include <dirent.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

namespace quiral::bench {

void PrintFigure(const std::string& name, double value, const std::string& unit) {
  std::printf("BENCH %s %.6g %s\n", name.c_str(), value, unit.c_str());
  std::fflush(stdout);
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0.0;
  const auto rank = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  const auto nth = values.begin() + static_cast<std::ptrdiff_t>(std::min(rank, values.size() - 1));
  std::nth_element(values.begin(), nth, values.end());
  return *nth;
}

void PrintPercentiles(const std::string& name, const std::vector<double>& values,
                      const std::string& unit) {
  PrintFigure(name + ".p50", Percentile(values, 0.50), unit);
  PrintFigure(name + ".p99", Percentile(values, 0.99), unit);
}

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

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::vector<ThreadCpu> ThreadCpuTimes() {
  std::vector<ThreadCpu> threads;
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return threads;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string task = std::string("/proc/self/task/") + entry->d_name;
    std::ifstream schedstat(task + "/schedstat"), comm(task + "/comm");
    ThreadCpu thread;
    thread.tid = std::atoi(entry->d_name);
    double run_ns = 0, wait_ns = 0;
    if (!(schedstat >> run_ns >> wait_ns >> thread.runs)) continue;
    thread.seconds = run_ns * 1e-9;
    std::getline(comm, thread.name);
    threads.push_back(std::move(thread));
  }
  closedir(dir);
  return threads;
}

std::string ThreadCpuSplit(const std::vector<ThreadCpu>& before,
                           const std::vector<ThreadCpu>& after) {
  std::map<int, ThreadCpu> spent;
  for (const ThreadCpu& t : after) spent[t.tid] = t;
  for (const ThreadCpu& t : before) {
    const auto found = spent.find(t.tid);
    if (found == spent.end()) continue;
    found->second.seconds -= t.seconds;
    found->second.runs -= t.runs;
  }
  std::vector<ThreadCpu> sorted;
  for (const auto& entry : spent) {
    if (entry.second.seconds > 0) sorted.push_back(entry.second);
  }
  std::sort(sorted.begin(), sorted.end(),
            [](const ThreadCpu& a, const ThreadCpu& b) { return a.seconds > b.seconds; });
  std::ostringstream out;
  for (const ThreadCpu& t : sorted) {
    out << (out.tellp() > 0 ? " " : "") << t.name << "[" << t.tid
        << "]=" << static_cast<int>(t.seconds * 1000) << "/" << t.runs;
  }
  return out.str();
}

}  // namespace quiral::bench
