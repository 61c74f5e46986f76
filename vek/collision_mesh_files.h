// Internal: the collision mesh each link of the robot's URDF names, and the
// local file it is saved as (FileIO::DownloadCollisionMesh).
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace quiral::vek::detail {

struct CollisionMeshFile {
  std::string requested;  // name asked of the controller
  std::string local;      // link name + extension
};

// Link name -> mesh file, for each link of `urdf` whose first
// collision/geometry/mesh has a `filename` (without a leading
// "package://"); a link named again keeps its first entry. The text ends
// at its first '\0', if any. Every local name is a plain file name
// (IsPlainFileName). Throws std::runtime_error `prefix` + " Failed to parse
// the URDF obtained from server", " Failed to find <robot> field in URDF",
// " Invalid link contained in URDF" (a link without a name) or " The file
// name [local] of link [name] in URDF is not a plain file name".
std::map<std::string, CollisionMeshFile> CollisionMeshFiles(const std::string& urdf,
                                                            std::string_view prefix);

}  // namespace quiral::vek::detail
