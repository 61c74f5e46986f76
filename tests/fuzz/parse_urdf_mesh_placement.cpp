// Fuzz target: the collision mesh placements of the robot's URDF
// (MovedOrScaledCollisionMeshes over what UrdfCollisionMeshes reads), which
// report only links of the URDF's meshes that are moved or scaled. Only the
// reader's prefixed std::runtime_error leaves it.
#include <stdexcept>
#include <string>

#include "bivek/collision_mesh_placement.h"
#include "tests/fuzz/fuzz_support.h"
#include "vek/urdf_collision_meshes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string prefix = "[quiral::bivek::SelfCollisionMonitor]";
  try {
    const auto meshes = quiral::vek::detail::UrdfCollisionMeshes(
        std::string(reinterpret_cast<const char*>(data), size), prefix);
    for (const auto& placement : quiral::bivek::MovedOrScaledCollisionMeshes(meshes)) {
      if (!placement.moved && !placement.scaled) {
        quiral_fuzz::Fail("a link neither moved nor scaled");
      }
      if (meshes.count(placement.link) == 0) quiral_fuzz::Fail("a link without a mesh");
    }
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()).rfind(prefix + " ", 0) != 0) quiral_fuzz::Fail("an unprefixed error");
  }
  return 0;
}
