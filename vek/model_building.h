// Internal: the arm's rigid-body model built from the robot's URDF text and
// its mounted tool. No remote call; Model::Impl fetches the inputs.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <Eigen/Core>

#include "vek/model_link.h"
#include "vek/multibody/multi_body.h"

namespace quiral::vek {

// The tool name that means no tool is mounted.
inline constexpr char kNoTool[] = "Flange";

// Parses `urdf` into a fixed-base tree rooted at its root link. Unless the
// tool is "Flange", a link "tool" is fixed to link "flange" by joint
// "tool_joint" at the tool's TCP pose (its quaternion normalised; an
// all-zero quaternion means no rotation against the flange); it
// carries the tool's mass, with the centre of mass and the inertia about
// it, both given in the flange frame, carried into the TCP frame. Mounted
// last, the tool is the last child of "flange" and takes no coordinate, so
// the robot joints are the tree's moving joints in body order whether a
// tool is mounted or not. The model starts at zero positions and
// velocities with `gravity`.
//
// Throws std::runtime_error "[quiral::vek::Model] " + reason for a URDF
// that cannot be read into a tree, a URDF without "flange" when a tool is
// mounted and a tool with a non-finite value or a negative mass;
// std::logic_error "[quiral::vek::Model] Incorrect robot
// degrees of freedom parsed from URDF: [n], expecting [dof]".
std::unique_ptr<multibody::MultiBody> BuildMultiBody(const std::string& urdf,
                                                     const ModelLink::Tool& tool, std::size_t dof,
                                                     const Eigen::Vector3d& gravity);

}  // namespace quiral::vek
