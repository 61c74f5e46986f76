// FileIO::DownloadCollisionMesh: the robot's URDF from the controller, the
// collision mesh it names for each link, and one local file per link.
//
// The folder written is the one the collision checker reads: one file per
// link with a collision mesh, named after the link with the mesh file's
// extension (".stl" for the checker), holding exactly the controller's
// bytes. Link names come from the controller: each local name is checked
// to be a plain file name before the folder is created or any mesh is
// requested, so a name such as "../x" or "/etc/x" writes nothing at all.

#include <spdlog/spdlog.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/vek_client.h"
#include "vek/file_io_impl.h"
#include "vek/local_files.h"
#include "vek/robot.h"
#include "vek/urdf_collision_meshes.h"

namespace quiral::vek {
namespace {

namespace fs = std::filesystem;
using vek_impl::ProcedureId;

}  // namespace

void FileIO::Impl::DownloadCollisionMesh(const std::string& save_dir) const {
  const std::vector<uint8_t> urdf_bytes =
      Fetch(ProcedureId::GetUrdfContent, robot->info().serial_number + ".urdf",
            Prefix("DownloadCollisionMesh") + " Failed to obtain URDF");
  DownloadCollisionMesh(
      save_dir, std::string(reinterpret_cast<const char*>(urdf_bytes.data()), urdf_bytes.size()));
}

std::map<std::string, detail::UrdfCollisionMesh> FileIO::Impl::DownloadCollisionMesh(
    const std::string& save_dir, const std::string& urdf) const {
  const std::string prefix = Prefix("DownloadCollisionMesh");
  std::map<std::string, detail::UrdfCollisionMesh> meshes =
      detail::UrdfCollisionMeshes(urdf, prefix);
  detail::CreateFolder(save_dir, prefix);
  for (const auto& [link_name, mesh] : meshes) {
    const std::vector<uint8_t> bytes =
        Fetch(ProcedureId::DownloadCollisionMesh, mesh.requested,
              prefix + " Failed to download mesh file [" + mesh.requested + "]");
    const std::string path = (fs::path(save_dir) / mesh.local).string();
    if (!detail::SaveFileBytes(path, bytes)) {
      throw std::runtime_error(prefix + " Failed to save file [" + path + "]");
    }
    spdlog::debug("{} Saved file [{}]", prefix, path);
  }
  return meshes;
}

}  // namespace quiral::vek
