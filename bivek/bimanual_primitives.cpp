#include "bivek/bimanual_primitives.h"

#include <Eigen/Geometry>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "bivek/robot_pair_access.h"
#include "vek/robot_access.h"

namespace quiral::bivek {
namespace {

using Pose = std::array<double, 7>;
using Wrench = std::array<double, 6>;

const std::string kName = "[quiral::bivek::MoveTensioned]";

constexpr vek::Mode kMode = vek::Mode::NRT_CARTESIAN_MOTION_FORCE;
// The tension phase ends once |error| is smaller than this.
constexpr double kTensionBand = 0.5;
// Each arm's step along the tension line per cycle.
constexpr double kTensionStep = 0.003 * 20.0 * 0.001 * 0.5;
// Limits of both arms in the tension phase; the follower's accelerations
// in the follow phase.
constexpr double kTensionLinearVel = 0.5;
constexpr double kTensionAngularVel = 1.0;
constexpr double kLinearAcc = 2.0;
constexpr double kAngularAcc = 5.0;
constexpr std::chrono::milliseconds kCycle(20);
// Motion commands are best effort: the reference arm's target is sent again
// this often while the arm has not reached it, so that one lost command
// does not leave the call waiting for a motion that never starts.
constexpr std::chrono::milliseconds kReferenceResendPeriod(500);
// The reference arm has reached the target when closer than both.
constexpr double kPositionTolerance = 0.005;
constexpr double kOrientationTolerance = 0.017453292519944444;  // one degree in rad

const Wrench kZero = {};
const std::pair<Wrench, Wrench> kZeroPair = {};

// The quaternion divided by its norm; a zero quaternion stays zero.
Eigen::Quaterniond Normalised(Eigen::Quaterniond q) {
  if (q.squaredNorm() > 0) q.normalize();
  return q;
}

// [x, y, z, qw, qx, qy, qz] -> transform; a zero quaternion yields the
// identity rotation.
Eigen::Isometry3d PoseArrayToTransform(const Pose& pose) {
  Eigen::Isometry3d transform = Eigen::Isometry3d::Identity();
  transform.translation() = Eigen::Vector3d(pose[0], pose[1], pose[2]);
  transform.linear() =
      Normalised(Eigen::Quaterniond(pose[3], pose[4], pose[5], pose[6])).toRotationMatrix();
  return transform;
}

Pose TransformToPoseArray(const Eigen::Isometry3d& transform) {
  const Eigen::Quaterniond q = Normalised(Eigen::Quaterniond(transform.linear()));
  const Eigen::Vector3d& p = transform.translation();
  return {p.x(), p.y(), p.z(), q.w(), q.x(), q.y(), q.z()};
}

// A world-frame pose in the base frame of an arm at `translation`.
Pose InBase(Pose pose, const std::array<double, 3>& translation) {
  for (std::size_t i = 0; i < 3; ++i) pose[i] -= translation[i];
  return pose;
}

bool Reached(const Eigen::Isometry3d& now, const Eigen::Isometry3d& goal) {
  const double distance = (now.translation() - goal.translation()).norm();
  const Eigen::Quaterniond e =
      Eigen::Quaterniond(goal.linear()).conjugate() * Eigen::Quaterniond(now.linear());
  const double angle = 2.0 * std::atan2(e.vec().norm(), std::abs(e.w()));
  return distance < kPositionTolerance && angle < kOrientationTolerance;
}

// std::this_thread::sleep_for goes on sleeping after a signal.
void SleepOneCycle() { std::this_thread::sleep_for(kCycle); }

}  // namespace

class BimanualPrimitives::Impl {
 public:
  explicit Impl(const RobotPair& pair) : robot_pair(&pair) {}
  virtual ~Impl() = default;

  void MoveTensioned(ReferenceArm ref_arm, const Pose& target, double tension_force,
                     double linear_vel, double angular_vel, double linear_acc,
                     double angular_acc) const;

