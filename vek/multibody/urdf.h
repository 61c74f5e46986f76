// Reading a robot's links and joints from URDF text.
#pragma once

#include <cstddef>
#include <string_view>

#include "vek/multibody/description.h"

namespace quiral::vek::multibody {

// Reads the `link` and `joint` elements of the `robot` root element, in
// document order; other elements are ignored. Read per link: `name` and the
// optional `inertial` (`mass value`, `origin xyz rpy`, `inertia ixx ixy ixz
// iyy iyz izz`); a link without `inertial` is massless. Read per joint:
// `name`, `type`, `parent link`, `child link`, the optional `origin xyz rpy`
// (zero when absent; rpy are fixed-axis roll, pitch, yaw: R = Rz Ry Rx)
// and the optional `axis xyz` (1 0 0 when absent). "continuous" joints are
// read as revolute; types other than revolute, continuous, prismatic and
// fixed are refused.
//
// Parsing is strict: malformed XML, a missing element or attribute that is
// required, a number text that is not exactly the expected count of finite
// numbers, and a negative mass throw std::invalid_argument whose text
// begins "[quiral::vek::multibody::ParseUrdf] " and names the element.
// The links' names and connections are checked when the tree is built.
Description ParseUrdf(std::string_view text);

// Reads exactly `count` finite numbers separated by white space, the form
// of URDF number lists, into `values`. False when the text holds anything
// else; `values` may then be partly written.
bool ReadNumbers(std::string_view text, double* values, std::size_t count);

}  // namespace quiral::vek::multibody
