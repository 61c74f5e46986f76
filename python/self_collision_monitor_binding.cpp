// Python class SelfCollisionMonitor: quiral::bivek::SelfCollisionMonitor,
// made from a RobotPair.
//
// The native monitor refers to the pair's native object, from its own
// thread once started, so the Python instance keeps the Python RobotPair it
// was made from alive for as long as it lives. Deallocating the instance
// runs the native destructor, which ends a running monitor thread, before
// that reference is dropped: the pair never goes while the thread watches
// it, also when the interpreter clears the objects at exit. The monitor
// thread never enters the interpreter, so every call keeps the interpreter
// lock, Stop (which waits for the thread) included.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "bivek/self_collision_monitor.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace quiral::bivek::python {

void BindSelfCollisionMonitor(py::module_& m) {
  py::class_<SelfCollisionMonitor>(m, "SelfCollisionMonitor")
      .def(py::init<const RobotPair&, const std::vector<std::string>&>(), py::keep_alive<1, 2>(),
           py::arg("robot_pair"), py::arg("skipped_links") = std::vector<std::string>{})
      .def("Start", &SelfCollisionMonitor::Start, py::arg("loop_interval_ms") = 10u)
      .def("Stop", &SelfCollisionMonitor::Stop)
      .def("SetMinDistance", &SelfCollisionMonitor::SetMinDistance)
      .def("__repr__",
           [](const SelfCollisionMonitor&) { return "<quiralbivek.SelfCollisionMonitor>"; });
}

}  // namespace quiral::bivek::python
