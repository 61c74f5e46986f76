// Test-only Python module quiral_registry_clash: registers the native type
// quiral::bivek::RobotPair under a Python class of its own in the shared
// type registry, so that a later import of quiralbivek meets a type that is
// registered already.
#include <pybind11/pybind11.h>

#include "bivek/robot_pair.h"

PYBIND11_MODULE(quiral_registry_clash, m) {
  pybind11::class_<quiral::bivek::RobotPair>(m, "OtherRobotPair");
}
