// Python class BimanualPrimitives: quiral::bivek::BimanualPrimitives, made
// from a RobotPair. The native object points at the pair's native object,
// so the Python instance keeps the Python RobotPair it was made from alive
// for as long as it lives.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>

#include "bivek/bimanual_primitives.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace quiral::bivek::python {

void BindBimanualPrimitives(py::module_& m) {
  py::class_<BimanualPrimitives>(m, "BimanualPrimitives")
      .def(py::init<const RobotPair&>(), py::keep_alive<1, 2>())
      .def("MoveTensioned", &BimanualPrimitives::MoveTensioned, py::arg("ref_arm"),
           py::arg("target"), py::arg("tension_force"), py::arg("linear_vel"),
           py::arg("angular_vel"), py::arg("linear_acc") = 2.0, py::arg("angular_acc") = 5.0)
      .def("__repr__",
           [](const BimanualPrimitives&) { return "<quiralbivek.BimanualPrimitives>"; });
}

}  // namespace quiral::bivek::python
