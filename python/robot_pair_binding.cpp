// Python class RobotPair: quiral::bivek::RobotPair with its per-arm pairs as
// 2-tuples (index 0 the first arm). Every method forwards to one member of
// the same name; the binding adds the argument names, the defaults, the
// overload order and the fixed __repr__ text, nothing else. An argument
// without a name is positional only. Parameter values refuse integers that
// do not fit 32 bits (python/param_variant_caster.h).
//
// The single-robot types (Mode, CoordType, OperationalStatus, the records
// and Robot) are not registered here: the companion module quiralvek
// registers them in the shared registry, and they convert once it has been
// imported.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bivek/robot_pair.h"
#include "python/bindings.h"
#include "python/param_variant_caster.h"
#include "vek/data_types.h"

namespace py = pybind11;

namespace quiral::bivek::python {
namespace {

template <class T>
using PerArm = std::pair<T, T>;
using Array3 = std::array<double, 3>;
using Array6 = std::array<double, 6>;
using Array7 = std::array<double, 7>;
using Vector = std::vector<double>;

// Both arms' entries the same.
template <class T>
PerArm<T> Both(const T& value) {
  return {value, value};
}

}  // namespace

void BindRobotPair(py::module_& m) {
  py::class_<RobotPair>(m, "RobotPair")
      .def(py::init<const PerArm<std::string>&, const PerArm<Array3>&,
                    const std::vector<std::string>&>(),
           py::arg("robots_sn"), py::arg("translations_in_world") = Both(Array3{0.0, 0.0, 0.0}),
           py::arg("network_interface_whitelist") = std::vector<std::string>{})
      .def("connected", &RobotPair::connected)
      .def("info", &RobotPair::info)
      .def("mode", &RobotPair::mode)
      .def("states", &RobotPair::states)
      .def("actions", &RobotPair::actions)
      .def("stopped", &RobotPair::stopped)
      .def("operational", &RobotPair::operational)
      .def("operational_status", &RobotPair::operational_status)
      .def("busy", &RobotPair::busy)
      .def("which_busy", &RobotPair::which_busy)
      .def("fault", &RobotPair::fault)
      .def("which_fault", &RobotPair::which_fault)
      .def("reduced", &RobotPair::reduced)
      .def("recovery", &RobotPair::recovery)
      .def("estop_released", &RobotPair::estop_released)
      .def("enabling_button_pressed", &RobotPair::enabling_button_pressed)
      .def("event_log", &RobotPair::event_log)
      .def("instances", &RobotPair::instances)
      .def("Enable", &RobotPair::Enable)
      // The brakes of a medical arm are engaged or released only on an
      // explicit True or False: None or a number never releases them.
      .def("Brake", &RobotPair::Brake, py::arg().noconvert())
      .def("SwitchMode", py::overload_cast<const PerArm<vek::Mode>&>(&RobotPair::SwitchMode))
      .def("SwitchMode", py::overload_cast<vek::Mode>(&RobotPair::SwitchMode))
      .def("Stop", py::overload_cast<PerArm<bool>>(&RobotPair::Stop))
      .def("Stop", py::overload_cast<>(&RobotPair::Stop))
      .def("ClearFault", &RobotPair::ClearFault, py::arg("timeout_sec") = 30u)
      .def("RunAutoRecovery", &RobotPair::RunAutoRecovery)
      .def("SetGlobalVariables", &RobotPair::SetGlobalVariables)
      .def("global_variables", &RobotPair::global_variables)
      .def("LockExternalAxes", &RobotPair::LockExternalAxes)
      .def("SyncWithPositioner", &RobotPair::SyncWithPositioner)
      .def("ExecutePlan",
           py::overload_cast<PerArm<unsigned int>, bool, bool>(&RobotPair::ExecutePlan),
           py::arg("indices"), py::arg("continue_exec") = false,
           py::arg("block_until_started") = true)
      .def("ExecutePlan",
           py::overload_cast<const PerArm<std::string>&, bool, bool>(&RobotPair::ExecutePlan),
           py::arg("names"), py::arg("continue_exec") = false,
           py::arg("block_until_started") = true)
      .def("PausePlan", &RobotPair::PausePlan)
      .def("StopPlan", py::overload_cast<PerArm<bool>>(&RobotPair::StopPlan))
      .def("StopPlan", py::overload_cast<>(&RobotPair::StopPlan))
      .def("plan_list", &RobotPair::plan_list)
      .def("plan_info", &RobotPair::plan_info)
      .def("SetBreakpointMode", &RobotPair::SetBreakpointMode)
      .def("StepBreakpoint", &RobotPair::StepBreakpoint)
      .def("SetVelocityScale", &RobotPair::SetVelocityScale)
      .def("ExecutePrimitive", &RobotPair::ExecutePrimitive, py::arg("primitive_names"),
           py::arg("input_params"), py::arg("block_until_started") = true)
      .def("primitive_states", &RobotPair::primitive_states)
      .def("SendJointPosition", &RobotPair::SendJointPosition)
      .def("SetJointImpedance", &RobotPair::SetJointImpedance, py::arg("K_q"),
           py::arg("Z_q") = PerArm<Vector>{})
      .def("SetMaxContactTorque", &RobotPair::SetMaxContactTorque)
      .def("SetJointInertiaScale", &RobotPair::SetJointInertiaScale)
      .def("SendCartesianMotionForce", &RobotPair::SendCartesianMotionForce, py::arg("poses"),
           py::arg("wrenches") = Both(Array6{}), py::arg("velocities") = Both(Array6{}),
           py::arg("max_linear_vel") = Both(0.5), py::arg("max_angular_vel") = Both(1.0),
           py::arg("max_linear_acc") = Both(2.0), py::arg("max_angular_acc") = Both(5.0))
      .def("SendMultiCartesianMotionForce", &RobotPair::SendMultiCartesianMotionForce,
           py::arg("cart_cmds"), py::arg("joint_pos"))
      .def("SetCartesianImpedance", &RobotPair::SetCartesianImpedance, py::arg("K_x"),
           py::arg("Z_x") = Both(Array6{0.7, 0.7, 0.7, 0.7, 0.7, 0.7}))
      .def("SetMaxContactWrench", &RobotPair::SetMaxContactWrench)
      .def("SetNullSpacePosture", &RobotPair::SetNullSpacePosture)
      .def("SetNullSpaceObjectives", &RobotPair::SetNullSpaceObjectives,
           py::arg("linear_manipulability") = Both(0.0),
           py::arg("angular_manipulability") = Both(0.0),
           py::arg("ref_positions_tracking") = Both(0.5))
      .def("SetForceControlAxis", &RobotPair::SetForceControlAxis, py::arg("enabled_axes"),
           py::arg("max_linear_vel") = Both(Array3{1.0, 1.0, 1.0}))
      .def("SetForceControlFrame", &RobotPair::SetForceControlFrame, py::arg("root_coord"),
           py::arg("T_in_root") = Both(Array7{0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}))
      .def("SetPassiveForceControl", &RobotPair::SetPassiveForceControl)
      .def("SetDigitalOutputs", &RobotPair::SetDigitalOutputs)
      .def("digital_inputs", &RobotPair::digital_inputs)
      .def("__repr__", [](const RobotPair&) { return "<quiralbivek.RobotPair>"; });
}

}  // namespace quiral::bivek::python
