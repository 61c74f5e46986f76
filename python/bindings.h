// Registration routines of the quiralbivek Python module. Each registers one
// class with all its methods in the module; the module's entry point calls
// them once, in the module's registration order.
#pragma once

#include <pybind11/pybind11.h>

namespace quiral::bivek::python {

void BindBimanualPrimitives(pybind11::module_& m);
void BindGripperPair(pybind11::module_& m);
void BindRobotPair(pybind11::module_& m);
void BindSelfCollisionMonitor(pybind11::module_& m);

}  // namespace quiral::bivek::python
