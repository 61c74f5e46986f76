#include "bivek/self_collision_monitor.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>

#include "bivek/collision_mesh_placement.h"
#include "bivek/per_arm.h"
#include "bivek/robot_pair_access.h"
#include "bivek/self_collision_monitor_impl.h"
#include "vek/file_io_impl.h"
#include "vek/model_impl.h"
#include "vek/model_link.h"
#include "vek/robot.h"
#include "vek/urdf_collision_meshes.h"

namespace quiral::bivek {
namespace {

using Clock = SelfCollisionMonitor::Impl::Clock;
using detail::Arm;
using detail::ForArm;
using detail::kArms;
template <class T>
using PerArm = SelfCollisionMonitor::Impl::PerArm<T>;

const std::string kName = "[quiral::bivek::SelfCollisionMonitor]";
const Eigen::Vector3d kGravity(0.0, 0.0, -9.81);
const PerArm<std::string> kFolders{"L_coll_meshes", "R_coll_meshes"};
const PerArm<const char*> kSides{"left", "right"};
// An arm that leaves IDLE while the collision lasts is stopped again, and
// an arm whose stop failed is tried again, but not sooner than this after
// its last stop.
constexpr std::chrono::milliseconds kRestopInterval{100};

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : " ") + name;
  return text;
}

// The names of `all` that are not in `kept`.
std::vector<std::string> LeftOut(const std::vector<std::string>& all,
                                 const std::vector<std::string>& kept) {
  std::vector<std::string> out;
  for (const std::string& name : all) {
    if (std::find(kept.begin(), kept.end(), name) == kept.end()) out.push_back(name);
  }
  return out;
}

// Warns of each kept link of one arm whose mesh the URDF moves or scales:
// the checker uses the mesh file as it stands in the link's frame.
void WarnOfUnappliedPlacements(const std::map<std::string, vek::detail::UrdfCollisionMesh>& meshes,
                               const std::vector<std::string>& kept, const char* side) {
  for (const CollisionMeshPlacement& mesh : MovedOrScaledCollisionMeshes(meshes)) {
    if (std::find(kept.begin(), kept.end(), mesh.link) == kept.end()) continue;
    if (mesh.moved) {
      spdlog::warn(
          "{} The URDF of the {} robot gives link [{}] a collision origin, which the "
          "collision check does not apply",
          kName, side, mesh.link);
    }
    if (mesh.scaled) {
      spdlog::warn(
          "{} The URDF of the {} robot gives link [{}] a mesh scale, which the "
          "collision check does not apply",
          kName, side, mesh.link);
    }
  }
}

// One arm's pose list: link i of `model` moved by the arm's translation.
void PoseLinks(vek::Model::Impl& model, const std::vector<std::string>& links,
               const std::array<double, 3>& translation, std::vector<Eigen::Isometry3d>& poses) {
  for (std::size_t i = 0; i < links.size(); ++i) {
    poses[i] = model.T(links[i]);
    poses[i].translation() += Eigen::Vector3d(translation[0], translation[1], translation[2]);
  }
}

}  // namespace

// ------------------------------------------------------------------ Impl

SelfCollisionMonitor::Impl::Impl(const RobotPair& robot_pair,
                                 const std::vector<std::string>& skipped_links)
    : robot_pair_(robot_pair) {
  const auto robots = robot_pair.instances();
  // One URDF request per arm: the text serves the arm's model, its mesh
  // download and the placement warnings.
  PerArm<std::optional<std::string>> urdfs;
  for (const Arm arm : kArms) {
    const vek::Robot& robot = *ForArm(arm, robots);
    std::unique_ptr<vek::ModelLink> link = vek::Model::Impl::RobotLink(robot);
    ForArm(arm, urdfs) = link->Urdf();
    ForArm(arm, arms_).model = std::make_unique<vek::Model::Impl>(
        vek::WithFetchedUrdf(std::move(link), ForArm(arm, urdfs)), kGravity);
  }
  // Each model was built, so each URDF arrived.
  PerArm<std::map<std::string, vek::detail::UrdfCollisionMesh>> meshes;
  for (const Arm arm : kArms) {
    ForArm(arm, meshes) = vek::FileIO::Impl(*ForArm(arm, robots))
                              .DownloadCollisionMesh(ForArm(arm, kFolders), *ForArm(arm, urdfs));
  }
  PerArm<std::vector<std::string>> links;
  for (const Arm arm : kArms) ForArm(arm, links) = ForArm(arm, arms_).model->link_names();
  collision_checker_.Init(links.first, links.second, skipped_links, kFolders.first,
                          kFolders.second);
  spdlog::debug("{} The following links are skipped for collision check: {}", kName,
                Joined(skipped_links));
  for (const Arm arm : kArms) {
    ForArm(arm, arms_).unchecked_links = LeftOut(ForArm(arm, links), KeptLinks(arm));
    WarnOfUnappliedPlacements(ForArm(arm, meshes), KeptLinks(arm), ForArm(arm, kSides));
  }
}

