#include "vek/model_sync.h"

#include <array>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include <spdlog/spdlog.h>
#include <tinyxml2.h>
#include <yaml-cpp/yaml.h>

#include "vek/local_files.h"
#include "vek/multibody/urdf.h"

namespace quiral::vek {
namespace {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

constexpr char kUrdfPrefix[] = "[quiral::vek::Model::SyncURDF] ";
constexpr char kYamlPrefix[] = "[quiral::vek::Model::SyncKinematicsYAML] ";

// The robot's URDF from the download, parsed, and its <robot> element.
const XMLElement& DownloadRobot(const UrdfDownload& download, XMLDocument& document,
                                const std::string& prefix) {
  const std::optional<std::string> urdf = download();
  if (!urdf) throw std::runtime_error(prefix + "Failed to obtain URDF from server");
  if (document.Parse(urdf->data(), urdf->size()) != tinyxml2::XML_SUCCESS) {
    throw std::runtime_error(prefix + "Failed to parse the URDF obtained from server");
  }
  const XMLElement* robot = document.FirstChildElement("robot");
  if (!robot) throw std::runtime_error(prefix + "Failed to find <robot> element in URDF");
  return *robot;
}

// Calls visit(name, origin) for each joint of `robot` that has a name and an
// <origin>, in document order.
template <typename Visit>
void ForEachJointOrigin(const XMLElement& robot, Visit visit) {
  for (const XMLElement* joint = robot.FirstChildElement("joint"); joint;
       joint = joint->NextSiblingElement("joint")) {
    const char* name = joint->Attribute("name");
    const XMLElement* origin = joint->FirstChildElement("origin");
    if (name && origin) visit(std::string(name), *origin);
  }
}

// The first joint of `robot` named `name`; nullptr when there is none.
XMLElement* FirstJoint(XMLElement& robot, const std::string& name) {
  for (XMLElement* joint = robot.FirstChildElement("joint"); joint;
       joint = joint->NextSiblingElement("joint")) {
    const char* joint_name = joint->Attribute("name");
    if (joint_name && name == joint_name) return joint;
  }
  return nullptr;
}

// Writes the three numbers of the origin's `attribute` under `keys`; an
// absent attribute changes nothing, one that is not three numbers is
// reported and changes nothing.
void CopyTriple(const XMLElement& origin, const char* attribute,
                const std::array<const char*, 3>& keys, const std::string& joint,
                YAML::Node entry) {
  const char* text = origin.Attribute(attribute);
  if (!text) return;
  double values[3];
  if (!multibody::ReadNumbers(text, values, 3)) {
    spdlog::warn("{}Joint [{}] origin attribute [{}] [{}] is not three numbers, left unchanged",
                 kYamlPrefix, joint, attribute, text);
    return;
  }
  for (int i = 0; i < 3; ++i) entry[keys[i]] = values[i];
}

}  // namespace

void SyncUrdfTemplate(const std::string& path, const UrdfDownload& download) {
  const std::string prefix = kUrdfPrefix;
  XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
  if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
    throw std::invalid_argument(prefix + "Failed to load template URDF at [" + path + "]");
  }
  XMLElement* robot = document.FirstChildElement("robot");
  if (!robot) {
    throw std::invalid_argument(prefix + "Missing <robot> root element in the template URDF");
  }

  XMLDocument source(true, tinyxml2::PRESERVE_WHITESPACE);
  const auto copy = [&](const std::string& name, const XMLElement& origin) {
    const char* rpy = origin.Attribute("rpy");
    const char* xyz = origin.Attribute("xyz");
    XMLElement* joint = FirstJoint(*robot, name);
    XMLElement* target = joint ? joint->FirstChildElement("origin") : nullptr;
    if (!rpy || !xyz || !target) return;
    target->SetAttribute("rpy", rpy);
    target->SetAttribute("xyz", xyz);
  };
  ForEachJointOrigin(DownloadRobot(download, source, prefix), copy);

  tinyxml2::XMLPrinter printer;
  document.Print(&printer);
  if (!detail::SaveFileBytes(path, std::string_view(printer.CStr(), printer.CStrSize() - 1))) {
    throw std::runtime_error(prefix + "Failed to save updated URDF to [" + path + "]");
  }
}

SyncedYaml SyncYamlText(const std::string& yaml, const std::string& path,
                        const UrdfDownload& download) {
  const std::string prefix = kYamlPrefix;
  YAML::Node root;
  try {
    root = YAML::Load(yaml);
  } catch (const YAML::Exception&) {
    throw std::invalid_argument(prefix + "Failed to load template YAML at [" + path + "]");
  }
  const YAML::Node& lookup = root;  // const look-ups add no key
  YAML::Node kinematics = root.IsMap() ? lookup["kinematics"] : YAML::Node();
  if (!root.IsMap() || !kinematics || !(kinematics.IsMap() || kinematics.IsNull())) {
    throw std::invalid_argument(prefix + "Missing <kinematics> root node in the template YAML");
  }

  XMLDocument source(true, tinyxml2::PRESERVE_WHITESPACE);
  SyncedYaml synced;
  const auto copy = [&](const std::string& name, const XMLElement& origin) {
    const YAML::Node& joints = kinematics;
    if (!joints.IsMap() || !joints[name]) return;
    YAML::Node entry = joints[name];
    // A scalar holds no keys: subscripting it raises yaml-cpp's own
    // YAML::BadSubscript, which reaches the caller unchanged whatever the
    // origin holds.
    if (entry.IsScalar()) static_cast<void>(entry["x"]);
    if (!(entry.IsMap() || entry.IsNull())) {
      throw std::invalid_argument(prefix + "Entry [" + name + "] under <kinematics> is not a map");
    }
    CopyTriple(origin, "xyz", {"x", "y", "z"}, name, entry);
    CopyTriple(origin, "rpy", {"roll", "pitch", "yaw"}, name, entry);
    ++synced.joints;
    spdlog::debug("{}Synced [{}]", prefix, name);
  };
  ForEachJointOrigin(DownloadRobot(download, source, prefix), copy);

  YAML::Emitter out;
  out << root;
  if (!out.good()) {
    throw std::runtime_error(prefix + "Failed to save updated YAML to [" + path + "]");
  }
  synced.text.assign(out.c_str(), out.size());
  return synced;
}

std::size_t SyncYamlTemplate(const std::string& path, const UrdfDownload& download) {
  std::ifstream file(path);
  if (!file) {
    throw std::invalid_argument(kYamlPrefix + std::string("Failed to load template YAML at [") +
                                path + "]");
  }
  std::ostringstream yaml;
  yaml << file.rdbuf();
  const SyncedYaml synced = SyncYamlText(yaml.str(), path, download);
  if (!detail::SaveFileBytes(path, synced.text)) {
    throw std::runtime_error(kYamlPrefix + std::string("Failed to save updated YAML to [") + path +
                             "]");
  }
  return synced.joints;
}

}  // namespace quiral::vek
