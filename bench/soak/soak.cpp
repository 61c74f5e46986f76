// Soak run: a robot pair on two simulated controllers (one process each),
// driven for MINUTES as an application would drive it, while the process's
// memory and threads are watched.
//
//   scripts/soak.sh MINUTES        (builds this, runs it in the namespace)
//
// Threads of the run:
//   - the streamer: joint positions to both arms at 1 kHz (a slow sine on
//     the first joint around the start position) while a streaming phase
//     lasts;
//   - the querier: local queries (states, mode, events, ...) every 10 ms and one
//     remote query (global variables, plans, primitive states) every 250 ms,
//     the whole time;
//   - the self-collision monitor at its default 10 ms interval, the whole
//     time;
//   - the sampler: resident memory and thread count every second;
//   - the main thread: phases in turn, 10 s of streaming in the real-time
//     joint position mode, then a stop, a plan started and stopped in the
//     plan mode, a joint target in the non-real-time joint mode, a collision
//     episode (a minimum distance that every pose breaks, until the monitor
//     has stopped both arms) and a stop.
//
// After each streaming phase the simulators' records give the sequence
// numbers 1..sent of that phase that never arrived (the series restarts at
// 1 with every mode switch).
//
// The report gives resident memory and threads at the start and the end,
// missed sequence numbers per arm, the slowest call of each kind and every
// error. The run fails (status 1) on any error (a call that threw, a line
// logged at error level), on more missed sequence numbers than
// kMissedPerSent of an arm's commands, or on growth that does not level
// off (resource_samples.h); a watchdog ends it, failed, when the main thread
// hangs in one step (a call, a phase, the teardown) for 60 s.
#include <spdlog/spdlog.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/soak/call_record.h"
#include "bench/soak/resource_samples.h"
#include "bench/support/figures.h"
#include "bivek/robot_pair.h"
#include "bivek/self_collision_monitor.h"
#include "tests/support/sim_process.h"

namespace quiral::soak {
namespace {

using namespace std::chrono_literals;
using bench::NowNs;
using bench::SleepUntilNs;
using bivek::RobotPair;
using bivek::SelfCollisionMonitor;
using test::SimProcess;
using test::UniqueSerial;
using test::WaitUntil;
using vek::Mode;
using Clock = std::chrono::steady_clock;
template <class T>
using PerArm = std::pair<T, T>;

constexpr int64_t kPeriodNs = 1000000;  // 1 kHz
constexpr auto kStreamPhase = 10s;
constexpr auto kQueryInterval = 10ms;
constexpr int kLocalQueriesPerRemote = 25;
constexpr unsigned int kMonitorIntervalMs = 10;
constexpr double kMinDistance = 0.05;     // the monitor's default
constexpr double kEverywhere = 100.0;     // farther than any two links of the cell
constexpr auto kMonitorSettle = 500ms;    // 50 cycles at the default distance again
constexpr auto kSampleInterval = 1s;
// The main thread making no progress this long is a hang.
constexpr auto kStallLimit = 60s;
// Missed sequence numbers allowed per arm: one in 10 000 sent.
constexpr double kMissedPerSent = 1e-4;

const std::vector<double> kHome = {0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0};
const std::vector<double> kZeros(7, 0.0);

// Ends the process (status 1) when the main thread has not reached a new
// step for kStallLimit: a hung call or teardown would hold the run, and a CI
// job, for good. The simulators end with their standard input.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Run(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void Step(const char* step) {
    std::lock_guard<std::mutex> lock(mutex_);
    step_ = step;
    since_ = Clock::now();
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, 1s, [this] { return quit_; })) {
      if (Clock::now() - since_ > kStallLimit) {
        std::cout << "SOAK FAILED: hung for " << kStallLimit.count() << " s in: " << step_
                  << std::endl;
        std::_Exit(1);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  const char* step_ = "start";
  Clock::time_point since_ = Clock::now();
  std::thread thread_;
};

// Streams joint positions to both arms at 1 kHz between Resume and Pause.
// A command that throws ends the phase (the arms are no longer streaming).
class Streamer {
 public:
  Streamer(RobotPair& pair, CallRecord& record)
      : pair_(pair), record_(record), thread_([this] { Run(); }) {}
  ~Streamer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  void Resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    sent_ = 0;
    streaming_ = true;
    changed_.notify_all();
  }
  // Ends the phase once the command under way is out; returns the commands
  // sent in it.
  uint64_t Pause() {
    std::unique_lock<std::mutex> lock(mutex_);
    streaming_ = false;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !in_phase_; });
    return sent_;
  }
  uint64_t overruns() const { return overruns_.load(); }

 private:
  void Run() {
    std::vector<double> target = kHome;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return quit_ || streaming_; });
      if (quit_) return;
      in_phase_ = true;
      int64_t next = NowNs() + kPeriodNs;
      for (uint64_t n = 0; streaming_ && !quit_; ++n) {
        lock.unlock();
        SleepUntilNs(next);
        if (NowNs() - next > kPeriodNs) overruns_.fetch_add(1);
        next += kPeriodNs;
        target[0] = 0.1 * std::sin(2.0 * M_PI * 0.5 * static_cast<double>(n) * 1e-3);
        const bool sent = record_.Time("StreamJointPosition", [&] {
          pair_.StreamJointPosition({target, target}, {kZeros, kZeros}, {kZeros, kZeros});
        });
        lock.lock();
        if (!sent) streaming_ = false;
        if (sent) ++sent_;
      }
      in_phase_ = false;
      changed_.notify_all();
    }
  }

  RobotPair& pair_;
  CallRecord& record_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool streaming_ = false, in_phase_ = false, quit_ = false;
  uint64_t sent_ = 0;
  std::atomic<uint64_t> overruns_{0};
  std::thread thread_;
};

