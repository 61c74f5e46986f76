#include "sim/robot_sim.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"
#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"
#include "msgs/vek_msgs/motion_commands.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "sim/base64.h"
#include "sim/crc32.h"

namespace quiral::sim {

using nlohmann::json;

uint64_t MonotonicNs(Clock::time_point t) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
}

namespace {

using Mode = qor::ExtCtrlMode;
using Board = qor::SafetyBoardState;
using Sys = qor::SystemState;

constexpr int kIdle = static_cast<int>(Mode::IDLE);
constexpr int kEstopInput = 7;
constexpr int kEnablingButtonInput = 5;
constexpr double kPositionGain = 50.0;  // 1/s, joint position tracking
constexpr double kMaxStep = 0.05;       // s, longest simulated step

// Plan time per plan node; in breakpoint mode a plan halts at each node.
constexpr double kPlanNodeSeconds = 0.5;

bool IsFaultState(int s) { return s >= 13 && s <= 15; }

int Mode_(Mode m) { return static_cast<int>(m); }
int Board_(Board b) { return static_cast<int>(b); }
int Sys_(Sys s) { return static_cast<int>(s); }

std::string Fmt(double v) {
  std::ostringstream out;
  out << v;
  return out.str();
}

bool AllFinite(const std::vector<float>& v) {
  return std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x); });
}

template <size_t N>
bool AllFinite(const std::array<float, N>& v) {
  return std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x); });
}

std::vector<double> ToDoubles(const std::vector<float>& v) {
  return std::vector<double>(v.begin(), v.end());
}

std::string LongString(const vek_msgs::msg::RPCRequest& request) {
  return request.long_string_arg().to_string();
}

// Name of a primitive call text "Name(args)"; empty when malformed.
std::string PrimitiveName(const std::string& text) {
  const size_t open = text.find('(');
  if (open == std::string::npos || open == 0 || text.empty() || text.back() != ')') {
    return {};
  }
  return text.substr(0, open);
}

std::vector<double> JsonDoubles(const json& j, size_t expected, const char* what) {
  auto v = j.get<std::vector<double>>();
  if (expected != 0 && v.size() != expected) {
    throw std::invalid_argument(std::string(what) + " needs " + std::to_string(expected) +
                                " values");
  }
  return v;
}

}  // namespace

RobotSim::RobotSim(const RobotConfig& config)
    : config_(config), dof_(config.dof_e + config.dof_m), kin_(config.dof_e + config.dof_m) {
  if (dof_ == 0 || dof_ > 100) {
    throw std::invalid_argument("the robot needs 1 to 100 joints");
  }
  BuildDefaults();
  ApplyInitialState(config.initial_state);
}

void RobotSim::BuildDefaults() {
  static const double kQMax7[7] = {2.79, 2.27, 2.96, 2.67, 2.96, 4.54, 2.96};
  static const double kTau7[7] = {123, 123, 64, 64, 39, 39, 39};
  q_min_.resize(dof_);
  q_max_.resize(dof_);
  joint_limit_3_.resize(dof_);
  tau_max_.resize(dof_);
  v_limit_.assign(dof_, 2.0);
  for (size_t i = 0; i < dof_; ++i) {
    const size_t k = i % 7;
    q_max_[i] = kQMax7[k];
    q_min_[i] = (k == 5) ? -1.40 : -kQMax7[k];
    joint_limit_3_[i] = 2.0 + 0.1 * static_cast<double>(k);
    tau_max_[i] = kTau7[k];
  }
  static const double kHome7[7] = {0.0, -0.70, 0.0, 1.57, 0.0, 0.70, 0.0};
  home_.assign(dof_, 0.0);
  for (size_t i = 0; i < dof_; ++i) home_[i] = kHome7[i % 7];
  q_ = home_;
  v_.assign(dof_, 0.0);
  info_dof_e_ = static_cast<int64_t>(config_.dof_e);
  info_dof_m_ = static_cast<int64_t>(config_.dof_m);
  info_dof_ = static_cast<int64_t>(dof_);
  const std::string model = config_.serial.substr(0, config_.serial.find_first_of("-_"));
  server_text_ = "Quiral simulated controller, model " + model;

  global_variables_ = {{"counter", "0"},
                       {"home", "0 -0.7 0 1.57 0 0.7 0 0 0 0 0 0 0"},
                       {"label", "idle"},
                       {"speed", "0.5"}};
  std::vector<double> reach = home_;
  reach[0] += 0.5;
  if (dof_ > 3) reach[3] -= 0.4;
  plans_ = {{"HomePlan", 1.0, home_}, {"MainPlan", 2.0, reach}, {"WaitPlan", 1.5, std::nullopt}};
  primitives_["Home"] = {"Home", 1.0, home_};

  tools_.push_back(Tool{"Flange", 0.0f, {}, {}, {0, 0, 0, 1, 0, 0, 0}});
  tools_.push_back(Tool{"SimTool",
                        0.5f,
                        {0.0f, 0.0f, 0.05f},
                        {0.001f, 0.001f, 0.0005f, 0.0f, 0.0f, 0.0f},
                        {0.0f, 0.0f, 0.12f, 1.0f, 0.0f, 0.0f, 0.0f}});
  payload_result_ = tools_[1];

  Device gripper;
  gripper.name = gripper_device_;
  gripper.params = {{"maxWidth", 0.1},  {"minWidth", 0.0}, {"maxForce", 80.0},
                    {"minForce", 5.0},  {"maxVel", 0.2},   {"minVel", 0.01},
                    {"model", "SimGripper-2F"}};
  devices_.push_back(gripper);
  Device camera;
  camera.name = "SimCamera";
  camera.params = {{"resolution", json::array({640, 480})}, {"fps", 30}};
  devices_.push_back(camera);

  work_coords_["WorldOrigin"] = {0, 0, 0, 1, 0, 0, 0};
  work_coords_["Table"] = {0.5f, 0.0f, 0.1f, 1, 0, 0, 0};

  // The robot's own URDF and collision meshes, and some stored files.
  std::vector<double> vel(v_limit_);
  const std::string urdf = kin_.Urdf(config_.serial, q_min_, q_max_, tau_max_, vel);
  // Named as the client names it: blanks removed, "_" written as "-".
  std::string normalised;
  for (char c : config_.serial) {
    if (c != ' ') normalised.push_back(c == '_' ? '-' : c);
  }
  PutFile("urdf", normalised + ".urdf", std::vector<uint8_t>(urdf.begin(), urdf.end()));
  const auto links = kin_.MeshLinks();
  for (size_t k = 0; k < links.size(); ++k) {
    PutFile("mesh", "meshes/" + links[k] + ".stl", kin_.LinkMeshStl(k));
  }
  const std::string traj = "# simulated trajectory\n0.0 0.0 0.0\n";
  PutFile("trajectory", "sample.traj", std::vector<uint8_t>(traj.begin(), traj.end()));
  const std::string proj = "<project name=\"SimProject\"/>\n";
  const std::string plan = "<plan name=\"MainPlan\"/>\n";
  PutFile("project", "SimProject.proj", std::vector<uint8_t>(proj.begin(), proj.end()));
  PutFile("project", "SimProject.plan", std::vector<uint8_t>(plan.begin(), plan.end()));
  digital_outputs_.fill(0);
}

