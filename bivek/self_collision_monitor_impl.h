// Internal: the implementation behind quiral::bivek::SelfCollisionMonitor.
// Not part of the public API; the benchmark reaches one cycle's work
// through detail::SelfCollisionMonitorAccess.
//
// Threads. After construction the monitor thread is the only one that
// touches the models, the checker and the Watch. The caller's thread runs
// Start, Stop and destruction (not two of them at once) and SetMinDistance;
// they share stop_requested_ (under wake_mutex_, so that Stop wakes the
// sleeping thread) and min_distance_ (atomic) with the monitor thread.
#pragma once

#include <Eigen/Geometry>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bivek/robot2robot_collision.h"
#include "bivek/self_collision_monitor.h"
#include "vek/model.h"

namespace quiral::bivek {

class SelfCollisionMonitor::Impl {
 public:
  Impl(const RobotPair& robot_pair, const std::vector<std::string>& skipped_links);
  virtual ~Impl();

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  void Start(unsigned int loop_interval_ms);
  void Stop();
  void SetMinDistance(double min_distance);

  // What one run of the monitor thread keeps from cycle to cycle.
  struct Watch {
    using Clock = std::chrono::steady_clock;
    // The checker's kept links and their poses in the world frame.
    std::vector<std::string> left_links, right_links;
    std::vector<Eigen::Isometry3d> left_poses, right_poses;
    bool was_imminent = false;
    // Per arm (left, right): a stop is due (set at an onset, kept until a
    // stop succeeded), and when the arm was last stopped.
    std::pair<bool, bool> stop_due{false, false};
    std::array<Clock::time_point, 2> last_stop{};
    // The failures of this cycle and of the one before: a failure that
    // repeats from cycle to cycle is logged once.
    std::vector<std::string> failures, previous_failures;
  };
  Watch NewWatch() const;
  // One cycle's work, without its sleep: reads the states, poses the links,
  // asks the checker and stops the arms when due. Never throws.
  void Cycle(Watch& watch);

 private:
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
  // Stops the arms due and clears them; throws what the pair's stop throws.
  void StopDueArms(Watch& watch);
  // Logs at warning level when a side keeps no link: the check can then
  // never report a collision.
  void WarnIfWatchingNothing() const;

  const RobotPair& robot_pair_;
  Robot2RobotCollision collision_checker_;
  std::atomic<double> min_distance_{0.05};
  std::unique_ptr<vek::Model> left_model_;
  std::unique_ptr<vek::Model> right_model_;
  // Each arm's links without a kept mesh, for the warning.
  std::vector<std::string> left_out_[2];
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
