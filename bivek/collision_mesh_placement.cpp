#include "bivek/collision_mesh_placement.h"

#include <tinyxml2.h>

#include <array>

#include "vek/multibody/urdf.h"

namespace quiral::bivek {
namespace {

// True when the attribute is absent or holds three numbers all equal to
// `identity`.
bool IsIdentity(const tinyxml2::XMLElement* element, const char* attribute, double identity) {
  const char* text = element != nullptr ? element->Attribute(attribute) : nullptr;
  if (text == nullptr) return true;
  std::array<double, 3> values{};
  if (!vek::multibody::ReadNumbers(text, values.data(), values.size())) return false;
  for (const double v : values) {
    if (v != identity) return false;
  }
  return true;
}

}  // namespace

std::vector<CollisionMeshPlacement> MovedOrScaledCollisionMeshes(const std::string& urdf) {
  std::vector<CollisionMeshPlacement> found;
  tinyxml2::XMLDocument document;
  if (document.Parse(urdf.c_str(), urdf.size()) != tinyxml2::XML_SUCCESS) return found;
  const tinyxml2::XMLElement* robot = document.FirstChildElement("robot");
  for (const tinyxml2::XMLElement* link = robot ? robot->FirstChildElement("link") : nullptr;
       link != nullptr; link = link->NextSiblingElement("link")) {
    const tinyxml2::XMLElement* collision = link->FirstChildElement("collision");
    const tinyxml2::XMLElement* geometry =
        collision ? collision->FirstChildElement("geometry") : nullptr;
    const tinyxml2::XMLElement* mesh = geometry ? geometry->FirstChildElement("mesh") : nullptr;
    const char* name = link->Attribute("name");
    if (mesh == nullptr || name == nullptr) continue;
    const tinyxml2::XMLElement* origin = collision->FirstChildElement("origin");
    CollisionMeshPlacement placement{
        name, !IsIdentity(origin, "xyz", 0.0) || !IsIdentity(origin, "rpy", 0.0),
        !IsIdentity(mesh, "scale", 1.0)};
    if (placement.moved || placement.scaled) found.push_back(std::move(placement));
  }
  return found;
}

}  // namespace quiral::bivek