  // Not owned; the pair outlives this object.
  const RobotPair* robot_pair;
};

void BimanualPrimitives::Impl::MoveTensioned(ReferenceArm ref_arm, const Pose& target,
                                             double tension_force, double linear_vel,
                                             double angular_vel, double linear_acc,
                                             double angular_acc) const {
  RobotPair::Impl* const pair =
      robot_pair != nullptr ? detail::RobotPairAccess::impl(*robot_pair) : nullptr;
  if (pair == nullptr) {
    throw std::runtime_error(kName + " Failed to access the original RobotPair instance");
  }

  // Every argument is checked before either arm is switched or moved: a
  // wrong one found later would leave the arms tensioned, or, for a
  // non-finite number, stepping without end.
  if (ref_arm != ReferenceArm::LEFT && ref_arm != ReferenceArm::RIGHT) {
    throw std::invalid_argument(kName + " Input parameter [ref_arm] is not set");
  }
  if (!std::isfinite(tension_force)) {
    throw std::invalid_argument(kName + " Input parameter [tension_force] is not a finite number");
  }
  const bool left = ref_arm == ReferenceArm::LEFT;
  const auto robots = pair->instances();
  const std::shared_ptr<vek::Robot> reference = left ? robots.first : robots.second;
  const std::shared_ptr<vek::Robot> follower = left ? robots.second : robots.first;
  const std::array<double, 3>& t_ref =
      left ? pair->translations_in_world.first : pair->translations_in_world.second;
  const std::array<double, 3>& t_fol =
      left ? pair->translations_in_world.second : pair->translations_in_world.first;
  const Pose reference_command = InBase(target, t_ref);
  // The reference arm's own check of the command it will get: the target's
  // numbers and quaternion and the four limits, of which the follower's
  // commands use linear_vel and angular_vel.
  const auto check_command =
      vek::detail::RobotAccess::ArgumentCheck(&vek::Robot::Impl::CheckSendCartesianMotionForce);
  check_command(*reference, reference_command, kZero, kZero, linear_vel, angular_vel, linear_acc,
                angular_acc);

  const auto modes = pair->mode();
  if (modes.first != kMode || modes.second != kMode) pair->SwitchMode({kMode, kMode});

  // Tension: both TCPs step along the line between them, the first arm's
  // away from the second's for a positive error.
  Eigen::Isometry3d a = PoseArrayToTransform(pair->states().first.tcp_pose);
  Eigen::Isometry3d b = PoseArrayToTransform(pair->states().second.tcp_pose);
  Eigen::Vector3d u = b.translation() - a.translation();
  const double squared_distance = u.squaredNorm();
  if (squared_distance > 0) {
    u /= std::sqrt(squared_distance);
  } else if (squared_distance == 0 && !(std::abs(tension_force) < kTensionBand)) {
    // No line to measure along: the measured tension would stay 0.
    throw std::logic_error(kName + " The two TCPs coincide: there is no line to tension along");
  }
  while (true) {
    const Wrench wrench = pair->states().first.ext_wrench_in_world;
    const Eigen::Vector3d force(wrench[0], wrench[1], wrench[2]);
    if (!force.allFinite()) {
      throw std::runtime_error(kName + " Measured external force is not a finite number");
    }
    const double error = tension_force - force.dot(u);
    if (std::abs(error) < kTensionBand) break;
    const double step = std::copysign(1.0, error) * kTensionStep;
    a.translation() -= step * u;
    b.translation() += step * u;
    pair->SendCartesianMotionForce({TransformToPoseArray(a), TransformToPoseArray(b)}, kZeroPair,
                                   kZeroPair, {kTensionLinearVel, kTensionLinearVel},
                                   {kTensionAngularVel, kTensionAngularVel},
                                   {kLinearAcc, kLinearAcc}, {kAngularAcc, kAngularAcc});
    SleepOneCycle();
  }

  // Follow: the reference arm goes to the target; the follower keeps the
  // pose relative to it that it had when the tension was reached.
  const Eigen::Isometry3d relative = (left ? a : b).inverse(Eigen::Isometry) * (left ? b : a);
  const Eigen::Isometry3d goal = PoseArrayToTransform(target);
  auto next_reference_send = std::chrono::steady_clock::now();
  while (true) {
    if (std::chrono::steady_clock::now() >= next_reference_send) {
      reference->SendCartesianMotionForce(reference_command, kZero, kZero, linear_vel, angular_vel,
                                          linear_acc, angular_acc);
      next_reference_send += kReferenceResendPeriod;
    }
    const auto states = pair->states();
    const Eigen::Isometry3d now =
        PoseArrayToTransform(left ? states.first.tcp_pose : states.second.tcp_pose);
    follower->SendCartesianMotionForce(InBase(TransformToPoseArray(now * relative), t_fol), kZero,
                                       kZero, linear_vel, angular_vel, kLinearAcc, kAngularAcc);
    SleepOneCycle();
    if (Reached(now, goal)) return;
  }
}

BimanualPrimitives::BimanualPrimitives(const RobotPair& robot_pair)
    : impl_(std::make_unique<Impl>(robot_pair)) {}

BimanualPrimitives::~BimanualPrimitives() = default;

void BimanualPrimitives::MoveTensioned(ReferenceArm ref_arm, const std::array<double, 7>& target,
                                       double tension_force, double linear_vel, double angular_vel,
                                       double linear_acc, double angular_acc) {
  impl_->MoveTensioned(ref_arm, target, tension_force, linear_vel, angular_vel, linear_acc,
                       angular_acc);
}

}  // namespace quiral::bivek
