// Fuzz target: the collision mesh placements of the robot's URDF
// (MovedOrScaledCollisionMeshes), which never throws and reports only links
// that are moved or scaled.
#include <string>

#include "bivek/collision_mesh_placement.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto placements = quiral::bivek::MovedOrScaledCollisionMeshes(
      std::string(reinterpret_cast<const char*>(data), size));
  for (const auto& placement : placements) {
    if (!placement.moved && !placement.scaled) quiral_fuzz::Fail("a link neither moved nor scaled");
  }
  return 0;
}
