#include "resource_samples.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

namespace quiral::soak {

namespace {

long ResidentKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

long ThreadCount() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<long>(std::distance(begin(tasks), end(tasks)));
}

std::string Kib(double kib) {
  std::ostringstream text;
  text.precision(1);
  text << std::fixed << kib / 1024.0 << " MiB";
  return text.str();
}

}  // namespace

ResourceSample SampleNow(double t_s) { return {t_s, ResidentKib(), ThreadCount()}; }

ResourceVerdict Judge(const std::vector<ResourceSample>& samples) {
  ResourceVerdict verdict;
  if (samples.empty()) {
    verdict.growth.push_back("no samples");
    return verdict;
  }
  verdict.first = samples.front();
  verdict.last = samples.back();
  const double t0 = samples.front().t_s;
  const double quarter = (samples.back().t_s - t0) / 4.0;
  struct Quarter {
    double rss_sum = 0.0;
    long count = 0;
    long threads_min = std::numeric_limits<long>::max();
  } quarters[4];
  for (const ResourceSample& s : samples) {
    const int q = quarter > 0.0 ? std::min(3, static_cast<int>((s.t_s - t0) / quarter)) : 0;
    quarters[q].rss_sum += static_cast<double>(s.rss_kib);
    quarters[q].count += 1;
    quarters[q].threads_min = std::min(quarters[q].threads_min, s.threads);
    verdict.threads_max = std::max(verdict.threads_max, s.threads);
  }
  for (const Quarter& q : quarters) {
    if (q.count == 0) {
      verdict.growth.push_back("too few samples to judge growth (one quarter of the run has none)");
      return verdict;
    }
  }
  verdict.rss_q2_mean_kib = quarters[1].rss_sum / static_cast<double>(quarters[1].count);
  verdict.rss_q4_mean_kib = quarters[3].rss_sum / static_cast<double>(quarters[3].count);
  verdict.threads_q2_min = quarters[1].threads_min;
  verdict.threads_q4_min = quarters[3].threads_min;
  const double allowed = std::max(static_cast<double>(kRssToleranceKib),
                                  kRssToleranceShare * verdict.rss_q2_mean_kib);
  if (verdict.rss_q4_mean_kib - verdict.rss_q2_mean_kib > allowed) {
    verdict.growth.push_back("resident memory grows: last quarter's mean " +
                             Kib(verdict.rss_q4_mean_kib) + " against the second quarter's " +
                             Kib(verdict.rss_q2_mean_kib) + " (allowed " + Kib(allowed) + " more)");
  }
  if (verdict.threads_q4_min > verdict.threads_q2_min) {
    verdict.growth.push_back("threads grow: at least " + std::to_string(verdict.threads_q4_min) +
                             " in the last quarter against " +
                             std::to_string(verdict.threads_q2_min) + " in the second");
  }
  return verdict;
}

ResourceSampler::ResourceSampler(std::chrono::milliseconds period)
    : start_(std::chrono::steady_clock::now()), period_(period), thread_([this] { Run(); }) {}

ResourceSampler::~ResourceSampler() { Finish(); }

std::vector<ResourceSample> ResourceSampler::Finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finish_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  return samples_;
}

void ResourceSampler::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    const std::chrono::duration<double> t = std::chrono::steady_clock::now() - start_;
    samples_.push_back(SampleNow(t.count()));
    if (finish_) return;
    wake_.wait_for(lock, period_, [this] { return finish_; });
  }
}

}  // namespace quiral::soak
