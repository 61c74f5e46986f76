#include "vek/multibody/tree.h"

#include <stdexcept>
#include <unordered_set>
#include <utility>

namespace quiral::vek::multibody {
namespace {

[[noreturn]] void Fail(const std::string& message) {
  throw std::invalid_argument("[quiral::vek::multibody::Tree] " + message);
}

bool Moves(JointType type) { return type != JointType::kFixed; }

}  // namespace

Tree::Tree(const Description& description) {
  const auto& links = description.links;
  const auto& joints = description.joints;
  if (links.empty()) Fail("The robot has no links");

  std::unordered_map<std::string, std::size_t> link_index;
  for (std::size_t i = 0; i < links.size(); ++i) {
    if (links[i].name.empty()) Fail("A link has an empty name");
    if (!link_index.emplace(links[i].name, i).second) {
      Fail("Link [" + links[i].name + "] is defined more than once");
    }
  }

  // Per link: the joint above it, and the joints below it in their order.
  std::vector<int> parent_joint(links.size(), -1);
  std::vector<std::vector<std::size_t>> child_joints(links.size());
  std::unordered_set<std::string> joint_names;
  for (std::size_t j = 0; j < joints.size(); ++j) {
    const Joint& joint = joints[j];
    if (joint.name.empty()) Fail("A joint has an empty name");
    if (!joint_names.insert(joint.name).second) {
      Fail("Joint [" + joint.name + "] is defined more than once");
    }
    for (const std::string* link : {&joint.parent, &joint.child}) {
      if (!link_index.count(*link)) {
        Fail("Joint [" + joint.name + "] names the unknown link [" + *link + "]");
      }
    }
    int& above = parent_joint[link_index[joint.child]];
    if (above >= 0) {
      Fail("Link [" + joint.child + "] is the child of both joints [" + joints[above].name +
           "] and [" + joint.name + "]");
    }
    above = static_cast<int>(j);
    child_joints[link_index[joint.parent]].push_back(j);
    if (Moves(joint.type) && !(joint.axis.allFinite() && joint.axis.norm() > 0.0)) {
      Fail("Joint [" + joint.name + "] has a zero or non-finite axis");
    }
  }

  std::vector<std::size_t> roots;
  std::string root_names;
  for (std::size_t i = 0; i < links.size(); ++i) {
    if (parent_joint[i] >= 0) continue;
    roots.push_back(i);
    root_names += (root_names.empty() ? "[" : ", [") + links[i].name + "]";
  }
  if (roots.empty()) Fail("Every link has a parent joint: the joints form a cycle");
  if (roots.size() > 1) Fail("Links " + root_names + " have no parent joint: expected one root");

  // Depth-first pre-order; children are pushed in reverse to pop in order.
  std::vector<int> body_of_link(links.size(), -1);
  std::vector<std::size_t> stack{roots.front()};
  while (!stack.empty()) {
    const std::size_t l = stack.back();
    stack.pop_back();
    body_of_link[l] = static_cast<int>(bodies_.size());
    Body body;
    body.name = links[l].name;
    const Inertial& inertial = links[l].inertial;
    body.mass = inertial.mass;
    body.com = inertial.frame.translation();
    body.inertia = inertial.frame.linear() * inertial.inertia * inertial.frame.linear().transpose();
    if (parent_joint[l] >= 0) {
      const Joint& joint = joints[parent_joint[l]];
      body.parent = body_of_link[link_index[joint.parent]];
      body.joint = joint.name;
      body.joint_type = joint.type;
      body.origin = joint.origin;
      if (Moves(joint.type)) {
        body.axis = joint.axis.normalized();
        body.coordinate = static_cast<int>(joint_names_.size());
        joint_index_.emplace(joint.name, joint_names_.size());
        joint_names_.push_back(joint.name);
      }
    }
    body_index_.emplace(body.name, bodies_.size());
    body_names_.push_back(body.name);
    bodies_.push_back(std::move(body));
    for (auto j = child_joints[l].rbegin(); j != child_joints[l].rend(); ++j) {
      stack.push_back(link_index[joints[*j].child]);
    }
  }
  for (std::size_t i = 0; i < links.size(); ++i) {
    if (body_of_link[i] < 0) {
      Fail("Link [" + links[i].name + "] is not connected to the base [" +
           links[roots.front()].name + "]: the joints form a cycle");
    }
  }
}

std::optional<std::size_t> Tree::body_index(const std::string& link) const {
  const auto found = body_index_.find(link);
  if (found == body_index_.end()) return std::nullopt;
  return found->second;
}

std::optional<std::size_t> Tree::joint_index(const std::string& joint) const {
  const auto found = joint_index_.find(joint);
  if (found == joint_index_.end()) return std::nullopt;
  return found->second;
}

}  // namespace quiral::vek::multibody
