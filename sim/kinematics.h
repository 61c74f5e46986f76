// Kinematics of the simulated arm.
//
// The arm is a serial chain of revolute joints standing on the base origin.
// Joint i sits `offsets[i]` metres above joint i-1 along the z axis of the
// link before it and turns about its own z axis when i is even and about its
// own y axis when i is odd. The flange sits `flange_offset` metres above the
// last joint; the tool centre point is the flange frame moved by the active
// tool's TCP pose. With every joint at zero the arm points straight up.
//
// The same chain is written out as the robot's URDF, with one box-shaped
// collision mesh per link, so that a model built from the URDF agrees with
// the poses that the simulator reports.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Geometry>

namespace quiral::sim {

// [x, y, z, qw, qx, qy, qz]
using PoseVec = std::array<double, 7>;

Eigen::Isometry3d PoseToIsometry(const PoseVec& pose);
PoseVec IsometryToPose(const Eigen::Isometry3d& iso);

class ArmKinematics {
 public:
  explicit ArmKinematics(size_t dof);

  size_t dof() const { return offsets_.size(); }

  // Flange frame in the base frame.
  Eigen::Isometry3d Flange(const std::vector<double>& q) const;

  // Geometric Jacobian (linear rows first) of a point fixed to the flange,
  // `tcp` being that point's frame relative to the flange.
  Eigen::MatrixXd Jacobian(const std::vector<double>& q, const Eigen::Isometry3d& tcp) const;

  // Damped least-squares inverse kinematics of the frame `tcp` (relative to
  // the flange) towards `target`, starting from `q` and keeping every joint
  // inside [q_min, q_max]. Returns true when the remaining error is below
  // 1 mm and 1 mrad (position only when `position_only`).
  bool SolveIk(const Eigen::Isometry3d& target, const Eigen::Isometry3d& tcp,
               const std::vector<double>& q_min, const std::vector<double>& q_max,
               bool position_only, int max_iterations, std::vector<double>& q) const;

  // URDF of the chain: links "base_link", "link1" ... "linkN" and "flange",
  // revolute joints "joint1" ... "jointN", collision meshes
  // "package://meshes/<link>.stl".
  std::string Urdf(const std::string& robot_name, const std::vector<double>& q_min,
                   const std::vector<double>& q_max, const std::vector<double>& tau_max,
                   const std::vector<double>& max_velocity) const;

  // Names of the links that carry a collision mesh, in chain order.
  std::vector<std::string> MeshLinks() const;

  // Binary STL of the collision box of one link of MeshLinks().
  std::vector<uint8_t> LinkMeshStl(size_t link_index) const;

 private:
  std::vector<double> offsets_;
  double flange_offset_;
};

}  // namespace quiral::sim
