#include "tests/vek/multibody/test_models.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace quiral::vek::multibody::testing_util {
namespace {

KDL::Frame ToKdl(const Eigen::Isometry3d& pose) {
  KDL::Frame frame;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) frame.M(r, c) = pose.linear()(r, c);
    frame.p(r) = pose.translation()(r);
  }
  return frame;
}

}  // namespace

std::string ReadTestUrdf(const std::string& name) {
  std::ifstream file(std::string(QUIRAL_MULTIBODY_TEST_DIR) + "/" + name);
  if (!file) throw std::runtime_error("Cannot read test file " + name);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

KDL::Chain KdlChain(const Description& description, const std::string& tip) {
  std::vector<const Joint*> path;
  for (std::string link = tip;;) {
    const auto joint = std::find_if(description.joints.begin(), description.joints.end(),
                                    [&](const Joint& j) { return j.child == link; });
    if (joint == description.joints.end()) break;
    path.insert(path.begin(), &*joint);
    link = joint->parent;
  }
  KDL::Chain chain;
  for (const Joint* joint : path) {
    const Link& child = *std::find_if(description.links.begin(), description.links.end(),
                                      [&](const Link& l) { return l.name == joint->child; });
    const KDL::Frame origin = ToKdl(joint->origin);
    const KDL::Vector axis =
        origin.M * KDL::Vector(joint->axis.x(), joint->axis.y(), joint->axis.z());
    const KDL::Joint kdl_joint =
        joint->type == JointType::kFixed
            ? KDL::Joint(joint->name, KDL::Joint::None)
            : KDL::Joint(joint->name, origin.p, axis,
                         joint->type == JointType::kRevolute ? KDL::Joint::RotAxis
                                                             : KDL::Joint::TransAxis);
    const Eigen::Matrix3d& i = child.inertial.inertia;
    const KDL::RigidBodyInertia inertia =
        ToKdl(child.inertial.frame) *
        KDL::RigidBodyInertia(
            child.inertial.mass, KDL::Vector::Zero(),
            KDL::RotationalInertia(i(0, 0), i(1, 1), i(2, 2), i(0, 1), i(0, 2), i(1, 2)));
    chain.addSegment(KDL::Segment(child.name, kdl_joint, origin, inertia));
  }
  return chain;
}

}  // namespace quiral::vek::multibody::testing_util
