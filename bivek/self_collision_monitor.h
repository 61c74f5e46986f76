// quiral::bivek::SelfCollisionMonitor: watches a RobotPair for an imminent
// collision between its two arms and stops them.
//
// Construction builds a kinematic model of each arm, downloads each arm's
// collision meshes into "L_coll_meshes" and "R_coll_meshes" (in the working
// directory) and loads them into the arm-to-arm checker, without the
// skipped links. Once started, one thread runs a fixed-period loop: it
// reads both arms' joint states, poses every meshed link in the world frame
// (each arm's base shifted by its translation in the world), and asks
// whether a link of the first (left) arm and one of the second (right) arm
// are closer than the minimum distance. At the onset of that condition it
// logs a warning naming the two links and stops both arms, at the same time
// and each on its own: an arm counts as stopped once its own stop
// succeeded, so an arm that cannot be stopped (not enabled, E-stop, a lost
// link, a controller that refuses IDLE) neither holds back nor repeats the
// other arm's stop. While the condition lasts, such an arm is
// tried again at most every 100 ms, its failure logged at error level once
// while it repeats, and an arm that leaves IDLE again is stopped again (at
// most every 100 ms); once the condition is over, neither is stopped any
// more. Every onset starts afresh: both arms are stopped at once and a
// failure is logged again, whatever the episode before left. A cycle that
// fails otherwise (no joint states yet) is logged at error level and
// monitoring goes on.
//
// Driving the arms apart while a collision is imminent: the monitor stops
// an arm that leaves IDLE for as long as the condition lasts, whichever way
// the arm is about to move. Stop() the monitor first, or lower the minimum
// distance (SetMinDistance) below the arms' present distance; move the
// arms apart; then Start the monitor again or restore the distance.
//
// The pair must outlive the monitor. The monitor takes no lock on the pair:
// the user may command it from other threads meanwhile, and a stop is never
// held back by a mode switch under way (see quiral::vek::Robot).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "robot_pair.h"

namespace quiral::bivek {

namespace detail {
struct SelfCollisionMonitorAccess;
}  // namespace detail

class SelfCollisionMonitor {
 public:
  // Throws what the models, the mesh download and the checker throw; the
  // monitor then does not exist.
  SelfCollisionMonitor(const RobotPair& robot_pair,
                       const std::vector<std::string>& skipped_links = {});
  // Stops a running monitor first.
  virtual ~SelfCollisionMonitor();

  SelfCollisionMonitor(const SelfCollisionMonitor&) = delete;
  SelfCollisionMonitor& operator=(const SelfCollisionMonitor&) = delete;

  // Starts the monitor thread with a period of loop_interval_ms. Throws
  // std::logic_error when it is running, std::invalid_argument for 0.
  void Start(unsigned int loop_interval_ms);
  // Ends the monitor thread, without waiting out the period in progress.
  void Stop();
  // The distance below which a collision is imminent (default 0.05, in the
  // arms' length unit), used from the next cycle on. Throws
  // std::invalid_argument for a negative or non-finite distance.
  void SetMinDistance(double min_distance);

  class Impl;

 private:
  friend struct detail::SelfCollisionMonitorAccess;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quiral::bivek
