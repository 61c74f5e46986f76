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
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(std::string("/proc/self/task/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(in, line)) continue;
    // "tid (name) state ..." where the name may hold spaces: fields 14
    // and 15 (utime, stime) count from the closing parenthesis.
    const size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14) utime = std::stod(field);
      if (i == 15) stime = std::stod(field);
    }
    threads.push_back({std::atoi(entry->d_name), line.substr(open + 1, close - open - 1),
                       (utime + stime) / ticks});
  }
  closedir(dir);
  return threads;
}

std::string ThreadCpuSplit(const std::vector<ThreadCpu>& before,
                           const std::vector<ThreadCpu>& after) {
  std::map<std::string, double> spent;
  auto key = [](const ThreadCpu& t) { return t.name + "[" + std::to_string(t.tid) + "]"; };
  for (const ThreadCpu& t : after) spent[key(t)] += t.seconds;
  for (const ThreadCpu& t : before) spent[key(t)] -= t.seconds;
  std::vector<std::pair<std::string, double>> sorted(spent.begin(), spent.end());
  std::sort(sorted.begin(), sorted.end(),
            [](const auto& a, const auto& b) { return a.second > b.second; });
  std::ostringstream out;
  for (const auto& [name, seconds] : sorted) {
    if (seconds <= 0) continue;
    out << (out.tellp() > 0 ? " " : "") << name << "=" << static_cast<int>(seconds * 1000);
  }
  return out.str();
}

}  // namespace quiral::bench
