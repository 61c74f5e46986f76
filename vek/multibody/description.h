// The links and joints of a robot as its URDF states them, before they are
// ordered into a tree.
#pragma once

#include <string>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>

namespace quiral::vek::multibody {

enum class JointType { kRevolute, kPrismatic, kFixed };

// Mass properties of a link: the mass, the frame of the centre of mass in
// the link frame, and the rotational inertia about the centre of mass in
// that frame's axes.
struct Inertial {
  double mass = 0.0;
  Eigen::Isometry3d frame = Eigen::Isometry3d::Identity();
  Eigen::Matrix3d inertia = Eigen::Matrix3d::Zero();
};

struct Link {
  std::string name;
  Inertial inertial;  // all zero for a massless link
};

// A joint moves its child link relative to its parent link: the child frame
// is origin * motion, where the motion is a rotation about `axis` (revolute)
// or a translation along it (prismatic), both given in the child frame.
struct Joint {
  std::string name;
  JointType type = JointType::kFixed;
  std::string parent;
  std::string child;
  Eigen::Isometry3d origin = Eigen::Isometry3d::Identity();
  Eigen::Vector3d axis = Eigen::Vector3d::UnitX();
};

// Links and joints in the order of their document. A tree built from it
// takes each link's children in joint order, so a link added here becomes
// the last child of its parent.
struct Description {
  std::vector<Link> links;
  std::vector<Joint> joints;

  // Adds link `name` with `inertial`, fixed to link `parent` by joint
  // `joint` at `origin` (the new link's frame in the parent's frame). The
  // names are checked when the tree is built.
  void AddFixedLink(const std::string& name, const Inertial& inertial, const std::string& parent,
                    const std::string& joint, const Eigen::Isometry3d& origin);
};

}  // namespace quiral::vek::multibody