void RobotSim::ApplyInitialState(const std::string& name) {
  safety_inputs_.fill(false);
  fault_ = Fault::kNone;
  if (name == "disabled") {
    safety_board_ = Board_(Board::CAT_1_STOP);
    system_state_ = Sys_(Sys::STOPPED_EXTERNAL_AUTO);
  } else if (name == "ready") {
    safety_board_ = Board_(Board::NORMAL);
    system_state_ = Sys_(Sys::STOPPED_EXTERNAL_AUTO);
  } else if (name == "estop") {
    safety_board_ = Board_(Board::CAT_1_STOP);
    system_state_ = Sys_(Sys::STOPPED_EXTERNAL_AUTO);
    safety_inputs_[kEstopInput] = true;
  } else if (name == "fault") {
    safety_board_ = Board_(Board::NORMAL);
    system_state_ = Sys_(Sys::FAULT_EXTERNAL_AUTO);
    fault_ = Fault::kMinor;
  } else if (name == "booting") {
    safety_board_ = Board_(Board::STARTUP);
    system_state_ = Sys_(Sys::INIT);
    mode_ = Mode_(Mode::UNKNOWN);
  } else if (name == "recovery") {
    safety_board_ = Board_(Board::RECOVERY);
    system_state_ = Sys_(Sys::RECOVERY_EXTERNAL_AUTO);
    q_[dof_ > 2 ? 2 : 0] = q_max_[dof_ > 2 ? 2 : 0] + 0.05;
  } else {
    throw std::invalid_argument("unknown initial state '" + name + "'");
  }
}

// ---------------------------------------------------------------- state rules

bool RobotSim::Operational() const {
  // Same rule as the client's operational status: READY or IN_REDUCED_STATE.
  if (safety_board_ == Board_(Board::REDUCED)) return true;
  if (safety_board_ == Board_(Board::NORMAL) || safety_board_ == Board_(Board::CAT_2_STOP)) {
    return system_state_ == Sys_(Sys::STOPPED_EXTERNAL_AUTO) ||
           system_state_ == Sys_(Sys::WORKING_EXTERNAL_AUTO);
  }
  return false;
}

void RobotSim::StopMotion() {
  target_kind_ = Target::kNone;
  joint_target_.clear();
  waypoints_.clear();
  cart_target_new_ = false;
  commanded_torque_.clear();
}

void RobotSim::ChangeMode(int mode) {
  if (program_ && !program_->finished) EndProgram();
  StopMotion();
  mode_ = mode;
}

void RobotSim::StartProgram(Program program) {
  StopMotion();
  program_ = std::move(program);
  if (program_->target) {
    SetJointTarget(*program_->target, nullptr, velocity_scale_ / 100.0);
  }
  if (system_state_ == Sys_(Sys::STOPPED_EXTERNAL_AUTO)) {
    system_state_ = Sys_(Sys::WORKING_EXTERNAL_AUTO);
  }
}

void RobotSim::EndProgram() {
  if (program_) program_->finished = true;
  StopMotion();
  if (system_state_ == Sys_(Sys::WORKING_EXTERNAL_AUTO)) {
    system_state_ = Sys_(Sys::STOPPED_EXTERNAL_AUTO);
  }
}

void RobotSim::ResumeFromBreakpoint(bool step) {
  if (!program_ || program_->finished || !program_->at_breakpoint) return;
  program_->at_breakpoint = false;
  if (step) ++program_->breakpoint_steps;
  if (program_->target && !program_->paused) {
    SetJointTarget(*program_->target, nullptr, velocity_scale_ / 100.0);
  }
}

void RobotSim::SetJointTarget(const std::vector<double>& q, const std::vector<double>* max_vel,
                              double scale) {
  target_kind_ = Target::kJoint;
  joint_target_.resize(dof_);
  target_vmax_.resize(dof_);
  for (size_t i = 0; i < dof_; ++i) {
    // A position inside the limits is kept inside; one outside (recovery)
    // is still followed, so that a joint can be brought back.
    const double goal = i < q.size() ? q[i] : q_[i];
    const bool inside = q_[i] >= q_min_[i] && q_[i] <= q_max_[i];
    joint_target_[i] = inside ? std::clamp(goal, q_min_[i], q_max_[i])
                              : std::clamp(goal, std::min(q_min_[i], q_[i]), std::max(q_max_[i], q_[i]));
    double vmax = v_limit_[i];
    if (max_vel && i < max_vel->size() && (*max_vel)[i] > 0) {
      vmax = std::min(vmax, (*max_vel)[i]);
    }
    target_vmax_[i] = vmax * std::clamp(scale, 0.0, 1.0);
  }
}

void RobotSim::Schedule(int delay_ms, std::function<void()> action) {
  // Due on the simulation's own clock: the time of its latest step.
  const Clock::time_point base = stepped_ ? last_step_ : Clock::now();
  scheduled_.emplace_back(base + std::chrono::milliseconds(std::max(delay_ms, 0)),
                          std::move(action));
}

