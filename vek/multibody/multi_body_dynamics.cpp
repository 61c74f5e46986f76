// Joint-space dynamics from the world-frame quantities of the last Update.
//
// With S_i the motion axis of robot joint i, I_b the spatial inertia of
// body b and I^c the composite inertia of a body and its subtree (all in
// the world frame, where composites are plain sums), for joints i below j:
//   M_ij = S_i . I^c_i S_j,
// and the Coriolis matrix is C = sum_b J_b^T (I_b dJ_b/dt + B_b J_b) with
//   B_b = 1/2 (v_b x* I_b - I_b v_b x + (I_b v_b) xbar),
// where (f xbar) m = m x* f. B_b v_b = v_b x* I_b v_b gives C qdot the
// Coriolis and centrifugal torques, and B_b + B_b^T = dI_b/dt makes
// dM/dt - 2 C skew-symmetric. With v = (w, u), I = (m, h, Ibar) and
// momentum I v = (n, p), B reduces to the blocks
//   B = [[A, 0], [-[p]x, 0]],
//   A = 1/2 ([w]x Ibar - Ibar [w]x - h u^T - u h^T + 2 (u . h) E - [n]x),
// so only A and p are summed over subtrees.
#include "vek/multibody/multi_body.h"

namespace quiral::vek::multibody {

using detail::CrossForce;
using detail::Skew;

void MultiBody::ComputeInertias() {
  if (inertias_ready_) return;
  const auto& bodies = tree_.bodies();
  for (std::size_t b = 0; b < bodies.size(); ++b) {
    inertias_[b] = local_inertias_[b].Transformed(poses_[b].linear(), poses_[b].translation());
    composites_[b] = inertias_[b];
  }
  for (std::size_t b = bodies.size() - 1; b > 0; --b)
    composites_[bodies[b].parent] += composites_[b];
  for (Eigen::Index i = 0; i < axes_.cols(); ++i) {
    composite_axes_.col(i) = composites_[body_of_joint_[i]] * Vector6d(axes_.col(i));
  }
  inertias_ready_ = true;
}

const Eigen::MatrixXd& MultiBody::MassMatrix() {
  if (mass_ready_) return mass_;
  ComputeInertias();
  for (int i = 0; i < mass_.rows(); ++i) {
    for (int j = i; j >= 0; j = parent_joint_[j]) {
      mass_(i, j) = mass_(j, i) = composite_axes_.col(i).dot(axes_.col(j));
    }
  }
  mass_ready_ = true;
  return mass_;
}

const Eigen::VectorXd& MultiBody::GravityTorques() {
  if (gravity_ready_) return gravity_torques_;
  ComputeInertias();
  Vector6d lift;
  lift << Eigen::Vector3d::Zero(), -gravity_;
  for (Eigen::Index i = 0; i < gravity_torques_.size(); ++i) {
    gravity_torques_[i] = axes_.col(i).dot(composites_[body_of_joint_[i]] * lift);
  }
  gravity_ready_ = true;
  return gravity_torques_;
}

const Eigen::VectorXd& MultiBody::CoriolisTorques() {
  if (coriolis_ready_) return coriolis_torques_;
  ComputeInertias();
  // Newton-Euler at zero joint acceleration and without gravity.
  const auto& bodies = tree_.bodies();
  for (std::size_t b = 1; b < bodies.size(); ++b) {
    Vector6d acceleration = accelerations_[bodies[b].parent];
    if (const int i = bodies[b].coordinate; i >= 0) acceleration += qdot_[i] * axis_rates_.col(i);
    accelerations_[b] = acceleration;
    const Vector6d& v = body_velocities_[b];
    forces_[b] = inertias_[b] * acceleration + CrossForce(v, inertias_[b] * v);
  }
  for (std::size_t b = bodies.size() - 1; b > 0; --b) forces_[bodies[b].parent] += forces_[b];
  for (Eigen::Index i = 0; i < coriolis_torques_.size(); ++i) {
    coriolis_torques_[i] = axes_.col(i).dot(forces_[body_of_joint_[i]]);
  }
  coriolis_ready_ = true;
  return coriolis_torques_;
}

const Eigen::VectorXd& MultiBody::NonLinearEffects() {
  if (effects_ready_) return effects_;
  effects_ = CoriolisTorques() + GravityTorques();
  effects_ready_ = true;
  return effects_;
}

const Eigen::MatrixXd& MultiBody::CoriolisMatrix() {
  if (coriolis_matrix_ready_) return coriolis_matrix_;
  ComputeInertias();
  const auto& bodies = tree_.bodies();
  for (std::size_t b = 1; b < bodies.size(); ++b) {
    const detail::RigidInertia& inertia = inertias_[b];
    const Eigen::Vector3d w = body_velocities_[b].head<3>(), u = body_velocities_[b].tail<3>();
    const Vector6d momentum = inertia * body_velocities_[b];
    const Eigen::Matrix3d wi = Skew(w) * inertia.rotational;
    const Eigen::Matrix3d hu = inertia.h * u.transpose();
    CoriolisFactor& factor = coriolis_factors_[b];
    factor.angular = 0.5 * (wi + wi.transpose() - hu - hu.transpose() - Skew(momentum.head<3>()));
    factor.angular.diagonal().array() += u.dot(inertia.h);
    factor.momentum = momentum.tail<3>();
  }
  for (std::size_t b = bodies.size() - 1; b > 0; --b) {
    if (const int parent = bodies[b].parent; parent > 0) {
      coriolis_factors_[parent].angular += coriolis_factors_[b].angular;
      coriolis_factors_[parent].momentum += coriolis_factors_[b].momentum;
    }
  }
  // Per joint: rows B^T S (angular part only) and columns I^c dS/dt + B S.
  for (Eigen::Index i = 0; i < axes_.cols(); ++i) {
    const int b = body_of_joint_[i];
    const CoriolisFactor& factor = coriolis_factors_[b];
    const Eigen::Vector3d w = axes_.col(i).head<3>(), u = axes_.col(i).tail<3>();
    coriolis_rows_.col(i) << factor.angular.transpose() * w + factor.momentum.cross(u),
        Eigen::Vector3d::Zero();
    coriolis_columns_.col(i) = composites_[b] * Vector6d(axis_rates_.col(i));
    coriolis_columns_.col(i).head<3>() += factor.angular * w;
    coriolis_columns_.col(i).tail<3>() -= factor.momentum.cross(w);
  }
  for (int i = 0; i < coriolis_matrix_.rows(); ++i) {
    for (int j = i; j >= 0; j = parent_joint_[j]) {
      coriolis_matrix_(i, j) =
          composite_axes_.col(i).dot(axis_rates_.col(j)) + coriolis_rows_.col(i).dot(axes_.col(j));
      if (j != i) coriolis_matrix_(j, i) = axes_.col(j).dot(coriolis_columns_.col(i));
    }
  }
  coriolis_matrix_ready_ = true;
  return coriolis_matrix_;
}

}  // namespace quiral::vek::multibody
