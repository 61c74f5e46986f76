// Internal: the implementation behind quiral::bivek::SelfCollisionMonitor.
// Not part of the public API; the benchmark and the tests reach one cycle's
// work through detail::SelfCollisionMonitorAccess.
//
// Threads. After construction the monitor thread is the only one that
// touches the models, the checker and the Watch; the stops of one cycle run
// on one task per arm (bivek/per_arm.h), each writing only its own arm's
// outcome, read once both have ended. The caller's thread runs Start, Stop
// and destruction (not two of them at once) and SetMinDistance; they share
// stop_requested_ (under wake_mutex_, so that Stop wakes the sleeping
// thread) and min_distance_ (atomic) with the monitor thread.
#pragma once

#include <Eigen/Geometry>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bivek/per_arm.h"
#include "bivek/robot2robot_collision.h"
#include "bivek/self_collision_monitor.h"
#include "vek/model.h"

namespace quiral::bivek {

class SelfCollisionMonitor::Impl {
 public:
  using Clock = std::chrono::steady_clock;

  // One value per arm, `first` the first (left) arm, reached by the arm
  // with detail::ForArm, as everywhere in the dual-arm layer.
  template <class T>
  using PerArm = std::pair<T, T>;

  // Fetches each arm's URDF once: it serves the arm's model, its mesh
  // download and the warnings of mesh placements the checker ignores.
  Impl(const RobotPair& robot_pair, const std::vector<std::string>& skipped_links);
  virtual ~Impl();

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  void Start(unsigned int loop_interval_ms);
  void Stop();
  void SetMinDistance(double min_distance);

  // What one run of the monitor thread keeps of one arm from cycle to cycle.
  struct ArmWatch {
    // The checker's kept links and their poses in the world frame.
    std::vector<std::string> links;
    std::vector<Eigen::Isometry3d> poses;
    // The arm's stops within one episode of the collision. An onset starts
    // a new one, so that it stops every arm at once and logs a failure
    // again, whatever the episode before left.
    struct Episode {
      // A stop is due: set at the onset (or when the arm left IDLE while
      // the collision lasts), cleared when the arm's own stop succeeded or
      // the collision is no longer imminent.
      bool stop_due = false;
      // When the arm's last stop ended, and its failure; none when it
      // succeeded. A failed stop is tried again no sooner than
      // kRestopInterval after it, and its failure is logged only when it
      // differs from the one before.
      Clock::time_point last_stop{};
      std::optional<std::string> last_failure;
    } episode;
  };
  // What one run of the monitor thread keeps from cycle to cycle.
  struct Watch {
    PerArm<ArmWatch> arms;
    bool was_imminent = false;
    // The failures of this cycle's other steps and of the cycle before: a
    // failure that repeats from cycle to cycle is logged once.
    std::vector<std::string> failures, previous_failures;
  };
  Watch NewWatch() const;
  // One cycle's work, without its sleep: reads the states, poses the links,
  // asks the checker and stops the arms when due. Never throws.
  void Cycle(Watch& watch);

 private:
  // What the monitor keeps of one arm from its construction.
  struct WatchedArm {
    std::unique_ptr<vek::Model::Impl> model;
    // The arm's links without a kept mesh, for the warning.
    std::vector<std::string> unchecked_links;
  };

  // The body of the monitor thread.
  void MonitorCollision(unsigned int loop_interval_ms);
  // Runs one step of a cycle; a failure is logged at error level, `what`
  // and its text, unless the cycle before had the same.
  void Attempt(Watch& watch, const char* what, const std::function<void()>& step);
  // Poses the links from the states and asks the checker.
  bool IsCollisionImminent(Watch& watch);
  // Marks as due the stop of each arm that left IDLE while the collision
  // lasts, at most every kRestopInterval after its last stop.
  void RestopArmsOutOfIdle(Watch& watch);
  // Stops the arms due, both at once, each with its own Robot::Stop (never
  // held back by a mode switch under way), except an arm whose last stop
  // failed less than kRestopInterval ago; records each arm's outcome and
  // logs a new failure. Throws only when an arm's task cannot be started.
  void StopDueArms(Watch& watch);
  // The checker's kept links of one arm.
  const std::vector<std::string>& KeptLinks(detail::Arm arm) const;
  // Logs at warning level when a side keeps no link: the check can then
  // never report a collision.
  void WarnIfWatchingNothing() const;

  const RobotPair& robot_pair_;
  Robot2RobotCollision collision_checker_;
  std::atomic<double> min_distance_{0.05};
  PerArm<WatchedArm> arms_;
  bool running_ = false;
  std::thread monitor_thread_;
  std::mutex wake_mutex_;
  std::condition_variable wake_;
  bool stop_requested_ = false;  // guarded by wake_mutex_
};

namespace detail {

struct SelfCollisionMonitorAccess {
  static SelfCollisionMonitor::Impl& impl(SelfCollisionMonitor& monitor) { return *monitor.impl_; }
};

}  // namespace detail
}  // namespace quiral::bivek