void RobotSim::RunScheduled(Clock::time_point now) {
  // Actions may schedule further actions; run the due ones in time order.
  std::sort(scheduled_.begin(), scheduled_.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::function<void()>> due;
  auto it = scheduled_.begin();
  while (it != scheduled_.end() && it->first <= now) {
    due.push_back(std::move(it->second));
    ++it;
  }
  scheduled_.erase(scheduled_.begin(), it);
  for (auto& action : due) action();
}

Eigen::Isometry3d RobotSim::TcpOffset() const {
  const Tool* tool = FindTool(active_tool_);
  if (!tool) return Eigen::Isometry3d::Identity();
  PoseVec p;
  for (size_t i = 0; i < 7; ++i) p[i] = tool->tcp[i];
  return PoseToIsometry(p);
}

const RobotSim::Tool* RobotSim::FindTool(const std::string& name) const {
  for (const auto& t : tools_) {
    if (t.name == name) return &t;
  }
  return nullptr;
}

RobotSim::Device* RobotSim::FindDevice(const std::string& name) {
  for (auto& d : devices_) {
    if (d.name == name) return &d;
  }
  return nullptr;
}

// ---------------------------------------------------------------- simulation

void RobotSim::StepMotion(double dt) {
  if (target_kind_ == Target::kCartesian && cart_target_new_) {
    std::vector<double> goal = q_;
    kin_.SolveIk(cart_target_, TcpOffset(), q_min_, q_max_, false, 30, goal);
    joint_target_ = goal;
    target_vmax_ = v_limit_;
    cart_target_new_ = false;
  }
  if (target_kind_ == Target::kWaypoints) {
    bool reached = joint_target_.size() == dof_;
    for (size_t i = 0; reached && i < dof_; ++i) {
      reached = std::abs(joint_target_[i] - q_[i]) < 1e-3 && std::abs(v_[i]) < 0.017;
    }
    if ((reached || joint_target_.size() != dof_) && !waypoints_.empty()) {
      joint_target_ = waypoints_.front();
      waypoints_.pop_front();
      target_vmax_ = v_limit_;
    }
  }
  const bool has_target = target_kind_ != Target::kNone && joint_target_.size() == dof_ &&
                          target_vmax_.size() == dof_;
  for (size_t i = 0; i < dof_; ++i) {
    double vdes = 0.0;
    if (has_target) {
      const double err = joint_target_[i] - q_[i];
      const double mag = std::min({target_vmax_[i], std::sqrt(2.0 * a_limit_ * std::abs(err)),
                                   kPositionGain * std::abs(err)});
      vdes = std::copysign(mag, err);
    }
    const double dv = std::clamp(vdes - v_[i], -a_limit_ * dt, a_limit_ * dt);
    v_[i] += dv;
    double next = q_[i] + v_[i] * dt;
    if (has_target && (joint_target_[i] - q_[i]) * (joint_target_[i] - next) < 0) {
      next = joint_target_[i];
      v_[i] = 0.0;
    }
    const bool inside = q_[i] >= q_min_[i] && q_[i] <= q_max_[i];
    if (inside && (next < q_min_[i] || next > q_max_[i])) {
      next = std::clamp(next, q_min_[i], q_max_[i]);
      v_[i] = 0.0;
    }
    q_[i] = next;
  }
}

void RobotSim::StepProgram(double dt) {
  if (!program_ || program_->finished || program_->paused || program_->at_breakpoint) return;
  const double next = program_->elapsed_s + dt * std::clamp(velocity_scale_, 0, 100) / 100.0;
  if (program_->is_plan && breakpoint_mode_) {
    // In breakpoint mode a plan halts at the start of each of its nodes
    // (every kPlanNodeSeconds of plan time) until it is stepped on.
    const double boundary =
        (std::floor(program_->elapsed_s / kPlanNodeSeconds + 1e-9) + 1.0) * kPlanNodeSeconds;
    if (next >= boundary && boundary < program_->duration_s) {
      program_->elapsed_s = boundary;
      program_->at_breakpoint = true;
      StopMotion();
      return;
    }
  }
  program_->elapsed_s = next;
  if (program_->elapsed_s >= program_->duration_s) {
    program_->elapsed_s = program_->duration_s;
    program_->finished = true;
    if (system_state_ == Sys_(Sys::WORKING_EXTERNAL_AUTO)) {
      system_state_ = Sys_(Sys::STOPPED_EXTERNAL_AUTO);
    }
  }
}

void RobotSim::Step(Clock::time_point now, vek_msgs::msg::RealtimeStates& rt,
                    quiral_lumo_msgs::msg::AllBasicStreamData& basic,
                    quiral_lumo_msgs::msg::AllExtraStreamData& extra) {
  std::lock_guard<std::mutex> lock(mu_);
  double dt = 0.0;
  if (stepped_) {
    dt = std::chrono::duration<double>(now - last_step_).count();
    dt = std::clamp(dt, 0.0, kMaxStep);
  }
  stepped_ = true;
  last_step_ = now;
  RunScheduled(now);
  if (dt > 0) {
    StepMotion(dt);
    StepProgram(dt);
    if (gripper_motion_) {
      const float step = gripper_speed_ * static_cast<float>(dt);
      const float diff = gripper_target_ - gripper_width_;
      if (std::abs(diff) <= step) {
        gripper_width_ = gripper_target_;
        gripper_moving_ = gripper_motion_ = false;
      } else {
        gripper_width_ += std::copysign(step, diff);
      }
    }
  }

  const Eigen::Isometry3d tcp_offset = TcpOffset();
  const Eigen::Isometry3d flange = kin_.Flange(q_);
  const PoseVec tcp = IsometryToPose(flange * tcp_offset);
  const PoseVec flange_pose = IsometryToPose(flange);
  const std::vector<double>& vel = velocity_override_ ? *velocity_override_ : v_;
  Eigen::VectorXd qd(static_cast<Eigen::Index>(dof_));
  for (size_t i = 0; i < dof_; ++i) qd[static_cast<Eigen::Index>(i)] = vel[i];
  const Eigen::VectorXd twist = kin_.Jacobian(q_, tcp_offset) * qd;

  const bool running = program_running_override_
                           ? *program_running_override_
                           : (program_.has_value() && !program_->finished);
  auto& status = rt.system_status();
  status.program_running(running);
  status.timeliness_failures(timeliness_failures_);
  status.ctrl_mode(static_cast<uint16_t>(mode_));
  auto& grip = rt.gripper_states();
  grip.width(gripper_width_);
  grip.force(gripper_force_);
  grip.is_moving(gripper_moving_);

  auto& bs = basic.system_status();
  bs.system_state(static_cast<uint16_t>(system_state_));
  bs.safety_state(static_cast<int16_t>(safety_board_));
  bs.safety_inputs(safety_inputs_);
  bs.digital_inputs(digital_inputs_);
  auto& joint = basic.joint();
  auto fill = [this](std::vector<float>& out, auto&& value_of) {
    out.resize(dof_);
    for (size_t i = 0; i < dof_; ++i) out[i] = static_cast<float>(value_of(i));
  };
  fill(joint.link_position(), [&](size_t i) { return q_[i]; });
  fill(joint.motor_position(), [&](size_t i) { return q_[i]; });
  fill(joint.link_velocity(), [&](size_t i) { return vel[i]; });
  fill(joint.motor_velocity(), [&](size_t i) { return vel[i]; });
  const bool torque_mode = mode_ == Mode_(Mode::RT_JOINT_TORQUE);
  fill(joint.torque(), [&](size_t i) {
    return torque_mode && i < commanded_torque_.size() ? commanded_torque_[i] : 0.0f;
  });
  fill(joint.torque_dot(), [](size_t) { return 0.0; });
  fill(joint.torque_ext(), [](size_t) { return 0.0; });
  fill(joint.torque_interact(), [](size_t) { return 0.0; });
  fill(joint.torque_des(), [&](size_t i) {
    return torque_mode && i < commanded_torque_.size() ? commanded_torque_[i] : 0.0f;
  });
  fill(joint.temperature(), [](size_t) { return 30.0; });
  joint.link_contact_force().clear();
  joint.link_contact_pos().clear();
  auto& cart = basic.cartesian();
  for (size_t i = 0; i < 7; ++i) {
    cart.tcp_pose()[i] = static_cast<float>(tcp[i]);
    cart.flange_pose()[i] = static_cast<float>(flange_pose[i]);
  }
  for (size_t i = 0; i < 6; ++i) {
    cart.tcp_velocity()[i] = static_cast<float>(twist[static_cast<Eigen::Index>(i)]);
    cart.ft_sensor_raw()[i] = static_cast<float>(ext_wrench_[i]);
    cart.ext_wrench_in_tcp()[i] = static_cast<float>(ext_wrench_[i]);
    cart.ext_wrench_in_tcp_raw()[i] = static_cast<float>(ext_wrench_[i]);
  }
  const auto wall = std::chrono::system_clock::now().time_since_epoch();
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(wall);
  basic.server_time().sec(static_cast<int32_t>(secs.count()));
  basic.server_time().nanosec(static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(wall - secs).count()));

  const bool has_target = target_kind_ != Target::kNone && joint_target_.size() == dof_;
  const std::vector<double>& q_des = has_target ? joint_target_ : q_;
  fill(extra.joint().position_des(), [&](size_t i) { return q_des[i]; });
  fill(extra.joint().velocity_des(), [&](size_t i) { return v_[i]; });
  const PoseVec tcp_des = has_target ? IsometryToPose(kin_.Flange(q_des) * tcp_offset) : tcp;
  for (size_t i = 0; i < 7; ++i) extra.cartesian().tcp_pose_des()[i] = static_cast<float>(tcp_des[i]);
  for (size_t i = 0; i < 6; ++i) {
    extra.cartesian().tcp_velocity_des()[i] = static_cast<float>(twist[static_cast<Eigen::Index>(i)]);
    extra.cartesian().wrench_des_in_ctrl_frame()[i] = 0.0f;
  }
  last_tcp_ = tcp;
}