SelfCollisionMonitor::Impl::~Impl() { Stop(); }

void SelfCollisionMonitor::Impl::Start(unsigned int loop_interval_ms) {
  if (running_) {
    throw std::logic_error(
        "[quiral::bivek::SelfCollisionMonitor::Start] The collision monitor is already started "
        "and running");
  }
  if (loop_interval_ms == 0) {
    throw std::invalid_argument(
        "[quiral::bivek::SelfCollisionMonitor::Start] The loop interval must be at least 1 ms");
  }
  WarnIfWatchingNothing();
  {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    stop_requested_ = false;
  }
  monitor_thread_ = std::thread(&Impl::MonitorCollision, this, loop_interval_ms);
  running_ = true;
}

void SelfCollisionMonitor::Impl::Stop() {
  {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    stop_requested_ = true;
  }
  wake_.notify_all();
  if (monitor_thread_.joinable()) {
    monitor_thread_.join();
    spdlog::debug("Collision monitor thread exited");
  }
  running_ = false;
}

void SelfCollisionMonitor::Impl::SetMinDistance(double min_distance) {
  // NaN would make every distance look safe; +inf would stop the arms for
  // good; a negative distance is never reached.
  if (!std::isfinite(min_distance) || min_distance < 0.0) {
    throw std::invalid_argument(
        "[quiral::bivek::SelfCollisionMonitor::SetMinDistance] The minimum distance must be a "
        "finite number of at least 0");
  }
  min_distance_.store(min_distance);
}

const std::vector<std::string>& SelfCollisionMonitor::Impl::KeptLinks(Arm arm) const {
  return (arm == Arm::kFirst ? collision_checker_.left_objects()
                             : collision_checker_.right_objects())
      .link_names;
}

void SelfCollisionMonitor::Impl::WarnIfWatchingNothing() const {
  const auto& left_kept = KeptLinks(Arm::kFirst);
  const auto& right_kept = KeptLinks(Arm::kSecond);
  if (!left_kept.empty() && !right_kept.empty()) return;
  spdlog::warn(
      "{} The collision check keeps {} links of the left robot and {} of the right robot and "
      "can never report a collision; left out: left [{}], right [{}]",
      kName, left_kept.size(), right_kept.size(), Joined(arms_.first.unchecked_links),
      Joined(arms_.second.unchecked_links));
}

SelfCollisionMonitor::Impl::Watch SelfCollisionMonitor::Impl::NewWatch() const {
  Watch watch;
  for (const Arm arm : kArms) {
    ForArm(arm, watch.arms).links = KeptLinks(arm);
    ForArm(arm, watch.arms)
        .poses.assign(ForArm(arm, watch.arms).links.size(), Eigen::Isometry3d::Identity());
  }
  return watch;
}

void SelfCollisionMonitor::Impl::MonitorCollision(unsigned int loop_interval_ms) {
  spdlog::info(
      "[quiral::bivek::SelfCollisionMonitor::Start] Running collision monitor at {} ms interval, "
      "or {} Hz frequency",
      loop_interval_ms, 1000.0 / loop_interval_ms);
  const std::chrono::milliseconds period(loop_interval_ms);
  Watch watch = NewWatch();
  std::unique_lock<std::mutex> lock(wake_mutex_);
  while (!stop_requested_) {
    lock.unlock();
    const Clock::time_point t0 = Clock::now();
    Cycle(watch);
    const auto elapsed_us =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
    const double elapsed_ms = static_cast<double>(elapsed_us) * 0.001;
    if (static_cast<double>(loop_interval_ms) < elapsed_ms) {
      spdlog::warn(
          "{} The current monitor loop took more time ({} ms) than the desired loop "
          "interval ({} ms)",
          kName, static_cast<int32_t>(elapsed_ms), loop_interval_ms);
    }
    lock.lock();
    // Woken at once by Stop; a late cycle is not made up for.
    wake_.wait_until(lock, t0 + period, [this] { return stop_requested_; });
  }
}

void SelfCollisionMonitor::Impl::Cycle(Watch& watch) {
  std::optional<bool> imminent;
  Attempt(watch, " Failed to check the distance between the robots: ", [&] {
    imminent = IsCollisionImminent(watch);
  });
  if (imminent && *imminent && !watch.was_imminent) {
    spdlog::warn("{} The left [{}] and right [{}] are about to collide, stopping both robots ...",
                 kName, collision_checker_.closest_left_link(),
                 collision_checker_.closest_right_link());
    for (const Arm arm : kArms) {
      ArmWatch::Episode& episode = ForArm(arm, watch.arms).episode;
      episode = {};
      episode.stop_due = true;
    }
  } else if (imminent && *imminent) {
    Attempt(watch, " Failed to read the robots' modes: ", [&] { RestopArmsOutOfIdle(watch); });
  } else if (imminent) {
    // Over: an arm that could not be stopped is left alone from now on.
    for (const Arm arm : kArms) ForArm(arm, watch.arms).episode.stop_due = false;
  }
  // A failed cycle leaves the previous state until a cycle tells.
  if (imminent) watch.was_imminent = *imminent;
  if (watch.arms.first.episode.stop_due || watch.arms.second.episode.stop_due) {
    Attempt(watch, " Failed to stop the robots, trying again: ", [&] { StopDueArms(watch); });
  }
  watch.previous_failures = std::move(watch.failures);
  watch.failures.clear();
}

