#include "sim/robot_state.h"

#include <algorithm>
#include <stdexcept>

namespace quiral::sim {

using nlohmann::json;
using Board = qor::SafetyBoardState;
using Sys = qor::SystemState;

RobotState::RobotState(const RobotConfig& c)
    : config(c), dof(c.dof_e + c.dof_m), kin(c.dof_e, c.dof_m) {
  if (dof == 0 || dof > 100) {
    throw std::invalid_argument("the robot needs 1 to 100 joints");
  }
  BuildDefaults();
  ApplyInitialState(c.initial_state);
}

void RobotState::BuildDefaults() {
  static const double kQMax7[7] = {2.79, 2.27, 2.96, 2.67, 2.96, 4.54, 2.96};
  static const double kTau7[7] = {123, 123, 64, 64, 39, 39, 39};
  static const double kHome7[7] = {0.0, -0.70, 0.0, 1.57, 0.0, 0.70, 0.0};
  q_min.resize(dof);
  q_max.resize(dof);
  joint_limit_3.resize(dof);
  tau_max.resize(dof);
  v_limit.assign(dof, 2.0);
  home.assign(dof, 0.0);
  // External axes (metres or radians) travel 1.5 either way from 0, their
  // home; arm joint i takes entry i % 7 of the tables.
  for (size_t i = 0; i < config.dof_e; ++i) {
    q_max[i] = 1.5;
    q_min[i] = -1.5;
    joint_limit_3[i] = 2.0;
    tau_max[i] = 200.0;
  }
  for (size_t i = config.dof_e; i < dof; ++i) {
    const size_t k = (i - config.dof_e) % 7;
    q_max[i] = kQMax7[k];
    q_min[i] = (k == 5) ? -1.40 : -kQMax7[k];
    joint_limit_3[i] = 2.0 + 0.1 * static_cast<double>(k);
    tau_max[i] = kTau7[k];
    home[i] = kHome7[k];
  }
  q = home;
  v.assign(dof, 0.0);
  info_dof_e = static_cast<int64_t>(config.dof_e);
  info_dof_m = static_cast<int64_t>(config.dof_m);
  info_dof = static_cast<int64_t>(dof);
  const std::string model = config.serial.substr(0, config.serial.find_first_of("-_"));
  server_text = "Quiral simulated controller, model " + model;

  global_variables = {{"counter", "0"},
                      {"home", "0 -0.7 0 1.57 0 0.7 0 0 0 0 0 0 0"},
                      {"label", "idle"},
                      {"speed", "0.5"}};
  std::vector<double> reach = home;
  reach[0] += 0.5;
  if (dof > 3) reach[3] -= 0.4;
  plans = {{"HomePlan", 1.0, home}, {"MainPlan", 2.0, reach}, {"WaitPlan", 1.5, std::nullopt}};
  primitives["Home"] = {"Home", 1.0, home};

  tools.push_back(Tool{"Flange", 0.0f, {}, {}, {0, 0, 0, 1, 0, 0, 0}});
  tools.push_back(Tool{"SimTool",
                       0.5f,
                       {0.0f, 0.0f, 0.05f},
                       {0.001f, 0.001f, 0.0005f, 0.0f, 0.0f, 0.0f},
                       {0.0f, 0.0f, 0.12f, 1.0f, 0.0f, 0.0f, 0.0f}});
  payload_result = tools[1];

  Device hand;
  hand.name = gripper_device;
  hand.params = {{"maxWidth", 0.1}, {"minWidth", 0.0}, {"maxForce", 80.0},
                 {"minForce", 5.0}, {"maxVel", 0.2},   {"minVel", 0.01},
                 {"model", "SimGripper-2F"}};
  devices.push_back(hand);
  Device camera;
  camera.name = "SimCamera";
  camera.params = {{"resolution", json::array({640, 480})}, {"fps", 30}};
  devices.push_back(camera);

  work_coords["WorldOrigin"] = {0, 0, 0, 1, 0, 0, 0};
  work_coords["Table"] = {0.5f, 0.0f, 0.1f, 1, 0, 0, 0};

  // The robot's own URDF, named as the client names it (blanks removed,
  // "_" written as "-"), its collision meshes and some stored files.
  const std::string urdf = kin.Urdf(config.serial, q_min, q_max, tau_max, v_limit);
  std::string normalised;
  for (char c : config.serial) {
    if (c != ' ') normalised.push_back(c == '_' ? '-' : c);
  }
  const auto bytes = [](const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
  };
  files.Put("urdf", normalised + ".urdf", bytes(urdf));
  const auto links = kin.MeshLinks();
  for (size_t k = 0; k < links.size(); ++k) {
    files.Put("mesh", "meshes/" + links[k] + ".stl", kin.LinkMeshStl(k));
  }
  files.Put("trajectory", "sample.traj", bytes("# simulated trajectory\n0.0 0.0 0.0\n"));
  files.Put("project", "SimProject.proj", bytes("<project name=\"SimProject\"/>\n"));
  files.Put("project", "SimProject.plan", bytes("<plan name=\"MainPlan\"/>\n"));
}

void RobotState::ApplyInitialState(const std::string& name) {
  safety_inputs.fill(false);
  fault = Fault::kNone;
  if (name == "disabled") {
    safety_board = Raw(Board::CAT_1_STOP);
    system_state = Raw(Sys::STOPPED_EXTERNAL_AUTO);
  } else if (name == "ready") {
    safety_board = Raw(Board::NORMAL);
    system_state = Raw(Sys::STOPPED_EXTERNAL_AUTO);
  } else if (name == "estop") {
    safety_board = Raw(Board::CAT_1_STOP);
    system_state = Raw(Sys::STOPPED_EXTERNAL_AUTO);
    safety_inputs[kEstopInput] = true;
  } else if (name == "fault") {
    safety_board = Raw(Board::NORMAL);
    system_state = Raw(Sys::FAULT_EXTERNAL_AUTO);
    fault = Fault::kMinor;
  } else if (name == "booting") {
    safety_board = Raw(Board::STARTUP);
    system_state = Raw(Sys::INIT);
    mode = Raw(qor::ExtCtrlMode::UNKNOWN);
  } else if (name == "recovery") {
    safety_board = Raw(Board::RECOVERY);
    system_state = Raw(Sys::RECOVERY_EXTERNAL_AUTO);
    const size_t joint = dof > 2 ? 2 : 0;
    q[joint] = q_max[joint] + 0.05;
  } else {
    throw std::invalid_argument("unknown initial state '" + name + "'");
  }
}

bool RobotState::Operational() const {
  if (safety_board == Raw(Board::REDUCED)) return true;
  if (safety_board == Raw(Board::NORMAL) || safety_board == Raw(Board::CAT_2_STOP)) {
    return system_state == Raw(Sys::STOPPED_EXTERNAL_AUTO) ||
           system_state == Raw(Sys::WORKING_EXTERNAL_AUTO);
  }
  return false;
}

void RobotState::StopMotion() {
  target_kind = Target::kNone;
  joint_target.clear();
  waypoints.clear();
  cart_target_new = false;
  commanded_torque.clear();
}

void RobotState::ChangeMode(int new_mode) {
  if (program && !program->finished) EndProgram(*this);
  StopMotion();
  mode = new_mode;
}

void RobotState::SetJointTarget(const std::vector<double>& goal_q,
                                const std::vector<double>* max_vel, double scale) {
  target_kind = Target::kJoint;
  joint_target.resize(dof);
  target_vmax.resize(dof);
  for (size_t i = 0; i < dof; ++i) {
    // A position inside the limits is kept inside; one outside (recovery)
    // is still followed, so that a joint can be brought back.
    const double goal = i < goal_q.size() ? goal_q[i] : q[i];
    const bool inside = q[i] >= q_min[i] && q[i] <= q_max[i];
    joint_target[i] = inside ? std::clamp(goal, q_min[i], q_max[i])
                             : std::clamp(goal, std::min(q_min[i], q[i]), std::max(q_max[i], q[i]));
    double vmax = v_limit[i];
    if (max_vel && i < max_vel->size() && (*max_vel)[i] > 0) {
      vmax = std::min(vmax, (*max_vel)[i]);
    }
    target_vmax[i] = vmax * std::clamp(scale, 0.0, 1.0);
  }
}

void RobotState::Schedule(int delay_ms, std::function<void()> action) {
  // Due on the simulation's own clock: the time of its latest step.
  const Clock::time_point base = stepped ? last_step : Clock::now();
  scheduled.emplace_back(base + std::chrono::milliseconds(std::max(delay_ms, 0)),
                         std::move(action));
}

void RobotState::RunScheduled(Clock::time_point now) {
  // Actions may schedule further actions; run the due ones in time order.
  std::sort(scheduled.begin(), scheduled.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::function<void()>> due;
  auto it = scheduled.begin();
  while (it != scheduled.end() && it->first <= now) {
    due.push_back(std::move(it->second));
    ++it;
  }
  scheduled.erase(scheduled.begin(), it);
  for (auto& action : due) action();
}

Eigen::Isometry3d RobotState::TcpOffset() const {
  const Tool* tool = FindTool(active_tool);
  if (!tool) return Eigen::Isometry3d::Identity();
  PoseVec p;
  for (size_t i = 0; i < 7; ++i) p[i] = tool->tcp[i];
  return PoseToIsometry(p);
}

const Tool* RobotState::FindTool(const std::string& name) const {
  for (const auto& t : tools) {
    if (t.name == name) return &t;
  }
  return nullptr;
}

Device* RobotState::FindDevice(const std::string& name) {
  for (auto& d : devices) {
    if (d.name == name) return &d;
  }
  return nullptr;
}

}  // namespace quiral::sim
