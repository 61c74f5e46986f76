// Internal: the reader of the collision meshes a robot's URDF gives its
// links: which mesh file, under which local file name it is saved
// (FileIO::DownloadCollisionMesh), and where the URDF places it (the
// self-collision monitor warns of what its checker does not apply).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quiral::vek::detail {

struct UrdfCollisionMesh {
  std::string requested;  // the mesh file name asked of the controller
  std::string local;      // link name + the mesh file's extension
  // The attributes as the URDF gives them, when it does: "xyz" and "rpy"
  // of the collision's origin, "scale" of the mesh.
  std::optional<std::string> origin_xyz, origin_rpy, scale;
};

// Link name -> mesh, for each link of `urdf` whose first
// collision/geometry/mesh has a `filename` (without a leading
// "package://"); a link named again keeps its first entry. The text ends
// at its first '\0', if any. Every local name is a plain file name
// (IsPlainFileName). Throws std::runtime_error `prefix` + " Failed to parse
// the URDF obtained from server", " Failed to find <robot> field in URDF",
// " Invalid link contained in URDF" (a link without a name) or " The file
// name [local] of link [name] in URDF is not a plain file name".
std::map<std::string, UrdfCollisionMesh> UrdfCollisionMeshes(const std::string& urdf,
                                                             std::string_view prefix);

}  // namespace quiral::vek::detail
