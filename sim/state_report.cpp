#include "sim/state_report.h"

#include "sim/robot_state.h"

namespace quiral::sim {

using nlohmann::json;

namespace {

json ProgramReport(const std::optional<Program>& p) {
  if (!p) return nullptr;
  return {{"kind", p->is_plan ? "plan" : "primitive"},
          {"name", p->name},
          {"call", p->call_text},
          {"elapsed_s", p->elapsed_s},
          {"duration_s", p->duration_s},
          {"paused", p->paused},
          {"finished", p->finished},
          {"continue_exec", p->continue_exec},
          {"at_breakpoint", p->at_breakpoint},
          {"breakpoint_steps", p->breakpoint_steps}};
}

template <class Value>
json ById(const std::map<int, Value>& values) {
  json out = json::object();
  for (const auto& [id, value] : values) out[std::to_string(id)] = value;
  return out;
}

}  // namespace

json StateReport(const RobotState& s) {
  json j;
  j["serial"] = s.config.serial;
  j["dof"] = s.dof;
  j["mode"] = s.mode;
  j["safety_board_state"] = s.safety_board;
  j["system_state"] = s.system_state;
  j["operational"] = s.Operational();
  j["safety_inputs"] = s.safety_inputs;
  j["digital_inputs"] = s.digital_inputs;
  j["digital_outputs"] = s.digital_outputs;
  j["estop"] = s.safety_inputs[kEstopInput];
  j["enabling_button"] = s.safety_inputs[kEnablingButtonInput];
  j["fault"] = s.fault == Fault::kNone ? json()
                                       : json(s.fault == Fault::kMinor ? "minor" : "critical");
  j["program_running"] = ProgramRunning(s);
  j["program"] = ProgramReport(s.program);
  j["timeliness_failures"] = s.timeliness_failures;
  j["gripper"] = s.gripper.ToJson();
  const bool has_target = s.target_kind != Target::kNone && s.joint_target.size() == s.dof;
  j["joints"] = {{"position", s.q},
                 {"velocity", s.velocity_override ? *s.velocity_override : s.v},
                 {"target", has_target ? json(s.joint_target) : json()},
                 {"q_min", s.q_min},
                 {"q_max", s.q_max}};
  j["tcp_pose"] = s.last_tcp;
  j["held_object"] =
      s.held_object ? HeldObjectReport(*s.held_object, PoseToIsometry(s.last_tcp).translation())
                    : json();
  j["motion_applied"] = s.motion_applied;
  j["motion_ignored"] = s.motion_ignored;
  j["velocity_scale"] = s.velocity_scale;
  j["brakes_engaged"] = s.brakes_engaged;
  j["breakpoint_mode"] = s.breakpoint_mode;
  j["external_axes_locked"] = s.external_axes_locked;
  j["synced_with_positioner"] = s.synced_with_positioner;
  j["passive_force_control"] = s.passive_force_control;
  j["active_tool"] = s.active_tool;
  j["global_variables"] = s.global_variables;
  json devices = json::array();
  for (const auto& d : s.devices) {
    devices.push_back({{"name", d.name}, {"enabled", d.enabled}, {"connected", d.connected}});
  }
  j["devices"] = devices;
  j["settings"] = ById(s.setting_floats);
  j["setting_args"] = ById(s.setting_args);
  return j;
}

}  // namespace quiral::sim