// ---------------------------------------------------------------- motion commands

bool RobotSim::ApplyMotionCommand(const vek_msgs::msg::MotionCommands& command) {
  std::lock_guard<std::mutex> lock(mu_);
  const auto& jc = command.joint_commands();
  const auto& cc = command.cartesian_commands();
  bool applied = false;
  if (Operational() || mode_ == Mode_(Mode::AUTO_RECOVERY)) {
    switch (static_cast<Mode>(mode_)) {
      case Mode::RT_JOINT_TORQUE:
        if (jc.torque().size() == dof_ && AllFinite(jc.torque())) {
          commanded_torque_ = jc.torque();
          applied = true;
        }
        break;
      case Mode::RT_JOINT_IMPEDANCE:
      case Mode::RT_JOINT_POSITION:
        if (jc.position().size() == dof_ && AllFinite(jc.position())) {
          SetJointTarget(ToDoubles(jc.position()), nullptr, 1.0);
          applied = true;
        }
        break;
      case Mode::NRT_JOINT_IMPEDANCE:
      case Mode::NRT_JOINT_POSITION:
      case Mode::AUTO_RECOVERY:
        if (jc.position().size() == dof_ && jc.max_vel().size() == dof_ &&
            AllFinite(jc.position()) && AllFinite(jc.max_vel())) {
          const auto max_vel = ToDoubles(jc.max_vel());
          SetJointTarget(ToDoubles(jc.position()), &max_vel, 1.0);
          applied = true;
        }
        break;
      case Mode::RT_CARTESIAN_MOTION_FORCE:
      case Mode::NRT_CARTESIAN_MOTION_FORCE:
      case Mode::NRT_SUPER_PRIMITIVE: {
        const auto& multi = command.cartesian_multi_commands();
        const auto& positions = command.joint_multi_positions();
        if (mode_ == Mode_(Mode::NRT_SUPER_PRIMITIVE) && !multi.empty()) {
          bool ok = positions.size() == multi.size();
          for (const auto& p : positions) ok = ok && p.size() == dof_ && AllFinite(p);
          if (ok) {
            StopMotion();
            for (const auto& p : positions) waypoints_.push_back(ToDoubles(p));
            target_kind_ = Target::kWaypoints;
            applied = true;
          }
        } else if (AllFinite(cc.pose())) {
          PoseVec pose;
          for (size_t i = 0; i < 7; ++i) pose[i] = cc.pose()[i];
          const double qn = std::sqrt(pose[3] * pose[3] + pose[4] * pose[4] + pose[5] * pose[5] +
                                      pose[6] * pose[6]);
          if (qn > 1e-6) {
            cart_target_ = PoseToIsometry(pose);
            cart_target_new_ = true;
            target_kind_ = Target::kCartesian;
            applied = true;
          }
        }
        break;
      }
      default:
        break;
    }
  }
  if (applied) {
    ++motion_applied_;
  } else {
    ++motion_ignored_;
  }
  return applied;
}

// ---------------------------------------------------------------- files

void RobotSim::PutFile(const std::string& store, const std::string& name,
                       std::vector<uint8_t> bytes) {
  StoredFile f;
  f.crc = Crc32(bytes.data(), bytes.size());
  f.bytes = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
  files_[store][name] = std::move(f);
}

bool RobotSim::ServeFile(const std::string& store, const std::string& name,
                         vek_msgs::msg::RPCReply& reply) {
  const auto s = files_.find(store);
  if (s == files_.end()) return false;
  const auto f = s->second.find(name);
  if (f == s->second.end()) return false;
  reply.string_container({name});
  reply.int_container({static_cast<int32_t>(f->second.crc)});
  reply.raw_bytes_container(*f->second.bytes);
  return true;
}

bool RobotSim::StoreUpload(const std::string& store, const vek_msgs::msg::RPCRequest& request) {
  const std::string name = LongString(request);
  const auto& bytes = request.raw_bytes_arg();
  if (name.empty() || request.int_args().size() != 1 || bytes.size() > 1000000) return false;
  const uint32_t crc = Crc32(bytes.data(), bytes.size());
  if (crc != static_cast<uint32_t>(request.int_args()[0])) return false;
  PutFile(store, name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
  return true;
}

json RobotSim::FilesJson(const std::string& store, bool with_bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  json out = json::array();
  const auto s = files_.find(store);
  if (s == files_.end()) return out;
  for (const auto& [name, f] : s->second) {
    json item{{"name", name}, {"size", f.bytes->size()}, {"crc32", f.crc}};
    if (with_bytes) item["base64"] = Base64Encode(f.bytes->data(), f.bytes->size());
    out.push_back(std::move(item));
  }
  return out;
}

// ---------------------------------------------------------------- operations service

bool RobotSim::SetGlobalVariables(const std::string& text) {
  // "a = 1, b = 0 0 1, c = text": items are separated by ", " and each
  // starts with a known name followed by " = "; a piece that does not start
  // that way continues the value before it.
  if (text.empty()) return false;
  std::vector<std::pair<std::string, std::string>> items;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(", ", pos);
    if (end == std::string::npos) end = text.size();
    const std::string piece = text.substr(pos, end - pos);
    const size_t eq = piece.find(" = ");
    const std::string name = eq == std::string::npos ? std::string() : piece.substr(0, eq);
    const bool name_like = !name.empty() && name.find(' ') == std::string::npos;
    if (name_like) {
      if (global_variables_.count(name) == 0) return false;
      items.emplace_back(name, piece.substr(eq + 3));
    } else if (!items.empty()) {
      items.back().second += ", " + piece;
    } else {
      return false;
    }
    pos = end + 2;
  }
  for (auto& [name, value] : items) global_variables_[name] = value;
  return true;
}

bool RobotSim::ServeDeviceParam(const vek_msgs::msg::RPCRequest& request,
                                vek_msgs::msg::RPCReply& reply) {
  const auto& args = request.string_args();
  if (args.size() != 2) return false;
  Device* device = FindDevice(args[0]);
  if (!device) return false;
  for (const auto& [name, value] : device->params) {
    if (name != args[1]) continue;
    if (value.is_null()) return false;
    if (value.is_number_integer()) {
      reply.int_container({value.get<int32_t>()});
    } else if (value.is_number()) {
      reply.float_container({value.get<float>()});
    } else if (value.is_string()) {
      reply.string_container({value.get<std::string>()});
    } else if (value.is_array()) {
      bool all_int = true, all_num = true, all_str = true;
      for (const auto& e : value) {
        all_int = all_int && e.is_number_integer();
        all_num = all_num && e.is_number();
        all_str = all_str && e.is_string();
      }
      if (value.empty()) {
        // Nothing in any container.
      } else if (all_int) {
        reply.int_container(value.get<std::vector<int32_t>>());
      } else if (all_num) {
        reply.float_container(value.get<std::vector<float>>());
      } else if (all_str) {
        reply.string_container(value.get<std::vector<std::string>>());
      } else {
        return false;
      }
    } else {
      return false;
    }
    return true;
  }
  return false;
}

