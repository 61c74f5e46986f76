// Python module quiralvek: the single-robot value types that quiralbivek
// takes and returns, registered in pybind11's shared type registry so that
// quiralbivek converts them. It holds types only: the enumerations Mode,
// CoordType and OperationalStatus, the records with read-write fields, and
// Robot (shared ownership, as RobotPair.instances() hands out shared
// handles) with its connection and description queries.
//
// Import it before the first call that takes or returns one of these types;
// imported before quiralbivek, it also lets quiralbivek's signatures name
// them by their Python names.

#include <pybind11/chrono.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>

#include "vek/data_types.h"
#include "vek/robot.h"

namespace py = pybind11;
using namespace quiral::vek;

PYBIND11_MODULE(quiralvek, m) {
  m.attr("__doc__") = "Quiral VEK value types";

  py::enum_<Mode>(m, "Mode")
      .value("UNKNOWN", Mode::UNKNOWN)
      .value("IDLE", Mode::IDLE)
      .value("RT_JOINT_TORQUE", Mode::RT_JOINT_TORQUE)
      .value("RT_JOINT_IMPEDANCE", Mode::RT_JOINT_IMPEDANCE)
      .value("NRT_JOINT_IMPEDANCE", Mode::NRT_JOINT_IMPEDANCE)
      .value("RT_JOINT_POSITION", Mode::RT_JOINT_POSITION)
      .value("NRT_JOINT_POSITION", Mode::NRT_JOINT_POSITION)
      .value("NRT_PLAN_EXECUTION", Mode::NRT_PLAN_EXECUTION)
      .value("NRT_PRIMITIVE_EXECUTION", Mode::NRT_PRIMITIVE_EXECUTION)
      .value("RT_CARTESIAN_MOTION_FORCE", Mode::RT_CARTESIAN_MOTION_FORCE)
      .value("NRT_CARTESIAN_MOTION_FORCE", Mode::NRT_CARTESIAN_MOTION_FORCE)
      .value("NRT_SUPER_PRIMITIVE", Mode::NRT_SUPER_PRIMITIVE)
      .value("AUTO_RECOVERY", Mode::AUTO_RECOVERY);

  py::enum_<OperationalStatus>(m, "OperationalStatus")
      .value("UNKNOWN", OperationalStatus::UNKNOWN)
      .value("READY", OperationalStatus::READY)
      .value("BOOTING", OperationalStatus::BOOTING)
      .value("ESTOP_NOT_RELEASED", OperationalStatus::ESTOP_NOT_RELEASED)
      .value("NOT_ENABLED", OperationalStatus::NOT_ENABLED)
      .value("RELEASING_BRAKE", OperationalStatus::RELEASING_BRAKE)
      .value("MINOR_FAULT", OperationalStatus::MINOR_FAULT)
      .value("CRITICAL_FAULT", OperationalStatus::CRITICAL_FAULT)
      .value("IN_REDUCED_STATE", OperationalStatus::IN_REDUCED_STATE)
      .value("IN_RECOVERY_STATE", OperationalStatus::IN_RECOVERY_STATE)
      .value("IN_MANUAL_MODE", OperationalStatus::IN_MANUAL_MODE)
      .value("IN_AUTO_MODE", OperationalStatus::IN_AUTO_MODE);

  py::enum_<CoordType>(m, "CoordType")
      .value("WORLD", CoordType::WORLD)
      .value("TCP", CoordType::TCP);

  py::class_<RobotInfo>(m, "RobotInfo")
      .def(py::init<>())
      .def_readwrite("serial_number", &RobotInfo::serial_number)
      .def_readwrite("server_text", &RobotInfo::server_text)
      .def_readwrite("model_name", &RobotInfo::model_name)
      .def_readwrite("DoF_e", &RobotInfo::DoF_e)
      .def_readwrite("DoF_m", &RobotInfo::DoF_m)
      .def_readwrite("DoF", &RobotInfo::DoF)
      .def_readwrite("K_x_max", &RobotInfo::K_x_max)
      .def_readwrite("K_q_max", &RobotInfo::K_q_max)
      .def_readwrite("q_min", &RobotInfo::q_min)
      .def_readwrite("q_max", &RobotInfo::q_max)
      .def_readwrite("joint_limit_3", &RobotInfo::joint_limit_3)
      .def_readwrite("tau_max", &RobotInfo::tau_max)
      .def_readwrite("reply_flag", &RobotInfo::reply_flag);

  py::class_<RobotStates>(m, "RobotStates")
      .def(py::init<>())
      .def_readwrite("timestamp", &RobotStates::timestamp)
      .def_readwrite("link_position", &RobotStates::link_position)
      .def_readwrite("motor_position", &RobotStates::motor_position)
      .def_readwrite("link_velocity", &RobotStates::link_velocity)
      .def_readwrite("motor_velocity", &RobotStates::motor_velocity)
      .def_readwrite("torque", &RobotStates::torque)
      .def_readwrite("torque_dot", &RobotStates::torque_dot)
      .def_readwrite("torque_ext", &RobotStates::torque_ext)
      .def_readwrite("torque_interact", &RobotStates::torque_interact)
      .def_readwrite("temperature", &RobotStates::temperature)
      .def_readwrite("tcp_pose", &RobotStates::tcp_pose)
      .def_readwrite("tcp_velocity", &RobotStates::tcp_velocity)
      .def_readwrite("flange_pose", &RobotStates::flange_pose)
      .def_readwrite("ft_sensor_raw", &RobotStates::ft_sensor_raw)
      .def_readwrite("ext_wrench_in_tcp", &RobotStates::ext_wrench_in_tcp)
      .def_readwrite("ext_wrench_in_world", &RobotStates::ext_wrench_in_world)
      .def_readwrite("ext_wrench_in_tcp_raw", &RobotStates::ext_wrench_in_tcp_raw)
      .def_readwrite("ext_wrench_in_world_raw", &RobotStates::ext_wrench_in_world_raw);

  py::class_<RobotActions>(m, "RobotActions")
      .def(py::init<>())
      .def_readwrite("position_des", &RobotActions::position_des)
      .def_readwrite("velocity_des", &RobotActions::velocity_des)
      .def_readwrite("torque_des", &RobotActions::torque_des)
      .def_readwrite("tcp_pose_des", &RobotActions::tcp_pose_des)
      .def_readwrite("tcp_velocity_des", &RobotActions::tcp_velocity_des)
      .def_readwrite("wrench_des_in_ctrl_frame", &RobotActions::wrench_des_in_ctrl_frame);

  py::class_<PlanInfo>(m, "PlanInfo")
      .def(py::init<>())
      .def_readwrite("item_0", &PlanInfo::item_0)
      .def_readwrite("item_1", &PlanInfo::item_1)
      .def_readwrite("item_2", &PlanInfo::item_2)
      .def_readwrite("item_3", &PlanInfo::item_3)
      .def_readwrite("item_4", &PlanInfo::item_4)
      .def_readwrite("item_5", &PlanInfo::item_5)
      .def_readwrite("item_6", &PlanInfo::item_6)
      .def_readwrite("item_7", &PlanInfo::item_7);

  py::class_<RobotEvent>(m, "RobotEvent")
      .def(py::init<>())
      .def_readwrite("level", &RobotEvent::level)
      .def_readwrite("id", &RobotEvent::id)
      .def_readwrite("description", &RobotEvent::description)
      .def_readwrite("consequences", &RobotEvent::consequences)
      .def_readwrite("probable_causes", &RobotEvent::probable_causes)
      .def_readwrite("recommended_actions", &RobotEvent::recommended_actions)
      .def_readwrite("timestamp", &RobotEvent::timestamp);

  py::class_<JPos>(m, "JPos")
      .def(py::init<>())
      .def_readwrite("q_m", &JPos::q_m)
      .def_readwrite("q_e", &JPos::q_e);

  py::class_<Coord>(m, "Coord")
      .def(py::init<>())
      .def_readwrite("position", &Coord::position)
      .def_readwrite("orientation", &Coord::orientation)
      .def_readwrite("ref_frame", &Coord::ref_frame)
      .def_readwrite("ref_q_m", &Coord::ref_q_m)
      .def_readwrite("ref_q_e", &Coord::ref_q_e);

  py::class_<NrtCartesianCmd>(m, "NrtCartesianCmd")
      .def(py::init<>())
      .def_readwrite("pose", &NrtCartesianCmd::pose)
      .def_readwrite("wrench", &NrtCartesianCmd::wrench)
      .def_readwrite("velocity", &NrtCartesianCmd::velocity)
      .def_readwrite("max_linear_vel", &NrtCartesianCmd::max_linear_vel)
      .def_readwrite("max_angular_vel", &NrtCartesianCmd::max_angular_vel)
      .def_readwrite("max_linear_acc", &NrtCartesianCmd::max_linear_acc)
      .def_readwrite("max_angular_acc", &NrtCartesianCmd::max_angular_acc);

  py::class_<GripperParams>(m, "GripperParams")
      .def(py::init<>())
      .def_readwrite("name", &GripperParams::name)
      .def_readwrite("min_width", &GripperParams::min_width)
      .def_readwrite("max_width", &GripperParams::max_width)
      .def_readwrite("min_vel", &GripperParams::min_vel)
      .def_readwrite("max_vel", &GripperParams::max_vel)
      .def_readwrite("min_force", &GripperParams::min_force)
      .def_readwrite("max_force", &GripperParams::max_force);

  py::class_<GripperStates>(m, "GripperStates")
      .def(py::init<>())
      .def_readwrite("width", &GripperStates::width)
      .def_readwrite("force", &GripperStates::force)
      .def_readwrite("is_moving", &GripperStates::is_moving);

  py::class_<Robot, std::shared_ptr<Robot>>(m, "Robot")
      .def("connected", &Robot::connected)
      .def("info", &Robot::info);
}
