#include "vek/multibody/urdf.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include <tinyxml2.h>

namespace quiral::vek::multibody {
namespace {

using tinyxml2::XMLElement;

[[noreturn]] void Fail(const std::string& message) {
  throw std::invalid_argument("[quiral::vek::multibody::ParseUrdf] " + message);
}

// "<link [name]>" or "<joint [name]>": where an error was found.
std::string Where(const XMLElement& element) {
  const char* name = element.Attribute("name");
  return std::string("<") + element.Name() + (name ? std::string(" [") + name + "]>" : ">");
}

const char* RequiredAttribute(const XMLElement& element, const char* attribute,
                              const std::string& where) {
  const char* text = element.Attribute(attribute);
  if (!text) Fail(where + " has no attribute [" + attribute + "]");
  return text;
}

const XMLElement& RequiredChild(const XMLElement& element, const char* child,
                                const std::string& where) {
  const XMLElement* found = element.FirstChildElement(child);
  if (!found) Fail(where + " has no element <" + child + ">");
  return *found;
}

template <std::size_t N>
std::array<double, N> Numbers(const char* text, const std::string& what) {
  std::array<double, N> values{};
  if (!ReadNumbers(text, values.data(), N)) {
    Fail(what + " [" + text + "] is not " + std::to_string(N) + " finite number(s)");
  }
  return values;
}

double Number(const XMLElement& element, const char* attribute, const std::string& where) {
  return Numbers<1>(RequiredAttribute(element, attribute, where),
                    where + " attribute [" + attribute + "]")[0];
}

Eigen::Vector3d Vector(const XMLElement* element, const char* attribute,
                       const Eigen::Vector3d& absent, const std::string& where) {
  const char* text = element ? element->Attribute(attribute) : nullptr;
  if (!text) return absent;
  const auto v =
      Numbers<3>(text, where + " <" + element->Name() + "> attribute [" + attribute + "]");
  return {v[0], v[1], v[2]};
}

// The optional <origin> child: the transform of xyz and rpy.
Eigen::Isometry3d Origin(const XMLElement& parent, const std::string& where) {
  const XMLElement* origin = parent.FirstChildElement("origin");
  const Eigen::Vector3d rpy = Vector(origin, "rpy", Eigen::Vector3d::Zero(), where);
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.translation() = Vector(origin, "xyz", Eigen::Vector3d::Zero(), where);
  pose.linear() = (Eigen::AngleAxisd(rpy.z(), Eigen::Vector3d::UnitZ()) *
                   Eigen::AngleAxisd(rpy.y(), Eigen::Vector3d::UnitY()) *
                   Eigen::AngleAxisd(rpy.x(), Eigen::Vector3d::UnitX()))
                      .toRotationMatrix();
  return pose;
}

Link ReadLink(const XMLElement& element) {
  Link link;
  link.name = RequiredAttribute(element, "name", "<link>");
  const std::string where = Where(element);
  const XMLElement* inertial = element.FirstChildElement("inertial");
  if (!inertial) return link;
  const std::string in = where + " <inertial>";
  link.inertial.mass = Number(RequiredChild(*inertial, "mass", in), "value", in + " <mass>");
  if (link.inertial.mass < 0.0) Fail(in + " has a negative mass");
  link.inertial.frame = Origin(*inertial, in);
  const XMLElement& inertia = RequiredChild(*inertial, "inertia", in);
  const std::string at = in + " <inertia>";
  // Every number read before the matrix is filled: a refused one must not
  // leave a comma initialiser half done.
  const double xx = Number(inertia, "ixx", at), xy = Number(inertia, "ixy", at),
               xz = Number(inertia, "ixz", at), yy = Number(inertia, "iyy", at),
               yz = Number(inertia, "iyz", at), zz = Number(inertia, "izz", at);
  link.inertial.inertia << xx, xy, xz, xy, yy, yz, xz, yz, zz;
  return link;
}

Joint ReadJoint(const XMLElement& element) {
  Joint joint;
  joint.name = RequiredAttribute(element, "name", "<joint>");
  const std::string where = Where(element);
  const std::string type = RequiredAttribute(element, "type", where);
  if (type == "revolute" || type == "continuous") {
    joint.type = JointType::kRevolute;
  } else if (type == "prismatic") {
    joint.type = JointType::kPrismatic;
  } else if (type == "fixed") {
    joint.type = JointType::kFixed;
  } else {
    Fail(where + " has unsupported type [" + type + "]");
  }
  joint.parent =
      RequiredAttribute(RequiredChild(element, "parent", where), "link", where + " <parent>");
  joint.child =
      RequiredAttribute(RequiredChild(element, "child", where), "link", where + " <child>");
  joint.origin = Origin(element, where);
  joint.axis = Vector(element.FirstChildElement("axis"), "xyz", Eigen::Vector3d::UnitX(), where);
  return joint;
}

}  // namespace

bool ReadNumbers(std::string_view text, double* values, std::size_t count) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const char* p = text.data();
  const char* const end = p + text.size();
  std::size_t read = 0;
  for (;;) {
    while (p != end && kBlanks.find(*p) != std::string_view::npos) ++p;
    if (p == end) break;
    if (*p == '+' && p + 1 != end && p[1] != '-') ++p;
    double value = 0.0;
    const auto [next, error] = std::from_chars(p, end, value);
    if (error != std::errc() || (next != end && kBlanks.find(*next) == std::string_view::npos) ||
        !std::isfinite(value) || read == count) {
      return false;
    }
    values[read++] = value;
    p = next;
  }
  return read == count;
}

Description ParseUrdf(std::string_view text) {
  tinyxml2::XMLDocument document;
  if (document.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) {
    Fail(std::string("Malformed XML: ") + document.ErrorStr());
  }
  const XMLElement* robot = document.RootElement();
  if (!robot || std::strcmp(robot->Name(), "robot") != 0) Fail("The root element is not <robot>");
  Description description;
  for (const XMLElement* e = robot->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (std::strcmp(e->Name(), "link") == 0) description.links.push_back(ReadLink(*e));
    if (std::strcmp(e->Name(), "joint") == 0) description.joints.push_back(ReadJoint(*e));
  }
  return description;
}

}  // namespace quiral::vek::multibody
