// The robots of the multibody tests and benchmark, and their reference
// chains built with Orocos KDL.
#pragma once

#include <string>

#include <kdl/chain.hpp>

#include "vek/multibody/description.h"

namespace quiral::vek::multibody::testing_util {

// The text of a URDF of this directory ("arm7.urdf", "rail_arm.urdf").
std::string ReadTestUrdf(const std::string& name);

// The chain from the description's root to link `tip`: one segment per
// joint, named after its child link, ending at the child link frame and
// carrying the child link's inertia. The inertial frames are applied with
// KDL's own transforms.
KDL::Chain KdlChain(const Description& description, const std::string& tip);

}  // namespace quiral::vek::multibody::testing_util
