#include "vek/collision_mesh_files.h"

#include <tinyxml2.h>

#include <optional>
#include <stdexcept>

#include "vek/local_files.h"

namespace quiral::vek::detail {
namespace {

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

}  // namespace

std::map<std::string, CollisionMeshFile> CollisionMeshFiles(const std::string& urdf,
                                                            std::string_view prefix) {
  const std::string head(prefix);
  tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
  if (document.Parse(urdf.c_str()) != tinyxml2::XML_SUCCESS) {
    throw std::runtime_error(head + " Failed to parse the URDF obtained from server");
  }
  const tinyxml2::XMLElement* robot_element = document.FirstChildElement("robot");
  if (robot_element == nullptr) {
    throw std::runtime_error(head + " Failed to find <robot> field in URDF");
  }

  std::map<std::string, CollisionMeshFile> meshes;
  for (const tinyxml2::XMLElement* link = robot_element->FirstChildElement("link"); link != nullptr;
       link = link->NextSiblingElement("link")) {
    const char* link_name = link->Attribute("name");
    if (link_name == nullptr) {
      throw std::runtime_error(head + " Invalid link contained in URDF");
    }
    if (const std::optional<std::string> mesh_name = CollisionMeshName(*link)) {
      meshes.emplace(link_name, CollisionMeshFile{*mesh_name, link_name + Extension(*mesh_name)});
    }
  }
  for (const auto& [link_name, mesh] : meshes) {
    if (!IsPlainFileName(mesh.local)) {
      throw std::runtime_error(head + " The file name [" + mesh.local + "] of link [" +
                               link_name + "] in URDF is not a plain file name");
    }
  }
  return meshes;
}

}  // namespace quiral::vek::detail