bool RobotSim::DeviceCommand(const vek_msgs::msg::RPCRequest& request) {
  Device* device = FindDevice(LongString(request));
  if (!device) return false;
  const auto& names = request.string_args();
  const auto& ints = request.int_args();
  const auto& floats = request.float_args();
  if (names.size() != ints.size() || names.size() != floats.size()) return false;
  std::map<std::string, double> values;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& tagged = names[i];
    const size_t lt = tagged.rfind('<');
    if (lt == std::string::npos || tagged.back() != '>') return false;
    const std::string type = tagged.substr(lt);
    const std::string key = tagged.substr(0, lt);
    if (type == "<bool>" || type == "<int>") {
      values[key] = ints[i];
    } else if (type == "<double>") {
      values[key] = floats[i];
    } else {
      return false;
    }
  }
  if (device->name == gripper_device_) {
    if (values.count("isInit")) {
      gripper_target_ = 0.1f;
      gripper_moving_ = gripper_motion_ = gripper_width_ != gripper_target_;
    }
    if (values.count("targetVel") && values["targetVel"] > 0) {
      gripper_speed_ = static_cast<float>(values["targetVel"]);
    }
    if (values.count("targetWidth")) {
      gripper_target_ = static_cast<float>(values["targetWidth"]);
      gripper_moving_ = gripper_motion_ = gripper_width_ != gripper_target_;
    } else if (values.count("targetForce")) {
      gripper_target_ = 0.0f;  // grasp: close until the object is held
      gripper_moving_ = gripper_motion_ = gripper_width_ != gripper_target_;
    }
    if (values.count("targetForce")) gripper_force_ = static_cast<float>(values["targetForce"]);
  }
  return true;
}

bool RobotSim::Reachability(const vek_msgs::msg::RPCRequest& request,
                            vek_msgs::msg::RPCReply& reply) {
  const auto& f = request.float_args();
  if (request.int_args().size() != 1 || f.size() != 7 + dof_ || !AllFinite(f)) return false;
  bool reachable = false;
  std::vector<double> solution(f.begin() + 7, f.end());
  if (reachability_override_) {
    reachable = reachability_override_->first;
    if (reachability_override_->second.size() == dof_) solution = reachability_override_->second;
  } else {
    PoseVec pose;
    for (size_t i = 0; i < 7; ++i) pose[i] = f[i];
    reachable = kin_.SolveIk(PoseToIsometry(pose), TcpOffset(), q_min_, q_max_,
                             request.int_args()[0] != 0, 300, solution);
  }
  reply.int_container({reachable ? 1 : 0});
  reply.float_container(std::vector<float>(solution.begin(), solution.end()));
  return true;
}

