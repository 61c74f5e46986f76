#include "vek/multibody/description.h"

namespace quiral::vek::multibody {

void Description::AddFixedLink(const std::string& name, const Inertial& inertial,
                               const std::string& parent, const std::string& joint,
                               const Eigen::Isometry3d& origin) {
  links.push_back({name, inertial});
  joints.push_back({joint, JointType::kFixed, parent, name, origin, Eigen::Vector3d::UnitX()});
}

}  // namespace quiral::vek::multibody
