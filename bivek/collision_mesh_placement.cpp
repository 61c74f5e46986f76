#include "bivek/collision_mesh_placement.h"

#include <array>
#include <optional>

#include "vek/multibody/urdf.h"

namespace quiral::bivek {
namespace {

// True when the attribute is absent or holds three numbers all equal to
// `identity`.
bool IsIdentity(const std::optional<std::string>& text, double identity) {
  if (!text) return true;
  std::array<double, 3> values{};
  if (!vek::multibody::ReadNumbers(*text, values.data(), values.size())) return false;
  for (const double v : values) {
    if (v != identity) return false;
  }
  return true;
}

}  // namespace

std::vector<CollisionMeshPlacement> MovedOrScaledCollisionMeshes(
    const std::map<std::string, vek::detail::UrdfCollisionMesh>& meshes) {
  std::vector<CollisionMeshPlacement> found;
  for (const auto& [link, mesh] : meshes) {
    CollisionMeshPlacement placement{
        link, !IsIdentity(mesh.origin_xyz, 0.0) || !IsIdentity(mesh.origin_rpy, 0.0),
        !IsIdentity(mesh.scale, 1.0)};
    if (placement.moved || placement.scaled) found.push_back(std::move(placement));
  }
  return found;
}

}  // namespace quiral::bivek