void RobotSim::HandleOps(const vek_msgs::msg::RPCRequest& request,
                         vek_msgs::msg::RPCReply& reply) {
  std::lock_guard<std::mutex> lock(mu_);
  const uint16_t id = request.procedure_id();
  const auto& ints = request.int_args();
  const auto& floats = request.float_args();
  const auto& strings = request.string_args();
  reply.procedure_id(id);
  bool ok = false;
  auto floats_n = [&](size_t n) { return floats.size() == n && AllFinite(floats); };
  switch (id) {
    case 1:  // enable
      if (safety_inputs_[kEstopInput] || fault_ != Fault::kNone ||
          IsFaultState(system_state_)) {
        ok = false;
      } else if (safety_board_ == Board_(Board::NORMAL) || safety_board_ == Board_(Board::REDUCED)) {
        ok = true;
      } else if (safety_board_ == Board_(Board::CAT_1_STOP) ||
                 safety_board_ == Board_(Board::CAT_2_STOP) ||
                 safety_board_ == Board_(Board::RELEASE_BRAKE)) {
        ok = true;
        safety_board_ = Board_(Board::RELEASE_BRAKE);
        Schedule(config_.enable_delay_ms, [this] {
          if (safety_board_ == Board_(Board::RELEASE_BRAKE) && !safety_inputs_[kEstopInput]) {
            safety_board_ = Board_(Board::NORMAL);
            system_state_ = Sys_(Sys::STOPPED_EXTERNAL_AUTO);
          }
        });
      }
      break;
    case 2:  // clear fault
      ok = true;
      if (fault_ != Fault::kNone && fault_clearable_) {
        Schedule(config_.clear_fault_delay_ms, [this] {
          if (fault_ == Fault::kCritical) safety_board_ = Board_(Board::CAT_1_STOP);
          if (fault_ != Fault::kNone) {
            fault_ = Fault::kNone;
            system_state_ = Sys_(Sys::STOPPED_EXTERNAL_AUTO);
          }
        });
      }
      break;
    case 3:
      reply.string_container({server_version_});
      ok = true;
      break;
    case 5:
      ok = ServeFile("urdf", LongString(request), reply);
      break;
    case 6: {
      reply.string_container({server_text_});
      reply.int_container({static_cast<int32_t>(info_dof_e_), static_cast<int32_t>(info_dof_m_),
                           static_cast<int32_t>(info_dof_), reply_flag_});
      if (info_floats_override_) {
        reply.float_container(*info_floats_override_);
      } else {
        std::vector<float> fl;
        for (const auto* block : {&q_max_, &q_min_, &joint_limit_3_, &tau_max_}) {
          for (double x : *block) fl.push_back(static_cast<float>(x));
        }
        reply.float_container(std::move(fl));
      }
      ok = true;
      break;
    }
    case 7: {
      if (ints.size() != 1) break;
      const int mode = ints[0];
      if (mode == kIdle) {
        ChangeMode(kIdle);
        ok = true;
      } else if (mode == Mode_(Mode::AUTO_RECOVERY)) {
        ok = safety_board_ == Board_(Board::RECOVERY);
        if (ok) ChangeMode(mode);
      } else if (mode > kIdle && mode < Mode_(Mode::AUTO_RECOVERY)) {
        ok = Operational();
        if (ok) ChangeMode(mode);
      }
      break;
    }
    case 8:
      if (ints.size() == 18 &&
          std::all_of(ints.begin(), ints.end(), [](int v) { return v >= -1 && v <= 1; })) {
        for (size_t i = 0; i < 18; ++i) {
          if (ints[i] >= 0) digital_outputs_[i] = ints[i];
        }
        ok = true;
      }
      break;
    case 9:
      if (ints.size() == 1) {
        brakes_engaged_ = ints[0] != 0;
        ok = true;
      }
      break;
    case 10:
      ok = Reachability(request, reply);
      break;
    case 11:
      for (const auto& [name, value] : global_variables_) {
        reply.string_container().push_back(name + " = " + value);
      }
      ok = true;
      break;
    case 12:
      ok = SetGlobalVariables(LongString(request));
      break;
    case 13:
      ok = ints.size() == 1 && mode_ == kIdle;
      if (ok) external_axes_locked_ = ints[0] != 0;
      break;
    case 14:
      ok = ints.size() == 1;
      if (ok) synced_with_positioner_ = ints[0] != 0;
      break;
    case 20:
      ok = ints.size() == 1 && ints[0] >= 0 && ints[0] <= 100;
      if (ok) {
        velocity_scale_ = ints[0];
        if (program_ && !program_->finished && program_->target) {
          SetJointTarget(*program_->target, nullptr, velocity_scale_ / 100.0);
        }
      }
      break;
    case 21: {
      const std::string text = LongString(request);
      const std::string name = PrimitiveName(text);
      ok = !name.empty() && mode_ == Mode_(Mode::NRT_PRIMITIVE_EXECUTION) && Operational();
      if (ok) {
        Program p;
        p.is_plan = false;
        p.name = name;
        p.call_text = text;
        const auto it = primitives_.find(name);
        if (it != primitives_.end()) {
          p.duration_s = it->second.duration_s;
          p.target = it->second.target;
        }
        StartProgram(std::move(p));
      }
      break;
    }
    case 22: {
      const std::string name = LongString(request);
      const auto it = std::find_if(plans_.begin(), plans_.end(),
                                   [&](const Task& t) { return t.name == name; });
      ok = it != plans_.end() && ints.size() == 1 &&
           mode_ == Mode_(Mode::NRT_PLAN_EXECUTION) && Operational();
      if (ok) {
        Program p;
        p.name = name;
        p.call_text = name;
        p.duration_s = it->duration_s;
        p.target = it->target;
        p.continue_exec = ints[0] != 0;
        StartProgram(std::move(p));
      }
      break;
    }
    case 23:
      for (const auto& t : plans_) reply.string_container().push_back(t.name);
      ok = true;
      break;
    case 24:
    case 25:
      ok = mode_ == Mode_(Mode::NRT_PLAN_EXECUTION);
      if (ok && program_ && program_->is_plan && !program_->finished) {
        program_->paused = id == 24;
        if (program_->paused) {
          StopMotion();
        } else if (program_->target && !program_->at_breakpoint) {
          SetJointTarget(*program_->target, nullptr, velocity_scale_ / 100.0);
        }
      }
      break;
    case 26:
      ok = mode_ == Mode_(Mode::NRT_PLAN_EXECUTION);
      if (ok && program_ && !program_->finished) EndProgram();
      break;
    case 27:
      ok = ints.size() == 1 && mode_ == Mode_(Mode::NRT_PLAN_EXECUTION);
      if (ok) {
        breakpoint_mode_ = ints[0] != 0;
        // Leaving breakpoint mode lets a plan waiting at a breakpoint go on.
        if (!breakpoint_mode_) ResumeFromBreakpoint(false);
      }
      break;
    case 28:
      ok = mode_ == Mode_(Mode::NRT_PLAN_EXECUTION);
      if (ok) ResumeFromBreakpoint(true);
      break;
    case 34:
    case 35: {
      const Tool* tool = FindTool(id == 34 ? active_tool_ : request.tool_params().name());
      if (tool) {
        auto& tp = reply.tool_params();
        tp.name(tool->name);
        tp.mass(tool->mass);
        tp.CoM(tool->com);
        tp.inertia(tool->inertia);
        tp.tcp_location(tool->tcp);
        ok = true;
      }
      break;
    }
    case 37: {
      auto& tp = reply.tool_params();
      tp.name(payload_result_.name);
      tp.mass(payload_result_.mass);
      tp.CoM(payload_result_.com);
      tp.inertia(payload_result_.inertia);
      ok = true;
      break;
    }
    case 40:
      for (const auto& d : devices_) reply.string_container().push_back(d.name);
      ok = true;
      break;
    case 41: {
      Device* device = FindDevice(LongString(request));
      ok = device != nullptr && ints.size() == 1;
      if (ok) device->enabled = ints[0] != 0;
      break;
    }
    case 42:
      ok = DeviceCommand(request);
      break;
    case 43:
      if (strings.size() == 1) {
        if (Device* device = FindDevice(strings[0])) {
          for (const auto& p : device->params) reply.string_container().push_back(p.first);
          ok = true;
        }
      }
      break;
    case 44:
      ok = ServeDeviceParam(request, reply);
      break;
    case 45:
      if (strings.size() == 1) {
        if (Device* device = FindDevice(strings[0])) {
          reply.int_container({device->enabled ? 1 : 0, device->connected ? 1 : 0});
          ok = true;
        }
      }
      break;
    case 53:
      if (strings.size() == 1) {
        const auto it = work_coords_.find(strings[0]);
        if (it != work_coords_.end()) {
          reply.float_container(std::vector<float>(it->second.begin(), it->second.end()));
          ok = true;
        }
      }
      break;
    case 60:
    case 63: {
      std::vector<std::string> names;
      for (const auto& [name, f] : files_[id == 60 ? "trajectory" : "project"]) {
        (void)f;
        std::string entry = name;
        if (id == 63) {
          // A project is listed once under the name its files share.
          const size_t dot = name.rfind('.');
          entry = dot == std::string::npos ? name : name.substr(0, dot);
          if (!names.empty() && names.back() == entry) continue;
        }
        names.push_back(entry);
      }
      reply.string_container(std::move(names));
      ok = true;
      break;
    }
    case 61:
      ok = StoreUpload("trajectory", request);
      break;
    case 64:
      ok = StoreUpload("project", request) && mode_ == kIdle;
      break;
    case 62:
      ok = ServeFile("trajectory", LongString(request), reply);
      break;
    case 65:
      ok = ServeFile("project", LongString(request), reply);
      break;
    case 66:
      ok = ServeFile("mesh", LongString(request), reply);
      break;
    case 70:
      ok = floats_n(12);
      break;
    case 71:
    case 73:
    case 75:
    case 76:
      ok = floats_n(id == 71 ? 2 * dof_ : dof_);
      break;
    case 72:
      ok = floats_n(6);
      break;
    case 74:
      ok = floats_n(3);
      break;
    case 80:
      ok = ints.size() == 6 && floats_n(3);
      break;
    case 81:
      ok = strings.size() == 1 && (strings[0] == "WORLD" || strings[0] == "TCP") && floats_n(7);
      break;
    case 82:
      ok = ints.size() == 1 && mode_ == kIdle;
      if (ok) passive_force_control_ = ints[0] != 0;
      break;
    default:
      ok = false;
      break;
  }
  if (ok && id >= 70 && id <= 81) last_settings_[id] = floats;
  if (ok && (id == 8 || (id >= 70 && id <= 82))) {
    last_setting_args_[id] = {{"int_args", ints}, {"float_args", floats}, {"string_args", strings}};
  }
  reply.success(ok);
  if (!ok) {
    // A refused call carries nothing but its id.
    reply.int_container().clear();
    reply.float_container().clear();
    reply.string_container().clear();
    reply.raw_bytes_container().clear();
  }
}

// ---------------------------------------------------------------- data service

std::vector<std::string> RobotSim::PrimitiveStateTexts() const {
  if (primitive_states_override_) return *primitive_states_override_;
  if (!program_ || program_->is_plan) return {};
  const bool done = program_->finished;
  return {"reachedTarget = " + std::string(done ? "1" : "0"),
          "terminated = " + std::string(done ? "1" : "0"),
          "timePeriod = " + Fmt(program_->elapsed_s)};
}

std::vector<std::string> RobotSim::PlanInfoTexts() const {
  if (plan_info_override_) return *plan_info_override_;
  const std::string scale = Fmt(velocity_scale_ / 100.0);
  if (!program_ || !program_->is_plan || program_->finished) {
    return {"", "", "", "0", "0", "", scale, "0"};
  }
  const int node = 1 + static_cast<int>(program_->elapsed_s / kPlanNodeSeconds + 1e-9);
  return {program_->name,
          "Node" + std::to_string(node),
          "Start/Node" + std::to_string(node),
          Fmt(program_->elapsed_s),
          std::to_string(node),
          program_->name,
          scale,
          program_->at_breakpoint ? "1" : "0"};
}

