// Entry point of the Python module quiralbivek: the dual-arm layer for
// Python 3.10.
//
// PYBIND11_MODULE provides the import sequence: the interpreter version gate
// (anything but 3.10 is refused with an ImportError), the shared type
// registry with the default exception translation, the module object
// without a docstring, then the body below; a Python error raised in the
// body becomes ImportError "initialization failed", any other exception an
// ImportError with its own text.
//
// The module registers no translators and no conversions of its own: native
// exceptions surface through pybind11's defaults (std::invalid_argument,
// std::length_error, std::domain_error and std::range_error as ValueError,
// std::out_of_range as IndexError, every other std::exception as
// RuntimeError), texts unchanged. The interpreter lock is held for the
// whole of every call: no thread of the dual-arm layer enters the
// interpreter, so none waits for it.

#include <pybind11/pybind11.h>

#include "bivek/reference_arm.h"
#include "python/bindings.h"

namespace py = pybind11;

PYBIND11_MODULE(quiralbivek, m) {
  m.attr("__doc__") = "Quiral Bivekset (BIVEK)";

  // Registration order matters: signatures name the classes registered
  // before them by their Python names and the later ones by their native
  // names.
  py::enum_<quiral::bivek::ReferenceArm>(m, "ReferenceArm")
      .value("UNKOWN", quiral::bivek::ReferenceArm::UNKOWN)
      .value("LEFT", quiral::bivek::ReferenceArm::LEFT)
      .value("RIGHT", quiral::bivek::ReferenceArm::RIGHT)
      .export_values();
  quiral::bivek::python::BindBimanualPrimitives(m);
  quiral::bivek::python::BindGripperPair(m);
  quiral::bivek::python::BindRobotPair(m);
  quiral::bivek::python::BindSelfCollisionMonitor(m);
}
