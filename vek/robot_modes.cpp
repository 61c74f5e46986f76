// quiral::vek::Robot: enabling, fault clearing, control modes, stopping,
// automatic recovery, brakes and the external-axis switches.

#include <chrono>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <spdlog/spdlog.h>

#include "client/vek_client.h"
#include "msgs/vek_msgs/joint_commands.h"
#include "vek/robot.h"
#include "vek/robot_impl.h"

namespace quiral::vek {
namespace {

using std::chrono::milliseconds;
using vek_impl::ProcedureId;

constexpr std::size_t kEstopInput = 7;

// Standstill wait of a mode switch.
constexpr milliseconds kStandstillPollPeriod{10};
constexpr int kStandstillMaxWaitMs = 700;
// After a switch, how long to wait for the real-time states to report the
// new mode, and how often to look.
constexpr milliseconds kModeReportMaxWait{200};
constexpr milliseconds kModeReportPollPeriod{1};

constexpr std::chrono::seconds kClearFaultPollPeriod{1};

// Automatic recovery: how far inside a violated limit a joint is brought,
// the limits of that one motion, and the poll period of its end.
constexpr double kRecoveryMargin = 0.18;
constexpr float kRecoveryMaxVel = 0.18f;
constexpr float kRecoveryMaxAcc = 0.5f;
constexpr milliseconds kRecoveryPollPeriod{500};

bool IsFaultState(qor::SystemState state) {
  return state == qor::SystemState::FAULT_MANUAL || state == qor::SystemState::FAULT_AUTO ||
         state == qor::SystemState::FAULT_EXTERNAL_AUTO;
}

// Remote procedure without arguments, or with one flag.
QorState Call(vek_impl::VEKClient& client, ProcedureId id) {
  return client.operations_rpc.GeneralCall(id, std::string(), {}, {}, {});
}
QorState CallWithFlag(vek_impl::VEKClient& client, ProcedureId id, bool flag) {
  return client.operations_rpc.GeneralCall(id, std::string(), {flag ? 1 : 0}, {}, {});
}

// Joint positions fit for the recovery target: one finite value per joint.
void CheckRecoverySample(const RobotStates& states, std::size_t dof) {
  const std::string prefix = Robot::Impl::Prefix("RunAutoRecovery");
  if (states.link_position.size() != dof) {
    throw std::runtime_error(prefix + " Received " + std::to_string(states.link_position.size()) +
                             " joint positions from the robot, expected " + std::to_string(dof));
  }
  for (const double q : states.link_position) {
    if (!std::isfinite(q)) {
      throw std::runtime_error(prefix + " Received a joint position that is not a finite number");
    }
  }
}

// The failure of a switch that a stop overtook.
std::runtime_error Interrupted(std::string_view operation) {
  return std::runtime_error(Robot::Impl::Prefix(operation) + " Interrupted by a stop");
}

}  // namespace

void Robot::Impl::Enable() {
  const std::string prefix = Prefix("Enable");
  if (!client->connected.load()) {
    throw std::logic_error(prefix + " Robot is not connected");
  }
  if (client->lumo_data_stream.SafetyInputs()[kEstopInput]) {
    throw std::logic_error(prefix + " E-stop is not released");
  }
  if (!QorSucceeded(Call(*client, ProcedureId::Enable))) {
    throw std::runtime_error(prefix + " Failed to deliver the request");
  }
}

bool Robot::Impl::ClearFault(unsigned int timeout_sec) {
  RequireConnected("ClearFault");
  if (!QorSucceeded(Call(*client, ProcedureId::ClearFault))) {
    throw std::runtime_error(Prefix("ClearFault") + " Failed to deliver the request");
  }
  // Without data from the robot (a lite robot never has any) the fault
  // cannot be seen gone, which is not a success.
  if (lite) return false;
  // Only a sample newer than the request shows the fault gone.
  const uint64_t since = StreamSampleCount();
  for (unsigned int poll = 1; poll <= timeout_sec; ++poll) {
    std::this_thread::sleep_for(kClearFaultPollPeriod);
    if (Lost()) throw LostConnection("ClearFault");
    if (StreamSampleCount() != since &&
        !IsFaultState(client->lumo_data_stream.GetSystemState())) {
      return true;
    }
  }
  return false;
}

void Robot::Impl::CheckSwitchMode(Mode mode) const {
  const auto target = static_cast<int32_t>(mode);
  if (target <= static_cast<int32_t>(Mode::UNKNOWN) ||
      target > static_cast<int32_t>(Mode::NRT_SUPER_PRIMITIVE)) {
    throw std::invalid_argument(Prefix("SwitchMode") + " Invalid control mode input");
  }
  if (robot_model == STARFLOAT && target >= static_cast<int32_t>(Mode::RT_JOINT_TORQUE) &&
      target <= static_cast<int32_t>(Mode::NRT_JOINT_POSITION)) {
    throw std::invalid_argument(Prefix("SwitchMode") + " Control mode [" +
                                kModeNames[static_cast<std::size_t>(target)] +
                                "] is not yet supported on Starfloat");
  }
}

void Robot::Impl::SwitchMode(Mode mode) {
  CheckSwitchMode(mode);
  if (mode == Mode::IDLE) {
    SwitchToIdle();
  } else {
    SwitchToMode(mode);
  }
}

void Robot::Impl::SwitchToIdle() {
  std::lock_guard<std::mutex> stopping(stop_mutex);
  ++stop_count;  // a switch under way sends nothing more
  if (ModeToLeave() != static_cast<int16_t>(Mode::IDLE)) {
    vek_impl::CallTurn urgent;
    urgent.urgent = true;
    if (!QorSucceeded(client->operations_rpc.SwitchCtrlMode(qor::ExtCtrlMode::IDLE, urgent))) {
      throw std::runtime_error(Prefix("SwitchMode") + " Failed to switch control mode to IDLE");
    }
    last_requested_mode = static_cast<int16_t>(Mode::IDLE);
    WaitForStandstill(nullptr);
  }
  AwaitModeReport(Mode::IDLE, nullptr);
  FinishSwitch(Mode::IDLE);
}

void Robot::Impl::SwitchToMode(Mode mode) {
  const std::string prefix = Prefix("SwitchMode");
  const std::string& mode_name = kModeNames[static_cast<std::size_t>(mode)];
  std::lock_guard<std::mutex> switching(mode_switch_mutex);
  uint64_t stops = 0;
  int16_t current = 0;
  {
    // Waits for a stop under way; the checks see the state it left.
    std::lock_guard<std::mutex> stopping(stop_mutex);
    stops = stop_count.load();
    current = ModeToLeave();
  }
  const std::function<bool()> interrupted = StopSince(stops);
  if (current != static_cast<int16_t>(Mode::IDLE)) {
    const ModeRequest idle = RequestMode(Mode::IDLE, stops);
    if (idle == ModeRequest::kFailed) {
      throw std::runtime_error(prefix + " Failed to switch control mode to IDLE");
    }
    if (idle == ModeRequest::kInterrupted || !WaitForStandstill(interrupted)) {
      throw Interrupted("SwitchMode");
    }
  }
  const ModeRequest target = RequestMode(mode, stops);
  if (target == ModeRequest::kFailed) {
    throw std::runtime_error(prefix + " Failed to switch control mode to [" + mode_name + "]");
  }
  if (target == ModeRequest::kInterrupted || !AwaitModeReport(mode, interrupted)) {
    throw Interrupted("SwitchMode");
  }
  FinishSwitch(mode);
}

std::function<bool()> Robot::Impl::StopSince(uint64_t stops) const {
  return [this, stops] { return stop_count.load() != stops; };
}

int16_t Robot::Impl::ModeToLeave() const {
  if (!lite && !operational()) {
    throw std::logic_error(NotOperationalText("SwitchMode"));
  }
  const int16_t current = CurrentMode();
  if (current < static_cast<int16_t>(Mode::IDLE) ||
      current > static_cast<int16_t>(Mode::AUTO_RECOVERY)) {
    throw std::logic_error(Prefix("SwitchMode") + " Robot is in an unknown control mode");
  }
  if (current == static_cast<int16_t>(Mode::IDLE) &&
      last_requested_mode > static_cast<int16_t>(Mode::IDLE)) {
    return last_requested_mode;  // requested, not reported yet
  }
  return current;
}

Robot::Impl::ModeRequest Robot::Impl::RequestMode(Mode mode, uint64_t stops) {
  const auto raw = static_cast<int16_t>(mode);
  const bool idle = mode == Mode::IDLE;
  {
    std::lock_guard<std::mutex> stopping(stop_mutex);
    if (stop_count.load() != stops) return ModeRequest::kInterrupted;
    // Recorded before it goes out, so that a stop from now on asks for IDLE
    // after it; IDLE itself only once acknowledged.
    if (!idle) last_requested_mode = raw;
  }
  vek_impl::CallTurn turn;
  turn.abandoned = StopSince(stops);
  const bool acknowledged =
      QorSucceeded(client->operations_rpc.SwitchCtrlMode(static_cast<qor::ExtCtrlMode>(raw), turn));
  std::lock_guard<std::mutex> stopping(stop_mutex);
  if (stop_count.load() != stops) return ModeRequest::kInterrupted;
  if (!acknowledged) return ModeRequest::kFailed;
  if (idle) last_requested_mode = raw;
  return ModeRequest::kAcknowledged;
}

bool Robot::Impl::WaitForStandstill(const std::function<bool()>& interrupted) {
  // A robot still moving after the longest wait is switched all the same;
  // one whose states stopped coming cannot be known to be stopping.
  const uint64_t since = StreamSampleCount();
  int elapsed_ms = 0;
  while (true) {
    std::this_thread::sleep_for(kStandstillPollPeriod);
    elapsed_ms += static_cast<int>(kStandstillPollPeriod.count());
    if (interrupted && interrupted()) return false;
    if (Lost()) throw LostConnection("SwitchMode");
    if (elapsed_ms >= kStandstillMaxWaitMs || StoppedSince(since)) break;
  }
  if (!lite && StreamSampleCount() == since) throw LostConnection("SwitchMode");
  spdlog::debug("[quiral::vek::Robot] Time taken to decelerate and stop the robot: {} ms",
                elapsed_ms);
  return true;
}

bool Robot::Impl::AwaitModeReport(Mode mode, const std::function<bool()>& interrupted) {
  // The robot acknowledged the request; its real-time states show the new
  // mode with their next sample. Wait for it briefly, so that a command
  // sent right after the switch finds the mode it was switched to. A mode
  // that does not show is not an error: the switch was requested.
  const auto report_deadline = std::chrono::steady_clock::now() + kModeReportMaxWait;
  while (CurrentMode() != static_cast<int16_t>(mode) &&
         std::chrono::steady_clock::now() < report_deadline) {
    if (interrupted && interrupted()) return false;
    std::this_thread::sleep_for(kModeReportPollPeriod);
  }
  return !(interrupted && interrupted());
}

void Robot::Impl::FinishSwitch(Mode mode) {
  ResetMotionCommands();
  if (verbose) {
    spdlog::info("[quiral::vek::Robot] Control mode switched to [{}]",
                 kModeNames[static_cast<std::size_t>(mode)]);
  }
}

void Robot::Impl::Stop() {
  // The last sample of a lost robot does not tell that it is in a fault
  // now: the switch refuses it instead.
  if (!Lost() && IsFaultState(client->lumo_data_stream.GetSystemState())) return;
  SwitchMode(Mode::IDLE);
}

void Robot::Impl::RunAutoRecovery() {
  const std::string prefix = Prefix("RunAutoRecovery");
  RequireConnected("RunAutoRecovery");
  if (client->lumo_data_stream.SafetyBoardState() != qor::SafetyBoardState::RECOVERY) {
    spdlog::debug("{} Robot system is not in recovery state, nothing to be done", prefix);
    return;
  }
  const std::size_t dof = info.DoF;
  // Nothing is sent unless the robot's joint positions can be read.
  CheckRecoverySample(client->lumo_data_stream.GetRobotStates(), dof);
  {
    std::lock_guard<std::mutex> switching(mode_switch_mutex);
    uint64_t stops = 0;
    {
      std::lock_guard<std::mutex> stopping(stop_mutex);
      stops = stop_count.load();
    }
    const ModeRequest request = RequestMode(Mode::AUTO_RECOVERY, stops);
    if (request == ModeRequest::kFailed) {
      throw std::runtime_error(prefix + " Failed to enter automatic recovery mode");
    }
    if (request == ModeRequest::kInterrupted) throw Interrupted("RunAutoRecovery");
  }
  const RobotStates states = client->lumo_data_stream.GetRobotStates();
  CheckRecoverySample(states, dof);

  vek_msgs::msg::JointCommands command;
  std::vector<float>& position = command.position();
  position.resize(dof);
  for (std::size_t i = 0; i < dof; ++i) {
    const double q = states.link_position[i];
    double target = q;
    if (q > info.q_max[i]) {
      target = info.q_max[i] - kRecoveryMargin;
    } else if (q < info.q_min[i]) {
      target = info.q_min[i] + kRecoveryMargin;
    }
    position[i] = static_cast<float>(target);
  }
  command.velocity().assign(dof, 0.0f);
  command.acceleration().assign(dof, 0.0f);
  command.max_vel().assign(dof, kRecoveryMaxVel);
  command.max_acc().assign(dof, kRecoveryMaxAcc);
  // Without the command the joints stay where they are, and the wait below
  // would report a recovery that never happened.
  if (!QorSucceeded(PublishJointCommand(command))) {
    throw std::runtime_error(prefix + " Failed to send the recovery motion command");
  }
  if (verbose) {
    spdlog::info("{} Automatic recovery in progress ...", prefix);
  }

  // No time limit: a joint far outside its limit takes long at this speed.
  // A lost link, though, would leave the last sample in place for ever.
  const uint64_t since = StreamSampleCount();
  do {
    std::this_thread::sleep_for(kRecoveryPollPeriod);
    if (Lost()) throw LostConnection("RunAutoRecovery");
  } while (!StoppedSince(since));
  if (verbose) {
    spdlog::info("{} Automatic recovery complete, please reboot the robot", prefix);
  }
}

void Robot::Impl::Brake(bool engage) {
  const std::string prefix = Prefix("Brake");
  if (robot_model != VARNO4M) {
    throw std::logic_error(prefix + " This function is only available to medical robots");
  }
  RequireConnected("Brake");
  // Without any sample the robot cannot be known to stand still.
  if (!HasStreamSample() || !Stopped()) {
    throw std::logic_error(prefix + " Robot is not fully stopped");
  }
  if (!QorSucceeded(CallWithFlag(*client, ProcedureId::Brake, engage))) {
    throw std::runtime_error(prefix + " Failed to " + (engage ? "engage" : "release") +
                             " the robot brakes");
  }
}

void Robot::Impl::LockExternalAxes(bool lock) {
  const std::string prefix = Prefix("LockExternalAxes");
  if (CurrentMode() != static_cast<int16_t>(Mode::IDLE)) {
    throw std::logic_error(prefix + " Robot is not in IDLE mode");
  }
  if (!QorSucceeded(CallWithFlag(*client, ProcedureId::LockExternalAxes, lock))) {
    throw std::runtime_error(prefix + " Failed to deliver the request");
  }
}

void Robot::Impl::SyncWithPositioner(bool sync) {
  if (!QorSucceeded(CallWithFlag(*client, ProcedureId::SyncWithPositioner, sync))) {
    throw std::runtime_error(Prefix("SyncWithPositioner") + " Failed to deliver the request");
  }
}

// ------------------------------------------------------------------ Robot

void Robot::Enable() { impl_->Enable(); }
bool Robot::ClearFault(unsigned int timeout_sec) { return impl_->ClearFault(timeout_sec); }
void Robot::SwitchMode(Mode mode) { impl_->SwitchMode(mode); }
void Robot::Stop() { impl_->Stop(); }
void Robot::RunAutoRecovery() { impl_->RunAutoRecovery(); }
void Robot::Brake(bool engage) { impl_->Brake(engage); }
void Robot::LockExternalAxes(bool lock) { impl_->LockExternalAxes(lock); }
void Robot::SyncWithPositioner(bool sync) { impl_->SyncWithPositioner(sync); }

}  // namespace quiral::vek
