// A robot's links ordered into a fixed-base tree of rigid bodies.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>

#include "vek/multibody/description.h"

namespace quiral::vek::multibody {

// One link as a body of the tree, with the joint that connects it to its
// parent body.
struct Body {
  std::string name;
  int parent = -1;    // index of the parent body; -1 for the base
  std::string joint;  // the joint to the parent; empty for the base
  JointType joint_type = JointType::kFixed;
  Eigen::Isometry3d origin = Eigen::Isometry3d::Identity();  // joint frame in the parent frame
  Eigen::Vector3d axis = Eigen::Vector3d::UnitX();           // unit axis in the body frame
  int coordinate = -1;  // robot joint index of a moving joint; -1 for a fixed joint
  double mass = 0.0;
  Eigen::Vector3d com = Eigen::Vector3d::Zero();      // centre of mass in the body frame
  Eigen::Matrix3d inertia = Eigen::Matrix3d::Zero();  // about the centre of mass, body axes
};

// The base is the one link that is no joint's child. Bodies are numbered
// depth first from the base (pre-order), the children of a link taken in
// the order of their joints in the description, so every parent comes
// before its children. The moving (revolute and prismatic) joints in body
// order are the robot joints 0 .. dof-1, the coordinates of the positions
// and velocities.
class Tree {
 public:
  // Throws std::invalid_argument, text beginning "[quiral::vek::multibody::
  // Tree] ", for a description without links, an empty or repeated link or
  // joint name, a joint naming an unknown link, a link with several parent
  // joints, a zero or non-finite moving axis, no or several roots, and
  // joints that form a cycle.
  explicit Tree(const Description& description);

  const std::vector<Body>& bodies() const { return bodies_; }
  std::size_t dof() const { return joint_names_.size(); }
  // Names of the bodies in body order, and of the moving joints in robot
  // joint order.
  const std::vector<std::string>& body_names() const { return body_names_; }
  const std::vector<std::string>& joint_names() const { return joint_names_; }

  std::optional<std::size_t> body_index(const std::string& link) const;
  // The robot joint index of a moving joint; none for fixed or unknown ones.
  std::optional<std::size_t> joint_index(const std::string& joint) const;

 private:
  std::vector<Body> bodies_;
  std::vector<std::string> body_names_;
  std::vector<std::string> joint_names_;
  std::unordered_map<std::string, std::size_t> body_index_;
  std::unordered_map<std::string, std::size_t> joint_index_;
};

}  // namespace quiral::vek::multibody
