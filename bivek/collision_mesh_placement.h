// What a robot's URDF says about the placement of its links' collision
// meshes beyond the mesh files themselves: a collision origin that moves a
// mesh, a scale that resizes it. The collision checker uses each mesh file
// as it stands in the link's frame, so the monitor warns of both.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "vek/urdf_collision_meshes.h"

namespace quiral::bivek {

struct CollisionMeshPlacement {
  std::string link;
  bool moved = false;   // the collision's origin is not the identity
  bool scaled = false;  // the mesh has a scale other than "1 1 1"
};

// The links of `meshes` (as vek::detail::UrdfCollisionMeshes reads them)
// whose mesh is moved or scaled, in link name order. A number list that
// cannot be read counts as moving or scaling.
std::vector<CollisionMeshPlacement> MovedOrScaledCollisionMeshes(
    const std::map<std::string, vek::detail::UrdfCollisionMesh>& meshes);

}  // namespace quiral::bivek
