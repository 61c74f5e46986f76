#include "sim/field_setters.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "sim/base64.h"
#include "sim/robot_state.h"

namespace quiral::sim {

namespace {

using nlohmann::json;
using Board = qor::SafetyBoardState;
using Sys = qor::SystemState;
using Setter = void (*)(RobotState&, const json&);

std::vector<double> Doubles(const json& j, size_t expected, const char* what) {
  auto v = j.get<std::vector<double>>();
  if (expected != 0 && v.size() != expected) {
    throw std::invalid_argument(std::string(what) + " needs " + std::to_string(expected) +
                                " values");
  }
  return v;
}

// Null resets an override; anything else replaces it.
template <class T>
void SetOverride(std::optional<T>& target, const json& value) {
  if (value.is_null()) {
    target.reset();
  } else {
    target = value.get<T>();
  }
}

void SetEstop(RobotState& s, const json& value) {
  const bool on = value.get<bool>();
  s.safety_inputs[kEstopInput] = on;
  if (on) {
    s.safety_board = Raw(Board::CAT_1_STOP);
    s.ChangeMode(kIdle);
  }
}

void SetFault(RobotState& s, const json& value) {
  if (value.is_null() || (value.is_boolean() && !value.get<bool>())) {
    if (s.fault == Fault::kCritical) s.safety_board = Raw(Board::CAT_1_STOP);
    if (s.fault != Fault::kNone) s.system_state = Raw(Sys::STOPPED_EXTERNAL_AUTO);
    s.fault = Fault::kNone;
    return;
  }
  const std::string kind = value.is_boolean() ? "minor" : value.get<std::string>();
  if (kind != "minor" && kind != "critical") {
    throw std::invalid_argument("fault must be \"minor\", \"critical\" or false");
  }
  s.fault = kind == "minor" ? Fault::kMinor : Fault::kCritical;
  s.system_state = Raw(Sys::FAULT_EXTERNAL_AUTO);
  if (s.fault == Fault::kCritical) s.safety_board = Raw(Board::CAT_0_STOP);
  s.ChangeMode(kIdle);
}

void SetRecovery(RobotState& s, const json& value) {
  if (value.get<bool>()) {
    s.safety_board = Raw(Board::RECOVERY);
    s.system_state = Raw(Sys::RECOVERY_EXTERNAL_AUTO);
    s.ChangeMode(kIdle);
  } else {
    s.safety_board = Raw(Board::CAT_1_STOP);
    s.system_state = Raw(Sys::STOPPED_EXTERNAL_AUTO);
  }
}

void SetJoints(RobotState& s, const json& value) {
  s.q = Doubles(value, s.dof, "joints");
  s.v.assign(s.dof, 0.0);
  s.StopMotion();
}

// Changes what the robot-information reply reports, not the simulation.
void SetRobotInfo(RobotState& s, const json& value) {
  if (!value.is_object()) throw std::invalid_argument("robot_info must be an object");
  const char* blocks[4] = {"q_max", "q_min", "joint_limit_3", "tau_max"};
  const std::vector<double>* simulated[4] = {&s.q_max, &s.q_min, &s.joint_limit_3, &s.tau_max};
  for (const auto& [k, v] : value.items()) {
    if (k == "server_text") {
      s.server_text = v.get<std::string>();
    } else if (k == "DoF_e") {
      s.info_dof_e = v.get<int32_t>();
    } else if (k == "DoF_m") {
      s.info_dof_m = v.get<int32_t>();
    } else if (k == "DoF") {
      s.info_dof = v.get<int32_t>();
    } else if (k == "reply_flag") {
      s.reply_flag = v.get<int32_t>();
    } else if (k == "floats") {
      SetOverride(s.info_floats_override, v);
    } else if (std::find(std::begin(blocks), std::end(blocks), k) != std::end(blocks)) {
      // Replaces one block of the float list, the others as before.
      std::vector<float> floats;
      const std::vector<float> base = s.info_floats_override.value_or(std::vector<float>());
      for (size_t b = 0; b < 4; ++b) {
        if (k == blocks[b]) {
          const auto block = v.get<std::vector<float>>();
          floats.insert(floats.end(), block.begin(), block.end());
        } else if (base.size() == 4 * s.dof) {
          floats.insert(floats.end(), base.begin() + b * s.dof, base.begin() + (b + 1) * s.dof);
        } else {
          for (double x : *simulated[b]) floats.push_back(static_cast<float>(x));
        }
      }
      s.info_floats_override = floats;
    } else {
      throw std::invalid_argument("unknown robot_info field '" + k + "'");
    }
  }
}

// [{"name", "duration_ms", "target"}] or plain names.
std::vector<Task> Tasks(const RobotState& s, const json& value, const char* what) {
  std::vector<Task> tasks;
  for (const auto& item : value) {
    Task t;
    t.name = item.is_string() ? item.get<std::string>() : item.at("name").get<std::string>();
    if (item.is_object() && item.contains("duration_ms")) {
      t.duration_s = item["duration_ms"].get<double>() / 1000.0;
    }
    if (item.is_object() && item.contains("target") && !item["target"].is_null()) {
      t.target = Doubles(item["target"], s.dof, what);
    }
    tasks.push_back(std::move(t));
  }
  return tasks;
}

void SetTools(RobotState& s, const json& value) {
  if (value.contains("list")) {
    std::vector<Tool> tools;
    for (const auto& t : value["list"]) {
      Tool tool;
      tool.name = t.at("name").get<std::string>();
      tool.mass = t.value("mass", 0.0f);
      if (t.contains("CoM")) tool.com = t["CoM"].get<std::array<float, 3>>();
      if (t.contains("inertia")) tool.inertia = t["inertia"].get<std::array<float, 6>>();
      if (t.contains("tcp_location")) tool.tcp = t["tcp_location"].get<std::array<float, 7>>();
      tools.push_back(tool);
    }
    s.tools = std::move(tools);
  }
  if (value.contains("active")) {
    const std::string name = value["active"].get<std::string>();
    if (!s.FindTool(name)) throw std::invalid_argument("no tool named '" + name + "'");
    s.active_tool = name;
  }
}

void SetPayload(RobotState& s, const json& value) {
  s.payload_result.mass = value.value("mass", s.payload_result.mass);
  if (value.contains("CoM")) s.payload_result.com = value["CoM"].get<std::array<float, 3>>();
  if (value.contains("inertia")) {
    s.payload_result.inertia = value["inertia"].get<std::array<float, 6>>();
  }
}

void SetDevices(RobotState& s, const json& value) {
  std::vector<Device> devices;
  for (const auto& d : value) {
    Device dev;
    dev.name = d.at("name").get<std::string>();
    dev.enabled = d.value("enabled", false);
    dev.connected = d.value("connected", true);
    if (d.contains("params")) {
      // An array of [name, value] pairs keeps its order; an object is taken
      // in name order.
      if (d["params"].is_array()) {
        for (const auto& p : d["params"]) {
          dev.params.emplace_back(p.at(0).get<std::string>(), p.at(1));
        }
      } else {
        for (const auto& [n, v] : d["params"].items()) dev.params.emplace_back(n, v);
      }
    }
    devices.push_back(std::move(dev));
  }
  s.devices = std::move(devices);
}

// [{"store", "name", "text" or "base64"}], added or replaced.
void SetFiles(RobotState& s, const json& value) {
  for (const auto& f : value) {
    const std::string store = f.at("store").get<std::string>();
    if (store != "urdf" && store != "trajectory" && store != "project" && store != "mesh") {
      throw std::invalid_argument("unknown file store '" + store + "'");
    }
    std::vector<uint8_t> bytes;
    if (f.contains("base64")) {
      bytes = Base64Decode(f["base64"].get<std::string>());
    } else {
      const std::string text = f.value("text", std::string());
      bytes.assign(text.begin(), text.end());
    }
    s.files.Put(store, f.at("name").get<std::string>(), std::move(bytes));
  }
}

const std::map<std::string, Setter>& Setters() {
  static const std::map<std::string, Setter> table = {
      // Safety and controller status.
      {"estop", SetEstop},
      {"enabling_button",
       [](RobotState& s, const json& v) { s.safety_inputs[kEnablingButtonInput] = v.get<bool>(); }},
      {"safety_inputs",
       [](RobotState& s, const json& v) { s.safety_inputs = v.get<std::array<bool, 8>>(); }},
      {"digital_inputs",
       [](RobotState& s, const json& v) { s.digital_inputs = v.get<std::array<bool, 18>>(); }},
      {"safety_board_state",
       [](RobotState& s, const json& v) { s.safety_board = v.get<int16_t>(); }},
      {"system_state", [](RobotState& s, const json& v) { s.system_state = v.get<uint16_t>(); }},
      {"mode", [](RobotState& s, const json& v) { s.mode = v.get<uint16_t>(); }},
      {"fault", SetFault},
      {"fault_clearable", [](RobotState& s, const json& v) { s.fault_clearable = v.get<bool>(); }},
      {"recovery", SetRecovery},
      {"program_running",
       [](RobotState& s, const json& v) { SetOverride(s.program_running_override, v); }},
      {"timeliness_failures",
       [](RobotState& s, const json& v) { s.timeliness_failures = v.get<uint64_t>(); }},
      {"velocity_scale",
       [](RobotState& s, const json& v) { s.velocity_scale = std::clamp(v.get<int>(), 0, 100); }},
      {"enable_delay_ms",
       [](RobotState& s, const json& v) { s.config.enable_delay_ms = v.get<int>(); }},
      {"clear_fault_delay_ms",
       [](RobotState& s, const json& v) { s.config.clear_fault_delay_ms = v.get<int>(); }},
      // Arm and gripper.
      {"joints", SetJoints},
      {"velocity_override",
       [](RobotState& s, const json& v) {
         if (v.is_null()) {
           s.velocity_override.reset();
         } else {
           s.velocity_override = Doubles(v, s.dof, "velocity_override");
         }
       }},
      {"lose_motion_commands",
       [](RobotState& s, const json& v) { s.lose_motion_commands = v.get<uint64_t>(); }},
      {"ext_wrench",
       [](RobotState& s, const json& v) {
         const auto w = Doubles(v, 6, "ext_wrench");
         std::copy(w.begin(), w.end(), s.ext_wrench.begin());
       }},
      {"gripper", [](RobotState& s, const json& v) { s.gripper.Set(v); }},
      {"gripper_device",
       [](RobotState& s, const json& v) { s.gripper_device = v.get<std::string>(); }},
      // What the services report.
      {"server_version",
       [](RobotState& s, const json& v) { s.server_version = v.get<std::string>(); }},
      {"lumo_version", [](RobotState& s, const json& v) { s.lumo_version = v.get<std::string>(); }},
      {"robot_info", SetRobotInfo},
      {"global_variables",
       [](RobotState& s, const json& v) {
         std::map<std::string, std::string> vars;
         for (const auto& [name, text] : v.items()) vars[name] = text.get<std::string>();
         s.global_variables = std::move(vars);
       }},
      {"plans", [](RobotState& s, const json& v) { s.plans = Tasks(s, v, "plans"); }},
      {"primitives",
       [](RobotState& s, const json& v) {
         auto tasks = Tasks(s, v, "primitives");
         s.primitives.clear();
         for (auto& t : tasks) s.primitives[t.name] = t;
       }},
      {"primitive_states",
       [](RobotState& s, const json& v) { SetOverride(s.primitive_states_override, v); }},
      {"plan_info", [](RobotState& s, const json& v) { SetOverride(s.plan_info_override, v); }},
      {"manipulability",
       [](RobotState& s, const json& v) { SetOverride(s.manipulability_override, v); }},
      {"reachability",
       [](RobotState& s, const json& v) {
         if (v.is_null()) {
           s.reachability_override.reset();
         } else {
           s.reachability_override = std::make_pair(
               v.at("reachable").get<bool>(),
               v.contains("solution") ? v["solution"].get<std::vector<double>>()
                                      : std::vector<double>());
         }
       }},
      {"tools", SetTools},
      {"payload", SetPayload},
      {"devices", SetDevices},
      {"work_coords",
       [](RobotState& s, const json& v) {
         std::map<std::string, std::array<float, 7>> coords;
         for (const auto& [name, pose] : v.items()) {
           coords[name] = pose.get<std::array<float, 7>>();
         }
         s.work_coords = std::move(coords);
       }},
      {"files", SetFiles},
      {"remove_files",
       [](RobotState& s, const json& v) {
         for (const auto& f : v) {
           s.files.Remove(f.at("store").get<std::string>(), f.at("name").get<std::string>());
         }
       }},
  };
  return table;
}

}  // namespace

void SetField(RobotState& s, const std::string& name, const json& value) {
  const auto& setters = Setters();
  const auto it = setters.find(name);
  if (it == setters.end()) throw std::invalid_argument("unknown field '" + name + "'");
  it->second(s, value);
}

}  // namespace quiral::sim
