// What a robot's URDF says about the placement of its links' collision
// meshes beyond the mesh files themselves: a collision origin that moves a
// mesh, a scale that resizes it. The collision checker uses each mesh file
// as it stands in the link's frame, so the monitor warns of both.
#pragma once

#include <string>
#include <vector>

namespace quiral::bivek {

struct CollisionMeshPlacement {
  std::string link;
  bool moved = false;   // the first collision's origin is not the identity
  bool scaled = false;  // its mesh has a scale other than "1 1 1"
};

// The links whose first collision mesh is moved or scaled, in document
// order. A number list that cannot be read counts as moving or scaling; a
// URDF that cannot be parsed gives none.
std::vector<CollisionMeshPlacement> MovedOrScaledCollisionMeshes(const std::string& urdf);

}  // namespace quiral::bivek
