// The process's resident memory and thread count, sampled over a long run,
// and the judgement whether either keeps growing.
//
// The run is cut into four quarters by sample time; the first is warm-up
// (caches, pools and DDS history fill up there). Growth that does not level
// off is:
//   - memory: the mean resident size of the last quarter exceeds that of the
//     second quarter by more than kRssToleranceKib or kRssToleranceShare of
//     the second quarter's mean, whichever is larger;
//   - threads: the fewest threads seen in the last quarter exceed the fewest
//     seen in the second quarter. The fewest, because the pair's concurrent
//     commands start a thread per arm for the call's length; a sample taken
//     during such a call sees them, a lasting thread raises every sample.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quiral::soak {

constexpr long kRssToleranceKib = 4 * 1024;
constexpr double kRssToleranceShare = 0.05;

struct ResourceSample {
  double t_s = 0.0;  // since the sampler started
  long rss_kib = 0;
  long threads = 0;
};

// VmRSS of /proc/self/status in KiB; the entries of /proc/self/task.
ResourceSample SampleNow(double t_s);

// What the samples show; `growth` empty when nothing grows.
struct ResourceVerdict {
  ResourceSample first, last;
  double rss_q2_mean_kib = 0.0, rss_q4_mean_kib = 0.0;
  long threads_q2_min = 0, threads_q4_min = 0, threads_max = 0;
  std::vector<std::string> growth;
};

// Needs samples in all four quarters (at least one each); fewer is a
// growth finding of its own, since nothing can be judged.
ResourceVerdict Judge(const std::vector<ResourceSample>& samples);

// Takes a sample every `period` on a thread of its own, from construction
// until Finish.
class ResourceSampler {
 public:
  explicit ResourceSampler(std::chrono::milliseconds period);
  ~ResourceSampler();
  ResourceSampler(const ResourceSampler&) = delete;
  ResourceSampler& operator=(const ResourceSampler&) = delete;

  // Takes a last sample, ends the thread and returns every sample.
  std::vector<ResourceSample> Finish();

 private:
  void Run();
  const std::chrono::steady_clock::time_point start_;
  const std::chrono::milliseconds period_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool finish_ = false;
  std::vector<ResourceSample> samples_;
  std::thread thread_;
};

}  // namespace quiral::soak