void SelfCollisionMonitor::Impl::Attempt(Watch& watch, const char* what,
                                         const std::function<void()>& step) {
  std::string failure;
  try {
    step();
    return;
  } catch (const std::exception& e) {
    failure = what + std::string(e.what());
  } catch (...) {
    failure = what + std::string("unknown exception");
  }
  const auto& previous = watch.previous_failures;
  if (std::find(previous.begin(), previous.end(), failure) == previous.end()) {
    spdlog::error("{}{}", kName, failure);
  }
  watch.failures.push_back(std::move(failure));
}

bool SelfCollisionMonitor::Impl::IsCollisionImminent(Watch& watch) {
  const auto states = robot_pair_.states();
  const auto translations = detail::RobotPairAccess::translations_in_world(robot_pair_);
  for (const Arm arm : kArms) {
    const vek::RobotStates& state = ForArm(arm, states);
    vek::Model::Impl& model = *ForArm(arm, arms_).model;
    model.Update(state.link_position, state.link_velocity);
    PoseLinks(model, ForArm(arm, watch.arms).links, ForArm(arm, translations),
              ForArm(arm, watch.arms).poses);
  }
  collision_checker_.Update(watch.arms.first.poses, watch.arms.second.poses);
  return collision_checker_.IsCollisionImminent(min_distance_.load());
}

void SelfCollisionMonitor::Impl::RestopArmsOutOfIdle(Watch& watch) {
  const auto modes = robot_pair_.mode();
  const Clock::time_point now = Clock::now();
  for (const Arm arm : kArms) {
    ArmWatch::Episode& episode = ForArm(arm, watch.arms).episode;
    if (ForArm(arm, modes) != vek::Mode::IDLE && !episode.stop_due &&
        now - episode.last_stop >= kRestopInterval) {
      spdlog::warn(
          "{} The {} robot left IDLE while the collision is still imminent, stopping it "
          "again",
          kName, ForArm(arm, kSides));
      episode.stop_due = true;
    }
  }
}

void SelfCollisionMonitor::Impl::StopDueArms(Watch& watch) {
  const Clock::time_point now = Clock::now();
  PerArm<bool> selected;
  for (const Arm arm : kArms) {
    const ArmWatch::Episode& episode = ForArm(arm, watch.arms).episode;
    ForArm(arm, selected) =
        episode.stop_due && (!episode.last_failure || now - episode.last_stop >= kRestopInterval);
  }
  if (!selected.first && !selected.second) return;

  // Each task writes its own arm's error only; both are read once both
  // tasks have ended.
  const auto robots = robot_pair_.instances();
  PerArm<std::exception_ptr> errors;
  const auto stop = [&robots, &errors](Arm arm) {
    return [&robots, &errors, arm] {
      try {
        ForArm(arm, robots)->Stop();
      } catch (...) {
        ForArm(arm, errors) = std::current_exception();
      }
    };
  };
  detail::RunConcurrentSelected(detail::Untagged(), selected, stop(Arm::kFirst),
                                stop(Arm::kSecond));

  const Clock::time_point end = Clock::now();
  for (const Arm arm : kArms) {
    if (!ForArm(arm, selected)) continue;
    ArmWatch::Episode& episode = ForArm(arm, watch.arms).episode;
    episode.last_stop = end;
    if (!ForArm(arm, errors)) {
      episode.stop_due = false;
      episode.last_failure.reset();
      continue;
    }
    std::string failure = detail::ErrorText(ForArm(arm, errors));
    if (failure != episode.last_failure) {
      spdlog::error("{} Failed to stop the {} robot, trying again: {}", kName, ForArm(arm, kSides),
                    failure);
    }
    episode.last_failure = std::move(failure);
  }
}

// ------------------------------------------------------------------ SelfCollisionMonitor

SelfCollisionMonitor::SelfCollisionMonitor(const RobotPair& robot_pair,
                                           const std::vector<std::string>& skipped_links)
    : impl_(std::make_unique<Impl>(robot_pair, skipped_links)) {}

SelfCollisionMonitor::~SelfCollisionMonitor() = default;

void SelfCollisionMonitor::Start(unsigned int loop_interval_ms) { impl_->Start(loop_interval_ms); }
void SelfCollisionMonitor::Stop() { impl_->Stop(); }
void SelfCollisionMonitor::SetMinDistance(double min_distance) {
  impl_->SetMinDistance(min_distance);
}

}  // namespace quiral::bivek
