#include "bivek/self_collision_monitor.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>

#include "bivek/collision_mesh_placement.h"
#include "bivek/robot_pair_access.h"
#include "bivek/self_collision_monitor_impl.h"
#include "vek/file_io.h"
#include "vek/model_link.h"
#include "vek/robot_access.h"

namespace quiral::bivek {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kName = "[quiral::bivek::SelfCollisionMonitor]";
const Eigen::Vector3d kGravity(0.0, 0.0, -9.81);
const std::string kLeftFolder = "L_coll_meshes";
const std::string kRightFolder = "R_coll_meshes";
const char* const kSides[2] = {"left", "right"};
// An arm that leaves IDLE while the collision lasts is stopped again, but
// not sooner than this after its last stop.
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
void WarnOfUnappliedPlacements(const vek::Robot& robot, const std::vector<std::string>& kept,
                               const char* side) {
  const std::optional<std::string> urdf =
      vek::MakeRobotModelLink(vek::detail::RobotAccess::client(robot), robot.info())->Urdf();
  if (!urdf) {
    spdlog::warn("{} Failed to obtain the URDF of the {} robot to check its collision meshes",
                 kName, side);
    return;
  }
  for (const CollisionMeshPlacement& mesh : MovedOrScaledCollisionMeshes(*urdf)) {
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

// Each arm's pose list: link i of `model` moved by the arm's translation.
void PoseLinks(vek::Model& model, const std::vector<std::string>& links,
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
  left_model_ = std::make_unique<vek::Model>(*robots.first, kGravity);
  right_model_ = std::make_unique<vek::Model>(*robots.second, kGravity);
  vek::FileIO(*robots.first).DownloadCollisionMesh(kLeftFolder);
  vek::FileIO(*robots.second).DownloadCollisionMesh(kRightFolder);
  const std::vector<std::string> left_links = left_model_->link_names();
  const std::vector<std::string> right_links = right_model_->link_names();
  collision_checker_.Init(left_links, right_links, skipped_links, kLeftFolder, kRightFolder);
  spdlog::debug("{} The following links are skipped for collision check: {}", kName,
                Joined(skipped_links));
  const auto& left_kept = collision_checker_.left_objects().link_names;
  const auto& right_kept = collision_checker_.right_objects().link_names;
  left_out_[0] = LeftOut(left_links, left_kept);
  left_out_[1] = LeftOut(right_links, right_kept);
  WarnOfUnappliedPlacements(*robots.first, left_kept, kSides[0]);
  WarnOfUnappliedPlacements(*robots.second, right_kept, kSides[1]);
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

void SelfCollisionMonitor::Impl::WarnIfWatchingNothing() const {
  const auto& left_kept = collision_checker_.left_objects().link_names;
  const auto& right_kept = collision_checker_.right_objects().link_names;
  if (!left_kept.empty() && !right_kept.empty()) return;
  spdlog::warn(
      "{} The collision check keeps {} links of the left robot and {} of the right robot and "
      "can never report a collision; left out: left [{}], right [{}]",
      kName, left_kept.size(), right_kept.size(), Joined(left_out_[0]), Joined(left_out_[1]));
}

SelfCollisionMonitor::Impl::Watch SelfCollisionMonitor::Impl::NewWatch() const {
  Watch watch;
  watch.left_links = collision_checker_.left_objects().link_names;
  watch.right_links = collision_checker_.right_objects().link_names;
  watch.left_poses.assign(watch.left_links.size(), Eigen::Isometry3d::Identity());
  watch.right_poses.assign(watch.right_links.size(), Eigen::Isometry3d::Identity());
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
    watch.stop_due = {true, true};
  } else if (imminent && *imminent) {
    Attempt(watch, " Failed to read the robots' modes: ", [&] { RestopArmsOutOfIdle(watch); });
  }
  // A failed cycle leaves the previous state until a cycle tells.
  if (imminent) watch.was_imminent = *imminent;
  if (watch.stop_due.first || watch.stop_due.second) {
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
  left_model_->Update(states.first.link_position, states.first.link_velocity);
  right_model_->Update(states.second.link_position, states.second.link_velocity);
  const auto translations = detail::RobotPairAccess::translations_in_world(robot_pair_);
  PoseLinks(*left_model_, watch.left_links, translations.first, watch.left_poses);
  PoseLinks(*right_model_, watch.right_links, translations.second, watch.right_poses);
  collision_checker_.Update(watch.left_poses, watch.right_poses);
  return collision_checker_.IsCollisionImminent(min_distance_.load());
}

void SelfCollisionMonitor::Impl::RestopArmsOutOfIdle(Watch& watch) {
  const auto modes = robot_pair_.mode();
  const vek::Mode arm_modes[2] = {modes.first, modes.second};
  bool* due[2] = {&watch.stop_due.first, &watch.stop_due.second};
  const Clock::time_point now = Clock::now();
  for (int arm = 0; arm < 2; ++arm) {
    if (arm_modes[arm] != vek::Mode::IDLE && !*due[arm] &&
        now - watch.last_stop[arm] >= kRestopInterval) {
      spdlog::warn(
          "{} The {} robot left IDLE while the collision is still imminent, stopping it "
          "again",
          kName, kSides[arm]);
      *due[arm] = true;
    }
  }
}

void SelfCollisionMonitor::Impl::StopDueArms(Watch& watch) {
  detail::RobotPairAccess::impl(robot_pair_)->Stop(watch.stop_due);
  const Clock::time_point now = Clock::now();
  if (watch.stop_due.first) watch.last_stop[0] = now;
  if (watch.stop_due.second) watch.last_stop[1] = now;
  watch.stop_due = {false, false};
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
