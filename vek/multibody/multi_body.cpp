#include "vek/multibody/multi_body.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace quiral::vek::multibody {
namespace {

void CheckJointVector(const Eigen::Ref<const Eigen::VectorXd>& values, std::size_t dof,
                      const char* what) {
  const bool sized = static_cast<std::size_t>(values.size()) == dof;
  if (sized && values.allFinite()) return;
  throw std::invalid_argument(
      std::string("[quiral::vek::multibody::MultiBody::Update] ") +
      (sized ? std::string("Vector [") + what + "] holds a non-finite value"
             : std::string("Size of vector [") + what + "] is " + std::to_string(values.size()) +
                   ", expected " + std::to_string(dof)));
}

}  // namespace

MultiBody::MultiBody(Tree tree) : tree_(std::move(tree)) {
  const auto& bodies = tree_.bodies();
  const auto n = static_cast<Eigen::Index>(dof());
  body_of_joint_.resize(n);
  parent_joint_.resize(n);
  last_joint_.resize(bodies.size());
  local_inertias_.resize(bodies.size());
  for (std::size_t b = 0; b < bodies.size(); ++b) {
    const Body& body = bodies[b];
    const int above = body.parent < 0 ? -1 : last_joint_[body.parent];
    last_joint_[b] = above;
    if (body.coordinate >= 0) {
      body_of_joint_[body.coordinate] = static_cast<int>(b);
      parent_joint_[body.coordinate] = above;
      last_joint_[b] = body.coordinate;
    }
    // Parallel-axis shift of the inertia from the centre of mass to the origin.
    const Eigen::Matrix3d c = detail::Skew(body.com);
    local_inertias_[b] = {body.mass, body.mass * body.com, body.inertia - body.mass * c * c};
  }

  poses_.assign(bodies.size(), Eigen::Isometry3d::Identity());
  body_velocities_.assign(bodies.size(), Vector6d::Zero());
  axes_.setZero(6, n);
  axis_rates_.setZero(6, n);
  inertias_.resize(bodies.size());
  composites_.resize(bodies.size());
  composite_axes_.setZero(6, n);
  mass_.setZero(n, n);
  coriolis_matrix_.setZero(n, n);
  gravity_torques_.setZero(n);
  coriolis_torques_.setZero(n);
  effects_.setZero(n);
  accelerations_.assign(bodies.size(), Vector6d::Zero());
  forces_.assign(bodies.size(), Vector6d::Zero());
  coriolis_factors_.resize(bodies.size());
  coriolis_rows_.setZero(6, n);
  coriolis_columns_.setZero(6, n);
  Update(Eigen::VectorXd::Zero(n), Eigen::VectorXd::Zero(n));
}

void MultiBody::set_gravity(const Eigen::Vector3d& gravity) {
  if (!gravity.allFinite()) {
    throw std::invalid_argument(
        "[quiral::vek::multibody::MultiBody::set_gravity] The gravity holds a non-finite value");
  }
  gravity_ = gravity;
  gravity_ready_ = effects_ready_ = false;
}

void MultiBody::Update(const Eigen::Ref<const Eigen::VectorXd>& positions,
                       const Eigen::Ref<const Eigen::VectorXd>& velocities) {
  CheckJointVector(positions, dof(), "positions");
  CheckJointVector(velocities, dof(), "velocities");
  q_ = positions;
  qdot_ = velocities;
  const auto& bodies = tree_.bodies();
  for (std::size_t b = 1; b < bodies.size(); ++b) {
    const Body& body = bodies[b];
    const Eigen::Isometry3d& parent = poses_[body.parent];
    Eigen::Matrix3d rotation = parent.linear() * body.origin.linear();
    Eigen::Vector3d position = parent.translation() + parent.linear() * body.origin.translation();
    Vector6d velocity = body_velocities_[body.parent];
    if (const int i = body.coordinate; i >= 0) {
      const Eigen::Vector3d axis = rotation * body.axis;
      Vector6d motion;
      if (body.joint_type == JointType::kRevolute) {
        motion << axis, position.cross(axis);
        rotation *= Eigen::AngleAxisd(q_[i], body.axis).toRotationMatrix();
      } else {
        motion << Eigen::Vector3d::Zero(), axis;
        position += q_[i] * axis;
      }
      velocity += qdot_[i] * motion;
      axes_.col(i) = motion;
      axis_rates_.col(i) = detail::CrossMotion(velocity, motion);
    }
    poses_[b].linear() = rotation;
    poses_[b].translation() = position;
    body_velocities_[b] = velocity;
  }
  inertias_ready_ = mass_ready_ = coriolis_matrix_ready_ = gravity_ready_ = coriolis_ready_ =
      effects_ready_ = false;
}

template <typename Visit>
void MultiBody::ForEachSupportingJoint(std::size_t body, Visit visit) const {
  for (int i = last_joint_[body]; i >= 0; i = parent_joint_[i]) visit(i);
}

void MultiBody::BodyJacobian(std::size_t body, Jacobian& out) const {
  out.setZero(6, axes_.cols());
  const Eigen::Vector3d& p = poses_[body].translation();
  ForEachSupportingJoint(body, [&](int i) {
    const auto axis = axes_.col(i);
    out.col(i) << axis.tail<3>() + axis.head<3>().cross(p), axis.head<3>();
  });
}

void MultiBody::BodyJacobianDot(std::size_t body, Jacobian& out) const {
  out.setZero(6, axes_.cols());
  const Eigen::Vector3d& p = poses_[body].translation();
  const Vector6d& v = body_velocities_[body];
  const Eigen::Vector3d p_dot = v.tail<3>() + v.head<3>().cross(p);
  ForEachSupportingJoint(body, [&](int i) {
    const auto axis = axes_.col(i);
    const auto rate = axis_rates_.col(i);
    out.col(i) << rate.tail<3>() + rate.head<3>().cross(p) + axis.head<3>().cross(p_dot),
        rate.head<3>();
  });
}

}  // namespace quiral::vek::multibody