// Local queries every 10 ms, one remote query in turn every 250 ms, until
// destroyed.
class Querier {
 public:
  Querier(RobotPair& pair, CallRecord& record)
      : pair_(pair), record_(record), thread_([this] { Run(); }) {}
  ~Querier() {
    quit_ = true;
    thread_.join();
  }

 private:
  void Run() {
    for (uint64_t n = 0; !quit_; ++n) {
      std::this_thread::sleep_for(kQueryInterval);
      record_.Time("states", [&] { pair_.states(); });
      record_.Time("mode", [&] { pair_.mode(); });
      record_.Time("operational", [&] { pair_.operational(); });
      record_.Time("event_log", [&] { pair_.event_log(); });
      record_.Time("operational_status", [&] { pair_.operational_status(); });
      record_.Time("which_busy", [&] { pair_.which_busy(); });
      record_.Time("digital_inputs", [&] { pair_.digital_inputs(); });
      record_.Time("actions", [&] { pair_.actions(); });
      if (n % kLocalQueriesPerRemote != 0) continue;
      switch ((n / kLocalQueriesPerRemote) % 3) {
        case 0:
          record_.Time("global_variables", [&] { pair_.global_variables(); });
          break;
        case 1:
          record_.Time("plan_list", [&] { pair_.plan_list(); });
          break;
        default:
          record_.Time("primitive_states", [&] { pair_.primitive_states(); });
      }
    }
  }

  RobotPair& pair_;
  CallRecord& record_;
  std::atomic<bool> quit_{false};
  std::thread thread_;
};

// One simulated controller per process, so that each arm has a peer of its
// own, as on a real cell.
struct Arm {
  std::string serial;
  std::unique_ptr<SimProcess> sim;
  uint64_t sent = 0, missed = 0;

  size_t MotionTotal() {
    return sim
        ->Command("motion_commands",
                  {{"serial", serial}, {"since", size_t{1} << 40}, {"compact", true}})["total"]
        .get<size_t>();
  }

