// Fuzz target: the collision meshes of the robot's URDF, as the mesh
// download and the monitor's placement warnings read them
// (UrdfCollisionMeshes). Only std::runtime_error with the caller's prefix
// leaves it, and every local file name it gives stays inside the folder:
// not empty, not "." or "..", without '/' or '\0'.
#include <stdexcept>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "vek/urdf_collision_meshes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string prefix = "[quiral::vek::FileIO::DownloadCollisionMesh]";
  try {
    const auto meshes = quiral::vek::detail::UrdfCollisionMeshes(
        std::string(reinterpret_cast<const char*>(data), size), prefix);
    for (const auto& [link, mesh] : meshes) {
      const std::string& name = mesh.local;
      if (name.empty() || name == "." || name == ".." ||
          name.find_first_of(std::string("/\0", 2)) != std::string::npos) {
        quiral_fuzz::Fail("a local file name outside the folder");
      }
    }
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()).rfind(prefix + " ", 0) != 0) quiral_fuzz::Fail("an unprefixed error");
  }
  return 0;
}
