// Python class GripperPair: quiral::bivek::GripperPair, the grippers of both
// arms of a RobotPair, with per-arm 2-tuples (index 0 the first arm). Every
// argument is positional only. The grippers share the arms' link clients
// and hold no reference to the pair, so the Python RobotPair may go first.
//
// params() and states() return the single-robot records GripperParams and
// GripperStates, registered by the companion module quiralvek.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <utility>

#include "bivek/gripper_pair.h"
#include "python/bindings.h"
#include "vek/data_types.h"

namespace py = pybind11;

namespace quiral::bivek::python {

void BindGripperPair(py::module_& m) {
  py::class_<GripperPair>(m, "GripperPair")
      .def(py::init<const RobotPair&>())
      .def("Enable", &GripperPair::Enable)
      .def("Disable", &GripperPair::Disable)
      .def("Init", &GripperPair::Init)
      .def("Grasp", &GripperPair::Grasp)
      .def("Move", &GripperPair::Move)
      .def("Stop", py::overload_cast<std::pair<bool, bool>>(&GripperPair::Stop))
      .def("Stop", py::overload_cast<>(&GripperPair::Stop))
      .def("params", &GripperPair::params)
      .def("states", &GripperPair::states)
      .def("__repr__", [](const GripperPair&) { return "<quiralbivek.GripperPair>"; });
}

}  // namespace quiral::bivek::python