  // Sequence numbers 1..sent of the phase whose records begin at `since`
  // that never reached the controller; late ones get a moment to arrive.
  uint64_t CountMissed(size_t since, uint64_t phase_sent) {
    WaitUntil([&] { return MotionTotal() >= since + phase_sent; }, 2s, 20ms);
    const nlohmann::json reply = sim->Command(
        "motion_commands", {{"serial", serial}, {"since", since}, {"compact", true}}, 10s);
    std::set<uint64_t> seen;
    for (const auto& seq : reply["seqs"]) {
      const auto s = seq.get<uint64_t>();
      if (s >= 1 && s <= phase_sent) seen.insert(s);
    }
    sent += phase_sent;
    missed += phase_sent - seen.size();
    return phase_sent - seen.size();
  }
};

// The main thread's calls: each one a step of the watchdog.
struct MainCalls {
  CallRecord& record;
  Watchdog& watchdog;
  template <class Call>
  bool operator()(const char* kind, Call&& call) {
    watchdog.Step(kind);
    return record.Time(kind, std::forward<Call>(call));
  }
};

void StreamingPhase(RobotPair& pair, Streamer& streamer, Arm (&arms)[2], MainCalls& call,
                    Clock::time_point end) {
  if (!call("SwitchMode", [&] { pair.SwitchMode(Mode::RT_JOINT_POSITION); })) return;
  call.watchdog.Step("streaming");
  const size_t since[2] = {arms[0].MotionTotal(), arms[1].MotionTotal()};
  streamer.Resume();
  std::this_thread::sleep_until(std::min(end, Clock::now() + kStreamPhase));
  const uint64_t sent = streamer.Pause();
  call.watchdog.Step("counting missed sequence numbers");
  for (int i = 0; i < 2; ++i) {
    const uint64_t missed = arms[i].CountMissed(since[i], sent);
    if (missed > 0) {
      std::cout << "phase missed " << missed << " of " << sent << " on " << arms[i].serial
                << std::endl;
    }
  }
}

// The monitor's own stop: with a minimum distance that every pose breaks it
// must stop both arms. Back at the default distance, it gets some cycles to
// see that before the next switch (while a collision lasts it stops again
// any arm that leaves IDLE).
void CollisionEpisode(RobotPair& pair, SelfCollisionMonitor& monitor, MainCalls& call) {
  monitor.SetMinDistance(kEverywhere);
  call("collision stop", [&] {
    const bool stopped = WaitUntil(
        [&] { return pair.mode() == PerArm<Mode>{Mode::IDLE, Mode::IDLE}; }, 3s, 1ms);
    if (!stopped) throw std::runtime_error("the monitor did not stop both arms within 3 s");
  });
  monitor.SetMinDistance(kMinDistance);
  std::this_thread::sleep_for(kMonitorSettle);
}

void CommandPhase(RobotPair& pair, SelfCollisionMonitor& monitor, MainCalls& call) {
  call("Stop", [&] { pair.Stop(); });
  call("SwitchMode", [&] { pair.SwitchMode(Mode::NRT_PLAN_EXECUTION); }) &&
      call("ExecutePlan", [&] {
        pair.ExecutePlan(PerArm<std::string>{"WaitPlan", "WaitPlan"}, false, true);
      }) &&
      call("plan_info", [&] { pair.plan_info(); }) &&
      call("StopPlan", [&] { pair.StopPlan(); });
  const bool moving =
      call("SwitchMode", [&] { pair.SwitchMode(Mode::NRT_JOINT_POSITION); }) &&
      call("SendJointPosition", [&] {
        const std::vector<double> max_vel(7, 0.5), max_acc(7, 2.0);
        pair.SendJointPosition({kHome, kHome}, {kZeros, kZeros}, {max_vel, max_vel},
                               {max_acc, max_acc});
      });
  if (moving) CollisionEpisode(pair, monitor, call);
  call("Stop", [&] { pair.Stop(); });
}

