// quiral::vek::Model: the rigid-body kinematics and dynamics of one robot
// arm, built from the robot's own URDF and the tool mounted on its flange,
// both fetched from the robot's controller.
//
// The caller feeds joint positions and velocities with Update and asks for
// link poses, Jacobians and their time derivatives, the mass and Coriolis
// matrices and the gravity and Coriolis torques; every query answers for
// the state of the last Update. Joints are in the robot's joint order
// (external axes first), in radians or metres and their rates; everything
// is expressed in the robot's base frame. Link names are the URDF's, plus
// "tool" (the TCP frame, carrying the tool's mass) when a tool other than
// "Flange" is mounted. reachable and configuration_score are answered by
// the controller.
//
// Errors are exceptions whose text begins "[quiral::vek::Model] " for
// construction and Reload, "[quiral::vek::Model::<operation>] " otherwise.
//
// Thread safety: the model is guarded by one mutex, so a monitor thread and
// the caller may share a Model. Reload fetches and builds the new model
// without holding it and swaps it in at the end; the remote calls of
// reachable, configuration_score and the Sync operations hold no lock.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>

namespace quiral::vek {

class Robot;

class Model {
 public:
  // Fetches the robot's URDF and active tool and builds the model;
  // `gravity_vector` (m/s^2, base frame) drives g() and the dynamics. The
  // Robot's connection is shared, so the Model may outlive the Robot.
  // Throws std::runtime_error for a Robot without implementation or
  // connection and for a failed fetch or an unusable URDF or tool,
  // std::logic_error for the Starfloat model and for a URDF whose DoF differs
  // from the Robot's, std::invalid_argument for a non-finite gravity.
  Model(const Robot& robot, const Eigen::Vector3d& gravity_vector);
  virtual ~Model();

  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  // Fetches and builds the model again (after a tool change, say). On
  // failure it throws as the constructor does and the previous model stays
  // in use, whole. The new model starts at zero positions and velocities.
  void Reload();

  // Positions and velocities, DoF each; std::invalid_argument for another
  // size or a non-finite value, the model then unchanged.
  void Update(const std::vector<double>& positions, const std::vector<double>& velocities);

  // Joint-space mass matrix, DoF x DoF.
  Eigen::MatrixXd M();
  // Coriolis matrix, DoF x DoF: C * velocities are the Coriolis and
  // centrifugal torques, and dM/dt - 2C is skew-symmetric.
  Eigen::MatrixXd C();
  // Torques that hold the arm against gravity.
  Eigen::VectorXd g();
  // Coriolis and centrifugal torques.
  Eigen::VectorXd c();
  // 6 x DoF Jacobian of the link frame's origin, and its time derivative:
  // rows 0-2 give the origin's linear velocity, rows 3-5 the link's angular
  // velocity. std::invalid_argument for an unknown link.
  Eigen::MatrixXd J(const std::string& link);
  Eigen::MatrixXd dJ(const std::string& link);
  // The link frame in the base frame; std::invalid_argument for an unknown
  // link.
  Eigen::Isometry3d T(const std::string& link);
  // Every link, parents before children (depth first from the base).
  std::vector<std::string> link_names() const;

  // Asks the controller whether `pose` ([x, y, z, qw, qx, qy, qz]) is
  // reachable from `seed_positions` (DoF values); returns the flag and the
  // controller's joint solution. A seed of the wrong size, or a value in
  // either argument that is not finite or too large for the wire's 32-bit
  // float, throws std::invalid_argument before anything is sent.
  std::pair<bool, std::vector<double>> reachable(const std::array<double, 7>& pose,
                                                 const std::vector<double>& seed_positions,
                                                 bool free_orientation) const;
  // Two scores from 0 to 100 of the arm's present configuration, from the
  // controller's translational and rotational manipulability.
  std::pair<double, double> configuration_score() const;

  // Copy the joint origins of the robot's URDF into the template at the
  // path: joints the template names get the robot's `origin` xyz and rpy
  // (URDF, as text) or x, y, z, roll, pitch, yaw under `kinematics` (YAML,
  // as numbers). The file is replaced only once its new content is written
  // whole, keeping its permission bits (in place when its folder takes no
  // new file); every failure throws and leaves its content as it was (but
  // for an I/O error in the middle of a write in place). A joint entry of
  // the YAML template that is a scalar throws yaml-cpp's YAML::BadSubscript.
  // SyncKinematicsYAML returns the number of joints it updated.
  void SyncURDF(const std::string& template_urdf_path);
  std::size_t SyncKinematicsYAML(const std::string& template_yaml_path);

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace quiral::vek