std::vector<float> RobotSim::ManipulabilityFloats() const {
  if (manipulability_override_) return *manipulability_override_;
  // [translational, rotational manipulability, the three singular values of
  //  the translational Jacobian, the three of the rotational one]
  const Eigen::MatrixXd jac = kin_.Jacobian(q_, TcpOffset());
  const Eigen::MatrixXd jv = jac.topRows<3>();
  const Eigen::MatrixXd jw = jac.bottomRows<3>();
  const Eigen::JacobiSVD<Eigen::MatrixXd> sv(jv), sw(jw);
  const double mv = std::sqrt(std::max(0.0, (jv * jv.transpose()).determinant()));
  const double mw = std::sqrt(std::max(0.0, (jw * jw.transpose()).determinant()));
  std::vector<float> out{static_cast<float>(mv), static_cast<float>(mw)};
  for (int i = 0; i < 3; ++i) out.push_back(static_cast<float>(sv.singularValues()[i]));
  for (int i = 0; i < 3; ++i) out.push_back(static_cast<float>(sw.singularValues()[i]));
  return out;
}

void RobotSim::HandleData(const quiral_lumo_msgs::msg::RPCRequest& request,
                          quiral_lumo_msgs::msg::RPCReply& reply) {
  std::lock_guard<std::mutex> lock(mu_);
  const uint16_t id = request.request_id();
  reply.request_id(id);
  bool ok = true;
  switch (id) {
    case 1:
      reply.string_container({lumo_version_});
      break;
    case 2:
      reply.string_container(PrimitiveStateTexts());
      break;
    case 3:
      reply.string_container(PlanInfoTexts());
      break;
    case 8:
      reply.float_container(ManipulabilityFloats());
      break;
    default:
      ok = false;
      break;
  }
  reply.success(ok);
}

// ---------------------------------------------------------------- control channel

json RobotSim::StateJson() {
  std::lock_guard<std::mutex> lock(mu_);
  json j;
  j["serial"] = config_.serial;
  j["dof"] = dof_;
  j["mode"] = mode_;
  j["safety_board_state"] = safety_board_;
  j["system_state"] = system_state_;
  j["operational"] = Operational();
  j["safety_inputs"] = safety_inputs_;
  j["digital_inputs"] = digital_inputs_;
  j["digital_outputs"] = digital_outputs_;
  j["estop"] = safety_inputs_[kEstopInput];
  j["enabling_button"] = safety_inputs_[kEnablingButtonInput];
  j["fault"] = fault_ == Fault::kNone ? json() : json(fault_ == Fault::kMinor ? "minor" : "critical");
  j["program_running"] = program_running_override_
                             ? *program_running_override_
                             : (program_.has_value() && !program_->finished);
  if (program_) {
    j["program"] = {{"kind", program_->is_plan ? "plan" : "primitive"},
                    {"name", program_->name},
                    {"call", program_->call_text},
                    {"elapsed_s", program_->elapsed_s},
                    {"duration_s", program_->duration_s},
                    {"paused", program_->paused},
                    {"finished", program_->finished},
                    {"continue_exec", program_->continue_exec},
                    {"at_breakpoint", program_->at_breakpoint},
                    {"breakpoint_steps", program_->breakpoint_steps}};
  } else {
    j["program"] = nullptr;
  }
  j["timeliness_failures"] = timeliness_failures_;
  j["gripper"] = {{"width", gripper_width_}, {"force", gripper_force_}, {"is_moving", gripper_moving_}};
  j["joints"] = {{"position", q_},
                 {"velocity", velocity_override_ ? *velocity_override_ : v_},
                 {"target", target_kind_ != Target::kNone && joint_target_.size() == dof_
                                ? json(joint_target_)
                                : json()},
                 {"q_min", q_min_},
                 {"q_max", q_max_}};
  j["tcp_pose"] = last_tcp_;
  j["motion_applied"] = motion_applied_;
  j["motion_ignored"] = motion_ignored_;
  j["velocity_scale"] = velocity_scale_;
  j["brakes_engaged"] = brakes_engaged_;
  j["breakpoint_mode"] = breakpoint_mode_;
  j["external_axes_locked"] = external_axes_locked_;
  j["synced_with_positioner"] = synced_with_positioner_;
  j["passive_force_control"] = passive_force_control_;
  j["active_tool"] = active_tool_;
  j["global_variables"] = global_variables_;
  json devices = json::array();
  for (const auto& d : devices_) {
    devices.push_back({{"name", d.name}, {"enabled", d.enabled}, {"connected", d.connected}});
  }
  j["devices"] = devices;
  json settings = json::object();
  for (const auto& [id, values] : last_settings_) settings[std::to_string(id)] = values;
  j["settings"] = settings;
  json setting_args = json::object();
  for (const auto& [id, args] : last_setting_args_) setting_args[std::to_string(id)] = args;
  j["setting_args"] = setting_args;
  return j;
}

void RobotSim::Set(const json& fields) {
  if (!fields.is_object()) throw std::invalid_argument("'fields' must be an object");
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& [key, value] : fields.items()) SetOne(key, value);
}

