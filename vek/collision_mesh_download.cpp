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
#include <tinyxml2.h>

#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/vek_client.h"
#include "vek/file_io_impl.h"
#include "vek/local_files.h"
#include "vek/robot.h"

namespace quiral::vek {
namespace {

namespace fs = std::filesystem;
using vek_impl::ProcedureId;

constexpr std::string_view kPackagePrefix = "package://";

// The extension of the last component of `mesh_name`: from its last dot,
// dot included; empty when it has no dot, or only a leading one.
std::string Extension(const std::string& mesh_name) {
  const size_t slash = mesh_name.rfind('/');
  const std::string last = slash == std::string::npos ? mesh_name : mesh_name.substr(slash + 1);
  const size_t dot = last.rfind('.');
  if (dot == std::string::npos || dot == 0 || last == "..") return std::string();
  return last.substr(dot);
}

// The mesh file named by the first collision/geometry/mesh of `link`,
// without a leading "package://"; none when one of them is missing.
std::optional<std::string> CollisionMeshName(const tinyxml2::XMLElement& link) {
  const tinyxml2::XMLElement* collision = link.FirstChildElement("collision");
  const tinyxml2::XMLElement* geometry =
      collision ? collision->FirstChildElement("geometry") : nullptr;
  const tinyxml2::XMLElement* mesh = geometry ? geometry->FirstChildElement("mesh") : nullptr;
  const char* filename = mesh ? mesh->Attribute("filename") : nullptr;
  if (filename == nullptr) return std::nullopt;
  std::string name = filename;
  if (name.compare(0, kPackagePrefix.size(), kPackagePrefix) == 0) {
    name.erase(0, kPackagePrefix.size());
  }
  return name;
}

struct MeshFile {
  std::string requested;  // name asked of the controller
  std::string local;      // link name + extension
};

}  // namespace

void FileIO::Impl::DownloadCollisionMesh(const std::string& save_dir) const {
  const std::string prefix = Prefix("DownloadCollisionMesh");
  const std::vector<uint8_t> urdf_bytes =
      Fetch(ProcedureId::GetUrdfContent, robot->info().serial_number + ".urdf",
            prefix + " Failed to obtain URDF");

  // The text ends at its first NUL, if any.
  const std::string urdf(reinterpret_cast<const char*>(urdf_bytes.data()), urdf_bytes.size());
  tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
  if (document.Parse(urdf.c_str()) != tinyxml2::XML_SUCCESS) {
    throw std::runtime_error(prefix + " Failed to parse the URDF obtained from server");
  }
  const tinyxml2::XMLElement* robot_element = document.FirstChildElement("robot");
  if (robot_element == nullptr) {
    throw std::runtime_error(prefix + " Failed to find <robot> field in URDF");
  }

  // Link name -> mesh; a link named again keeps its first entry.
  std::map<std::string, MeshFile> meshes;
  for (const tinyxml2::XMLElement* link = robot_element->FirstChildElement("link"); link != nullptr;
       link = link->NextSiblingElement("link")) {
    const char* link_name = link->Attribute("name");
    if (link_name == nullptr) {
      throw std::runtime_error(prefix + " Invalid link contained in URDF");
    }
    if (const std::optional<std::string> mesh_name = CollisionMeshName(*link)) {
      meshes.emplace(link_name, MeshFile{*mesh_name, link_name + Extension(*mesh_name)});
    }
  }
  for (const auto& [link_name, mesh] : meshes) {
    if (!detail::IsPlainFileName(mesh.local)) {
      throw std::runtime_error(prefix + " The file name [" + mesh.local + "] of link [" +
                               link_name + "] in URDF is not a plain file name");
    }
  }

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
}

}  // namespace quiral::vek