int Run(double minutes) {
  CallRecord record;
  spdlog::set_level(spdlog::level::warn);
  spdlog::default_logger()->sinks().push_back(std::make_shared<RecordingSink>(record));

  // The monitor writes the arms' meshes into the working directory.
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("quiral-soak-" + UniqueSerial("run"));
  fs::create_directories(dir);
  fs::current_path(dir);

  Watchdog watchdog;
  MainCalls call{record, watchdog};
  Arm arms[2] = {{UniqueSerial("Varno4"), nullptr}, {UniqueSerial("Varno10"), nullptr}};
  for (Arm& arm : arms) {
    arm.sim = std::make_unique<SimProcess>(
        std::vector<std::string>{arm.serial},
        std::vector<std::string>{"--initial-state", "ready", "--motion-detail", "0"});
  }
  std::vector<ResourceSample> samples;
  {
    watchdog.Step("connecting the pair");
    RobotPair pair({arms[0].serial, arms[1].serial}, {{0.0, -0.5, 0.0}, {0.0, 0.5, 0.0}},
                   {"127.0.0.1"});
    for (Arm& arm : arms) {
      if (!arm.sim->WaitMatched(arm.serial, 10s)) {
        std::cerr << "soak: " << arm.serial << " never matched the client's endpoints\n";
        return 1;
      }
    }
    if (!WaitUntil([&] { return !pair.states().second.link_position.empty(); }, 5s)) {
      std::cerr << "soak: no states from the arms\n";
      return 1;
    }
    watchdog.Step("starting the monitor");
    SelfCollisionMonitor monitor(pair);
    monitor.Start(kMonitorIntervalMs);

    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(minutes * 60.0));
    {
      Streamer streamer(pair, record);
      Querier querier(pair, record);
      ResourceSampler sampler(kSampleInterval);
      while (Clock::now() < end) {
        StreamingPhase(pair, streamer, arms, call, end);
        CommandPhase(pair, monitor, call);
      }
      samples = sampler.Finish();
      watchdog.Step("ending the streamer and the querier");
      std::cout << "streaming overruns (cycles begun over 1 ms late): " << streamer.overruns()
                << "\n";
    }
    watchdog.Step("stopping the monitor");
    monitor.Stop();
    watchdog.Step("disconnecting the pair");
  }
  watchdog.Step("ending the simulators");
  for (Arm& arm : arms) arm.sim.reset();
  fs::current_path(fs::temp_directory_path());
  fs::remove_all(dir);

  const ResourceVerdict verdict = Judge(samples);
  std::cout << "soak run of " << minutes << " min, " << samples.size() << " samples\n"
            << "resident memory: start " << verdict.first.rss_kib << " KiB, end "
            << verdict.last.rss_kib << " KiB; mean of the second quarter "
            << static_cast<long>(verdict.rss_q2_mean_kib) << " KiB, of the last "
            << static_cast<long>(verdict.rss_q4_mean_kib) << " KiB\n"
            << "threads: start " << verdict.first.threads << ", end " << verdict.last.threads
            << "; fewest in the second quarter " << verdict.threads_q2_min << ", in the last "
            << verdict.threads_q4_min << "; most " << verdict.threads_max << "\n";
  bool failed = !verdict.growth.empty();
  for (const std::string& growth : verdict.growth) std::cout << "GROWTH: " << growth << "\n";
  for (const Arm& arm : arms) {
    const auto allowed = static_cast<uint64_t>(kMissedPerSent * static_cast<double>(arm.sent));
    std::cout << "missed sequence numbers " << arm.serial << ": " << arm.missed << " of "
              << arm.sent << " (allowed " << allowed << ")\n";
    if (arm.sent == 0 || arm.missed > allowed) failed = true;
  }
  record.Print(std::cout);
  failed = failed || record.errors() > 0;
  std::cout << (failed ? "SOAK FAILED" : "SOAK CLEAN") << std::endl;
  return failed ? 1 : 0;
}

}  // namespace
}  // namespace quiral::soak

int main(int argc, char** argv) {
  double minutes = 0.0;
  if (argc == 2) minutes = std::strtod(argv[1], nullptr);
  if (!(minutes > 0.0)) {
    std::cerr << "usage: quiral_soak MINUTES (inside scripts/netns-run)\n";
    return 2;
  }
  try {
    return quiral::soak::Run(minutes);
  } catch (const std::exception& error) {
    std::cerr << "soak: " << error.what() << "\n";
    return 1;
  }
}