void RobotSim::SetOne(const std::string& key, const json& value) {
  auto joint_vector = [this, &key](const json& v) {
    return JsonDoubles(v, dof_, key.c_str());
  };
  if (key == "estop") {
    const bool on = value.get<bool>();
    safety_inputs_[kEstopInput] = on;
    if (on) {
      safety_board_ = Board_(Board::CAT_1_STOP);
      ChangeMode(kIdle);
    }
  } else if (key == "enabling_button") {
    safety_inputs_[kEnablingButtonInput] = value.get<bool>();
  } else if (key == "safety_inputs") {
    safety_inputs_ = value.get<std::array<bool, 8>>();
  } else if (key == "digital_inputs") {
    digital_inputs_ = value.get<std::array<bool, 18>>();
  } else if (key == "safety_board_state") {
    safety_board_ = value.get<int16_t>();
  } else if (key == "system_state") {
    system_state_ = value.get<uint16_t>();
  } else if (key == "mode") {
    mode_ = value.get<uint16_t>();
  } else if (key == "fault") {
    if (value.is_null() || (value.is_boolean() && !value.get<bool>())) {
      if (fault_ == Fault::kCritical) safety_board_ = Board_(Board::CAT_1_STOP);
      if (fault_ != Fault::kNone) system_state_ = Sys_(Sys::STOPPED_EXTERNAL_AUTO);
      fault_ = Fault::kNone;
    } else {
      const std::string kind = value.is_boolean() ? "minor" : value.get<std::string>();
      if (kind != "minor" && kind != "critical") {
        throw std::invalid_argument("fault must be \"minor\", \"critical\" or false");
      }
      fault_ = kind == "minor" ? Fault::kMinor : Fault::kCritical;
      system_state_ = Sys_(Sys::FAULT_EXTERNAL_AUTO);
      if (fault_ == Fault::kCritical) safety_board_ = Board_(Board::CAT_0_STOP);
      ChangeMode(kIdle);
    }
  } else if (key == "fault_clearable") {
    fault_clearable_ = value.get<bool>();
  } else if (key == "recovery") {
    if (value.get<bool>()) {
      safety_board_ = Board_(Board::RECOVERY);
      system_state_ = Sys_(Sys::RECOVERY_EXTERNAL_AUTO);
      ChangeMode(kIdle);
    } else {
      safety_board_ = Board_(Board::CAT_1_STOP);
      system_state_ = Sys_(Sys::STOPPED_EXTERNAL_AUTO);
    }
  } else if (key == "program_running") {
    if (value.is_null()) {
      program_running_override_.reset();
    } else {
      program_running_override_ = value.get<bool>();
    }
  } else if (key == "timeliness_failures") {
    timeliness_failures_ = value.get<uint64_t>();
  } else if (key == "gripper") {
    gripper_motion_ = false;  // the values given stay until a gripper command
    if (value.contains("width")) gripper_target_ = gripper_width_ = value["width"].get<float>();
    if (value.contains("force")) gripper_force_ = value["force"].get<float>();
    if (value.contains("is_moving")) gripper_moving_ = value["is_moving"].get<bool>();
  } else if (key == "joints") {
    q_ = joint_vector(value);
    v_.assign(dof_, 0.0);
    StopMotion();
  } else if (key == "velocity_override") {
    if (value.is_null()) {
      velocity_override_.reset();
    } else {
      velocity_override_ = joint_vector(value);
    }
  } else if (key == "ext_wrench") {
    const auto w = JsonDoubles(value, 6, "ext_wrench");
    std::copy(w.begin(), w.end(), ext_wrench_.begin());
  } else if (key == "server_version") {
    server_version_ = value.get<std::string>();
  } else if (key == "lumo_version") {
    lumo_version_ = value.get<std::string>();
  } else if (key == "robot_info") {
    // Changes what the robot-information reply reports, not the simulation.
    if (!value.is_object()) throw std::invalid_argument("robot_info must be an object");
    for (const auto& [k, v] : value.items()) {
      if (k == "server_text") {
        server_text_ = v.get<std::string>();
      } else if (k == "DoF_e") {
        info_dof_e_ = v.get<int32_t>();
      } else if (k == "DoF_m") {
        info_dof_m_ = v.get<int32_t>();
      } else if (k == "DoF") {
        info_dof_ = v.get<int32_t>();
      } else if (k == "reply_flag") {
        reply_flag_ = v.get<int32_t>();
      } else if (k == "floats") {
        if (v.is_null()) {
          info_floats_override_.reset();
        } else {
          info_floats_override_ = v.get<std::vector<float>>();
        }
      } else if (k == "q_max" || k == "q_min" || k == "joint_limit_3" || k == "tau_max") {
        // Replace one block of the float list, the others as simulated.
        std::vector<float> fl;
        const std::vector<double>* blocks[4] = {&q_max_, &q_min_, &joint_limit_3_, &tau_max_};
        const char* names[4] = {"q_max", "q_min", "joint_limit_3", "tau_max"};
        const std::vector<float> base = info_floats_override_.value_or(std::vector<float>());
        for (int b = 0; b < 4; ++b) {
          if (k == names[b]) {
            const auto block = v.get<std::vector<float>>();
            fl.insert(fl.end(), block.begin(), block.end());
          } else if (base.size() == 4 * dof_) {
            fl.insert(fl.end(), base.begin() + b * dof_, base.begin() + (b + 1) * dof_);
          } else {
            for (double x : *blocks[b]) fl.push_back(static_cast<float>(x));
          }
        }
        info_floats_override_ = fl;
      } else {
        throw std::invalid_argument("unknown robot_info field '" + k + "'");
      }
    }
  } else if (key == "global_variables") {
    std::map<std::string, std::string> vars;
    for (const auto& [name, text] : value.items()) vars[name] = text.get<std::string>();
    global_variables_ = std::move(vars);
  } else if (key == "plans" || key == "primitives") {
    std::vector<Task> tasks;
    for (const auto& item : value) {
      Task t;
      t.name = item.is_string() ? item.get<std::string>() : item.at("name").get<std::string>();
      if (item.is_object() && item.contains("duration_ms")) {
        t.duration_s = item["duration_ms"].get<double>() / 1000.0;
      }
      if (item.is_object() && item.contains("target") && !item["target"].is_null()) {
        t.target = joint_vector(item["target"]);
      }
      tasks.push_back(std::move(t));
    }
    if (key == "plans") {
      plans_ = std::move(tasks);
    } else {
      primitives_.clear();
      for (auto& t : tasks) primitives_[t.name] = t;
    }
  } else if (key == "primitive_states" || key == "plan_info") {
    auto& target = key == "plan_info" ? plan_info_override_ : primitive_states_override_;
    if (value.is_null()) {
      target.reset();
    } else {
      target = value.get<std::vector<std::string>>();
    }
  } else if (key == "manipulability") {
    if (value.is_null()) {
      manipulability_override_.reset();
    } else {
      manipulability_override_ = value.get<std::vector<float>>();
    }
  } else if (key == "reachability") {
    if (value.is_null()) {
      reachability_override_.reset();
    } else {
      reachability_override_ = std::make_pair(
          value.at("reachable").get<bool>(),
          value.contains("solution") ? value["solution"].get<std::vector<double>>()
                                     : std::vector<double>());
    }
  } else if (key == "tools") {
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
      tools_ = std::move(tools);
    }
    if (value.contains("active")) {
      const std::string name = value["active"].get<std::string>();
      if (!FindTool(name)) throw std::invalid_argument("no tool named '" + name + "'");
      active_tool_ = name;
    }
  } else if (key == "payload") {
    payload_result_.mass = value.value("mass", payload_result_.mass);
    if (value.contains("CoM")) payload_result_.com = value["CoM"].get<std::array<float, 3>>();
    if (value.contains("inertia")) {
      payload_result_.inertia = value["inertia"].get<std::array<float, 6>>();
    }
  } else if (key == "devices") {
    std::vector<Device> devices;
    for (const auto& d : value) {
      Device dev;
      dev.name = d.at("name").get<std::string>();
      dev.enabled = d.value("enabled", false);
      dev.connected = d.value("connected", true);
      if (d.contains("params")) {
        // An array of [name, value] pairs keeps its order; an object is
        // taken in name order.
        if (d["params"].is_array()) {
          for (const auto& p : d["params"]) dev.params.emplace_back(p.at(0).get<std::string>(), p.at(1));
        } else {
          for (const auto& [n, v] : d["params"].items()) dev.params.emplace_back(n, v);
        }
      }
      devices.push_back(std::move(dev));
    }
    devices_ = std::move(devices);
  } else if (key == "gripper_device") {
    gripper_device_ = value.get<std::string>();
  } else if (key == "work_coords") {
    std::map<std::string, std::array<float, 7>> coords;
    for (const auto& [name, pose] : value.items()) coords[name] = pose.get<std::array<float, 7>>();
    work_coords_ = std::move(coords);
  } else if (key == "files") {
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
      PutFile(store, f.at("name").get<std::string>(), std::move(bytes));
    }
  } else if (key == "remove_files") {
    for (const auto& f : value) {
      files_[f.at("store").get<std::string>()].erase(f.at("name").get<std::string>());
    }
  } else if (key == "velocity_scale") {
    velocity_scale_ = std::clamp(value.get<int>(), 0, 100);
  } else if (key == "enable_delay_ms") {
    config_.enable_delay_ms = value.get<int>();
  } else if (key == "clear_fault_delay_ms") {
    config_.clear_fault_delay_ms = value.get<int>();
  } else {
    throw std::invalid_argument("unknown field '" + key + "'");
  }
}

}  // namespace quiral::sim
