#include "vek/model_building.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "base/qor_frame.h"
#include "vek/multibody/tree.h"
#include "vek/multibody/urdf.h"

namespace quiral::vek {
namespace {

[[noreturn]] void Fail(const std::string& reason) {
  throw std::runtime_error("[quiral::vek::Model] " + reason);
}

bool Finite(const ToolParams& p) {
  const auto finite = [](const auto& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
  };
  return std::isfinite(p.mass) && finite(p.CoM) && finite(p.inertia) && finite(p.tcp_location);
}

// Adds the tool as link "tool" with its frame at the TCP.
void MountTool(const ModelLink::Tool& tool, multibody::Description& description) {
  const ToolParams& p = tool.params;
  const Eigen::Vector4d quaternion(p.tcp_location[3], p.tcp_location[4], p.tcp_location[5],
                                   p.tcp_location[6]);
  if (!Finite(p) || p.mass < 0.0) {
    Fail("Invalid parameters of tool [" + tool.name + "] received from server");
  }
  const auto has_flange = [](const multibody::Link& link) { return link.name == "flange"; };
  if (std::none_of(description.links.begin(), description.links.end(), has_flange)) {
    Fail("The URDF has no link [flange] to mount tool [" + tool.name + "] on");
  }
  // Scaled to unit length however small or large its values; an all-zero
  // quaternion stays zero, which the frame takes as no rotation.
  base::Vector7d pose;
  pose << p.tcp_location[0], p.tcp_location[1], p.tcp_location[2], quaternion.stableNormalized();
  base::QorFrame tcp;
  tcp.setPoseVec(pose);
  Eigen::Isometry3d tcp_in_flange = Eigen::Isometry3d::Identity();
  tcp_in_flange.linear() = tcp.rotation;
  tcp_in_flange.translation() = tcp.translation;

  // The inertial frame: at the centre of mass, with the flange's axes.
  multibody::Inertial inertial;
  inertial.mass = p.mass;
  inertial.frame.linear() = tcp.rotation.transpose();
  inertial.frame.translation() = tcp.inverse() * Eigen::Vector3d(p.CoM[0], p.CoM[1], p.CoM[2]);
  const auto& i = p.inertia;  // Ixx, Iyy, Izz, Ixy, Ixz, Iyz
  inertial.inertia << i[0], i[3], i[4], i[3], i[1], i[5], i[4], i[5], i[2];
  description.AddFixedLink("tool", inertial, "flange", "tool_joint", tcp_in_flange);
}

// "[namespace::Class] reason" -> "reason".
std::string WithoutPrefix(const std::string& text) {
  const std::size_t end = text.find("] ");
  return end == std::string::npos ? text : text.substr(end + 2);
}

}  // namespace

std::unique_ptr<multibody::MultiBody> BuildMultiBody(const std::string& urdf,
                                                     const ModelLink::Tool& tool, std::size_t dof,
                                                     const Eigen::Vector3d& gravity) {
  std::unique_ptr<multibody::MultiBody> body;
  try {
    multibody::Description description = multibody::ParseUrdf(urdf);
    if (tool.name != kNoTool) MountTool(tool, description);
    body = std::make_unique<multibody::MultiBody>(multibody::Tree(description));
  } catch (const std::invalid_argument& e) {  // the URDF's faults; MountTool's pass
    Fail("Failed to read the URDF obtained from server: " + WithoutPrefix(e.what()));
  }
  if (body->dof() != dof) {
    throw std::logic_error(
        "[quiral::vek::Model] Incorrect robot degrees of freedom parsed from "
        "URDF: [" +
        std::to_string(body->dof()) + "], expecting [" + std::to_string(dof) + "]");
  }
  body->set_gravity(gravity);
  return body;
}

}  // namespace quiral::vek
