// Kinematics of the simulated arm.
//
// The robot is a serial chain standing on the base origin: first the
// external axes, then the arm. Each joint sits some distance above the one
// before along the z axis of the link before it. External axis k (0.1 m
// apart) is a carriage sliding along its x axis when k is even and a
// turntable turning about its z axis when k is odd. Arm joint i turns about
// its own z axis when i is even and about its own y axis when i is odd; for
// 7 arm joints the distances are 0.155, 0.210, 0.210, 0.195, 0.195, 0.110
// and 0.110 m, 0.2 m each otherwise. The flange sits 0.08 m above the last
// joint; the tool centre point is the flange frame moved by the active
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
  ArmKinematics(size_t dof_e, size_t dof_m);

  size_t dof() const { return joints_.size(); }

  // Flange frame in the base frame.
  Eigen::Isometry3d Flange(const std::vector<double>& q) const;

  // Geometric Jacobian (linear rows first) of a point fixed to the flange,
  // `tcp` being that point's frame relative to the flange.
  Eigen::MatrixXd Jacobian(const std::vector<double>& q, const Eigen::Isometry3d& tcp) const;

  // Damped least-squares inverse kinematics of the frame `tcp` (relative to
  // the flange) towards `target`, starting from `q` and keeping every joint
  // inside [q_min, q_max]. Returns true when the remaining error is below
  // `tolerance` in m and in rad (position only when `position_only`).
  bool SolveIk(const Eigen::Isometry3d& target, const Eigen::Isometry3d& tcp,
               const std::vector<double>& q_min, const std::vector<double>& q_max,
               bool position_only, int max_iterations, std::vector<double>& q,
               double tolerance = 1e-3) const;

  // URDF of the chain: links "base_link", "link1" ... "linkN" and "flange",
  // joints "joint1" ... "jointN" (joint i moves link i), collision meshes
  // "package://meshes/<link>.stl".
  std::string Urdf(const std::string& robot_name, const std::vector<double>& q_min,
                   const std::vector<double>& q_max, const std::vector<double>& tau_max,
                   const std::vector<double>& max_velocity) const;

  // Names of the links that carry a collision mesh, in chain order.
  std::vector<std::string> MeshLinks() const;

  // Binary STL of the collision box of one link of MeshLinks().
  std::vector<uint8_t> LinkMeshStl(size_t link_index) const;

 private:
  struct Joint {
    double offset;         // above the joint before, along its link's z axis
    Eigen::Vector3d axis;  // in the joint's own frame
    bool prismatic;
  };
  // Runs along the chain at positions q, calling visit(i, frame) with the
  // frame of joint i before its own motion; returns the flange frame.
  template <typename Visit>
  Eigen::Isometry3d Walk(const std::vector<double>& q, Visit visit) const;
  // Height of the collision box of link k (0: the base).
  double LinkLength(size_t k) const;

  std::vector<Joint> joints_;
  double flange_offset_;
};

}  // namespace quiral::sim
