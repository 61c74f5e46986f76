#include "vek/urdf_collision_meshes.h"

#include <tinyxml2.h>

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

std::optional<std::string> AttributeOf(const tinyxml2::XMLElement* element, const char* name) {
  const char* text = element != nullptr ? element->Attribute(name) : nullptr;
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

// The mesh named by the first collision/geometry/mesh of `link` (the file
// name without a leading "package://"), and where the URDF places it; none
// when one of them, or the file name, is missing.
std::optional<UrdfCollisionMesh> CollisionMeshOf(const std::string& link_name,
                                                 const tinyxml2::XMLElement& link) {
  const tinyxml2::XMLElement* collision = link.FirstChildElement("collision");
  const tinyxml2::XMLElement* geometry =
      collision ? collision->FirstChildElement("geometry") : nullptr;
  const tinyxml2::XMLElement* mesh = geometry ? geometry->FirstChildElement("mesh") : nullptr;
  std::optional<std::string> name = AttributeOf(mesh, "filename");
  if (!name) return std::nullopt;
  if (name->compare(0, kPackagePrefix.size(), kPackagePrefix) == 0) {
    name->erase(0, kPackagePrefix.size());
  }
  const tinyxml2::XMLElement* origin = collision->FirstChildElement("origin");
  return UrdfCollisionMesh{*name, link_name + Extension(*name), AttributeOf(origin, "xyz"),
                           AttributeOf(origin, "rpy"), AttributeOf(mesh, "scale")};
}

}  // namespace

std::map<std::string, UrdfCollisionMesh> UrdfCollisionMeshes(const std::string& urdf,
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

  std::map<std::string, UrdfCollisionMesh> meshes;
  for (const tinyxml2::XMLElement* link = robot_element->FirstChildElement("link"); link != nullptr;
       link = link->NextSiblingElement("link")) {
    const char* link_name = link->Attribute("name");
    if (link_name == nullptr) {
      throw std::runtime_error(head + " Invalid link contained in URDF");
    }
    if (meshes.count(link_name) != 0) continue;  // the first entry stays
    if (std::optional<UrdfCollisionMesh> mesh = CollisionMeshOf(link_name, *link)) {
      meshes.emplace(link_name, *std::move(mesh));
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
