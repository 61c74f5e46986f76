// Kinematics and dynamics of a fixed-base tree at one state of its joints.
#pragma once

#include <cstddef>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>

#include "vek/multibody/spatial.h"
#include "vek/multibody/tree.h"

namespace quiral::vek::multibody {

// 6 x dof Jacobian matrices. At this interface rows 0-2 are linear and rows
// 3-5 angular velocity; the spatial vectors inside are angular first
// (spatial.h), and a Jacobian is written in this order as it is assembled.
using Jacobian = Eigen::Matrix<double, 6, Eigen::Dynamic>;

// A tree with joint positions q and velocities qdot in robot joint order
// (radians or metres, and their rates). Update computes the poses, the
// joint axes and the body velocities once; Jacobians are assembled from
// them per query, and the dynamics quantities are computed on their first
// query after an Update and kept until the next one. Everything is in the
// world frame, which is the base body's frame. The dynamics follow
// M qddot + C qdot + gravity torques = joint torques. Storage is sized at
// construction: no query allocates (a Jacobian argument is resized to
// 6 x dof only when it has another size). Not thread safe.
class MultiBody {
 public:
  // Starts at zero positions and velocities with gravity (0, 0, -9.81).
  explicit MultiBody(Tree tree);

  const Tree& tree() const { return tree_; }
  std::size_t dof() const { return tree_.dof(); }

  // Gravity acceleration in the world frame (m/s^2). A non-finite vector
  // throws std::invalid_argument.
  void set_gravity(const Eigen::Vector3d& gravity);
  const Eigen::Vector3d& gravity() const { return gravity_; }

  // Throws std::invalid_argument, text beginning "[quiral::vek::multibody::
  // MultiBody::Update] ", when a vector's size differs from dof() or it
  // holds a non-finite value; the state is then unchanged.
  void Update(const Eigen::Ref<const Eigen::VectorXd>& positions,
              const Eigen::Ref<const Eigen::VectorXd>& velocities);
  const Eigen::VectorXd& positions() const { return q_; }
  const Eigen::VectorXd& velocities() const { return qdot_; }

  // The body frame in the world frame. `body` indexes tree().bodies().
  const Eigen::Isometry3d& pose(std::size_t body) const { return poses_[body]; }

  // The Jacobian of the body frame's origin: J qdot is the linear velocity
  // of that point and the angular velocity of the body, in the world frame.
  // Columns of joints that do not move the body are zero.
  void BodyJacobian(std::size_t body, Jacobian& out) const;
  // The time derivative of BodyJacobian at the current velocities.
  void BodyJacobianDot(std::size_t body, Jacobian& out) const;

  // Joint-space mass matrix M(q).
  const Eigen::MatrixXd& MassMatrix();
  // Coriolis matrix C(q, qdot): C qdot holds the Coriolis and centrifugal
  // torques and dM/dt - 2 C is skew-symmetric.
  const Eigen::MatrixXd& CoriolisMatrix();
  // Torques that hold the tree against gravity.
  const Eigen::VectorXd& GravityTorques();
  // Coriolis and centrifugal torques, C qdot.
  const Eigen::VectorXd& CoriolisTorques();
  // Inverse dynamics at zero acceleration: C qdot + gravity torques.
  const Eigen::VectorXd& NonLinearEffects();

 private:
  using Vector6d = detail::Vector6d;
  using Vectors6d = std::vector<Vector6d>;

  void ComputeInertias();
  // Columns of the joints that move `body`, from the nearest to the base.
  template <typename Visit>
  void ForEachSupportingJoint(std::size_t body, Visit visit) const;

  Tree tree_;
  Eigen::Vector3d gravity_{0.0, 0.0, -9.81};
  std::vector<int> body_of_joint_;  // per robot joint: its child body
  std::vector<int> parent_joint_;   // per robot joint: the nearest moving joint above; -1
  std::vector<int> last_joint_;     // per body: the nearest moving joint at or above; -1
  std::vector<detail::RigidInertia> local_inertias_;  // per body, in its own frame

  // State of the last Update.
  Eigen::VectorXd q_, qdot_;
  std::vector<Eigen::Isometry3d> poses_;
  Vectors6d body_velocities_;
  Jacobian axes_, axis_rates_;  // per robot joint: the motion axis and its time derivative

  // Dynamics, computed on demand.
  bool inertias_ready_ = false, mass_ready_ = false, coriolis_matrix_ready_ = false,
       gravity_ready_ = false, coriolis_ready_ = false, effects_ready_ = false;
  std::vector<detail::RigidInertia> inertias_, composites_;  // per body: own, own + subtree
  Jacobian composite_axes_;  // per robot joint: composite inertia times axis
  Eigen::MatrixXd mass_, coriolis_matrix_;
  Eigen::VectorXd gravity_torques_, coriolis_torques_, effects_;
  Vectors6d accelerations_, forces_;
  // Per body, summed over its subtree: the blocks of the Coriolis factor B
  // (see multi_body_dynamics.cpp).
  struct CoriolisFactor {
    Eigen::Matrix3d angular = Eigen::Matrix3d::Zero();
    Eigen::Vector3d momentum = Eigen::Vector3d::Zero();
  };
  std::vector<CoriolisFactor> coriolis_factors_;
  Jacobian coriolis_rows_, coriolis_columns_;
};

}  // namespace quiral::vek::multibody
