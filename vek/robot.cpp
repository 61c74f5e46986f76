// quiral::vek::Robot: construction, the robot's description and the status
// queries, with the helpers that every operation of Robot::Impl shares.

#include "vek/robot.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>

#include <spdlog/spdlog.h>

#include "client/vek_client.h"
#include "vek/robot_impl.h"
#include "vek/serial_number.h"

namespace quiral::vek {
namespace {

using vek_impl::ProcedureId;

constexpr std::string_view kConstructorPrefix = "[quiral::vek::Robot]";

// Largest motor velocity of a robot at rest, in rad/s.
constexpr double kStandstillVelocity = 0.017;

// Safety inputs of the data stream.
constexpr std::size_t kEnablingButtonInput = 5;
constexpr std::size_t kEstopInput = 7;


bool IsFaultState(qor::SystemState state) {
  return state == qor::SystemState::FAULT_MANUAL || state == qor::SystemState::FAULT_AUTO ||
         state == qor::SystemState::FAULT_EXTERNAL_AUTO;
}

std::string ConstructorError(const std::string& message) {
  return std::string(kConstructorPrefix) + " " + message;
}

}  // namespace

// ------------------------------------------------------------------ Impl: construction

const std::array<std::string, 12>& Robot::Impl::ModelNames() {
  static const std::array<std::string, 12> names = {
      "Unknown", "Varno4",   "Varno4s",  "Varno4R",   "Varno4sR", "Varno4M",
      "Varno10", "Varno10s", "Varno10R", "Starfloat", "OmbriskL", "OmbriskH",
  };
  return names;
}

std::string Robot::Impl::NormaliseSerial(const std::string& robot_sn) {
  if (std::optional<std::string> serial = NormalisedSerialNumber(robot_sn)) {
    return *std::move(serial);
  }
  // Quoted as passed in; a '\0' is shown as "\0", since the error text
  // itself ends at the first one.
  std::string quoted;
  for (const char c : robot_sn) {
    if (c == '\0') {
      quoted += "\\0";
    } else {
      quoted.push_back(c);
    }
  }
  throw std::invalid_argument(
      ConstructorError("Format of the provided robot serial number [" + quoted + "] is invalid"));
}

Robot::Impl::RobotModel Robot::Impl::ModelFromSerial(const std::string& normalised_serial) {
  const std::string model_text = normalised_serial.substr(0, normalised_serial.find('-'));
  const auto& names = ModelNames();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == model_text) {
      if (i == UNKNOWN_MODEL) break;
      return static_cast<RobotModel>(i);
    }
  }
  throw std::logic_error(ConstructorError("Robot model [" + model_text + "] is not supported"));
}

std::array<double, 6> Robot::Impl::CartesianStiffnessLimits(RobotModel model) {
  switch (model) {
    case VARNO4:
    case VARNO4S:
    case VARNO4R:
    case VARNO4SR:
    case VARNO4M:
    case OMBRISK_L:
      return {10000, 10000, 10000, 1500, 1500, 1500};
    case VARNO10:
    case VARNO10S:
    case VARNO10R:
      return {20000, 20000, 20000, 3000, 3000, 3000};
    case STARFLOAT:
      return {15000, 15000, 15000, 0, 0, 0};
    default:
      throw std::logic_error(ConstructorError("Unsupported robot model"));
  }
}

std::vector<double> Robot::Impl::JointStiffnessLimits(RobotModel model, std::size_t dof_e,
                                                      std::size_t dof_m) {
  const std::vector<double>* table = nullptr;
  switch (model) {
    case VARNO4:
    case VARNO4S:
    case VARNO4R:
    case VARNO4SR:
    case VARNO4M:
      table = &kMaxJointStiffnessVarno4;
      break;
    case VARNO10:
    case VARNO10S:
    case VARNO10R:
      table = &kMaxJointStiffnessVarno10;
      break;
    case STARFLOAT:
      table = &kMaxJointStiffnessStarfloat;
      break;
    case OMBRISK_L:
      table = &kMaxJointStiffnessOmbriskL;
      break;
    default:
      throw std::logic_error(ConstructorError("Unsupported robot model"));
  }
  // External axes have no stiffness limit; each arm joint keeps its own
  // entry. A joint the table does not cover gets the smallest limit the
  // model knows: never more than any of its joints allows.
  std::vector<double> limits(dof_e, std::numeric_limits<double>::infinity());
  const double smallest = *std::min_element(table->begin(), table->end());
  for (std::size_t j = 0; j < dof_m; ++j) {
    limits.push_back(j < table->size() ? (*table)[j] : smallest);
  }
  return limits;
}

void Robot::Impl::CheckJointLimits(const RobotInfo& info) {
  const std::size_t dof = info.DoF;
  for (const std::vector<double>* limits :
       {&info.q_min, &info.q_max, &info.joint_limit_3, &info.tau_max}) {
    // The client hands over exactly DoF values per vector; test anyway
    // rather than read past one.
    bool valid = limits->size() == dof;
    for (std::size_t i = 0; valid && i < dof; ++i) {
      // Written so that NaN fails too.
      valid = std::fabs((*limits)[i]) >= std::numeric_limits<double>::epsilon();
    }
    if (!valid) {
      throw std::logic_error(
          ConstructorError("One or more robot joint limits received from server are invalid"));
    }
  }
}

Robot::Impl::Impl(const std::string& robot_sn,
                  const std::vector<std::string>& network_interface_whitelist, bool verbose,
                  bool lite)
    : model_names(ModelNames()), verbose(verbose), lite(lite) {
  if (verbose) {
    spdlog::info("| | | | | | | | | |  Quiral VEK {}  | | | | | | | | | |", kVEKVersion);
  }
  if (lite) {
    spdlog::warn("[quiral::vek::Robot] This lite instance has limited functionalities");
  }
  const std::string serial = NormaliseSerial(robot_sn);
  robot_model = ModelFromSerial(serial);

  client = std::make_shared<vek_impl::VEKClient>(network_interface_whitelist, verbose);
  client->Init(serial, lite);

  const std::string incompatible =
      ConstructorError("Version of this client is incompatible with robot [" + serial + "]");
  std::string server_version;
  if (!QorSucceeded(client->operations_rpc.RequestServerVersion(server_version))) {
    throw std::runtime_error(ConstructorError("Failed to sync VEK server version"));
  }
  if (server_version != kVEKVersion) {
    throw std::logic_error(incompatible);
  }
  std::string lumo_version;
  if (!QorSucceeded(client->lumo_data_rpc.RequestLUMOVersion(lumo_version))) {
    throw std::runtime_error(ConstructorError("Failed to sync LUMO server version"));
  }
  const std::size_t colon = lumo_version.find(':');
  if ((colon == std::string::npos ? lumo_version : lumo_version.substr(colon + 1)) !=
      kLUMOVersion) {
    throw std::logic_error(incompatible);
  }

  FetchRobotInfo(serial);
  if (verbose) {
    spdlog::info("[quiral::vek::Robot] Initialization complete");
  }
}

Robot::Impl::~Impl() = default;

void Robot::Impl::FetchRobotInfo(const std::string& normalised_serial) {
  RobotInfo fetched;
  if (!QorSucceeded(client->operations_rpc.RequestRobotInfo(fetched))) {
    throw std::runtime_error(ConstructorError("Failed to obtain robot information"));
  }
  fetched.serial_number = normalised_serial;
  fetched.model_name = model_names[robot_model];
  fetched.K_x_max = CartesianStiffnessLimits(robot_model);
  fetched.K_q_max = JointStiffnessLimits(robot_model, fetched.DoF_e, fetched.DoF_m);

  CheckJointLimits(fetched);
  info = std::move(fetched);
}

// ------------------------------------------------------------------ Impl: shared helpers

std::string Robot::Impl::Prefix(std::string_view operation) {
  std::string prefix = "[quiral::vek::Robot::";
  prefix += operation;
  prefix += "]";
  return prefix;
}

void Robot::Impl::RequireNoNul(const std::string& text, std::string_view operation,
                               std::string_view argument) {
  if (text.find('\0') != std::string::npos) {
    throw std::invalid_argument(Prefix(operation) + " Input parameter [" + std::string(argument) +
                                "] contains a null character");
  }
}

bool Robot::Impl::IsStandstill(const RobotStates& states) {
  return std::all_of(states.motor_velocity.begin(), states.motor_velocity.end(),
                     [](double v) { return std::fabs(v) <= kStandstillVelocity; });
}

bool Robot::Impl::Stopped() const {
  return IsStandstill(client->lumo_data_stream.GetRobotStates());
}

bool Robot::Impl::HasStreamSample() const {
  if (lite) return false;
  const RobotStates s = client->lumo_data_stream.GetRobotStates();
  return !s.link_position.empty() || s.timestamp[0] != 0 || s.timestamp[1] != 0;
}

uint64_t Robot::Impl::StreamSampleCount() const {
  return client->lumo_data_stream.BasicSampleCount();
}

bool Robot::Impl::StoppedSince(uint64_t since) const {
  // The count grows only after its sample was stored: a new count means the
  // test below reads that sample or a newer one.
  return (lite || StreamSampleCount() != since) && Stopped();
}

bool Robot::Impl::Lost() const { return !lite && !client->connected.load(); }

void Robot::Impl::RequireConnected(std::string_view operation) const {
  if (Lost()) throw LostConnection(operation);
}

std::runtime_error Robot::Impl::LostConnection(std::string_view operation) {
  return std::runtime_error(Prefix(operation) + " Lost connection to the robot");
}

int16_t Robot::Impl::CurrentMode() const { return client->rt_states_sub.CurrExtCtrlMode(); }

Mode Robot::Impl::mode() const {
  const int16_t raw = CurrentMode();
  if (raw < 0 || raw > static_cast<int16_t>(Mode::AUTO_RECOVERY)) return Mode::UNKNOWN;
  return static_cast<Mode>(raw);
}

OperationalStatus Robot::Impl::operational_status() const {
  // The newest sample of a lost robot tells what it was, not what it is.
  if (Lost()) return OperationalStatus::UNKNOWN;
  const auto& stream = client->lumo_data_stream;
  const qor::SystemState system = stream.GetSystemState();
  const qor::SafetyBoardState board = stream.SafetyBoardState();
  switch (board) {
    case qor::SafetyBoardState::RELEASE_BRAKE:
      return OperationalStatus::RELEASING_BRAKE;
    case qor::SafetyBoardState::CAT_1_STOP:
      return stream.SafetyInputs()[kEstopInput] ? OperationalStatus::ESTOP_NOT_RELEASED
                                                : OperationalStatus::NOT_ENABLED;
    case qor::SafetyBoardState::CAT_0_STOP:
      return OperationalStatus::CRITICAL_FAULT;
    case qor::SafetyBoardState::RECOVERY:
      return OperationalStatus::IN_RECOVERY_STATE;
    case qor::SafetyBoardState::REDUCED:
      return OperationalStatus::IN_REDUCED_STATE;
    case qor::SafetyBoardState::STARTUP:
      return OperationalStatus::BOOTING;
    case qor::SafetyBoardState::NORMAL:
    case qor::SafetyBoardState::CAT_2_STOP:
      break;
    default:
      return OperationalStatus::UNKNOWN;
  }
  switch (system) {
    case qor::SystemState::STOPPED_EXTERNAL_AUTO:
    case qor::SystemState::WORKING_EXTERNAL_AUTO:
      return OperationalStatus::READY;
    case qor::SystemState::STOPPED_MANUAL:
    case qor::SystemState::WORKING_MANUAL_EXECUTE:
    case qor::SystemState::REWIND_MANUAL:
    case qor::SystemState::FREEDRIVE_MANUAL:
      return OperationalStatus::IN_MANUAL_MODE;
    case qor::SystemState::STOPPED_AUTO:
    case qor::SystemState::WORKING_AUTO_EXECUTE:
    case qor::SystemState::REWIND_AUTO:
    case qor::SystemState::FREEDRIVE_AUTO:
      return OperationalStatus::IN_AUTO_MODE;
    case qor::SystemState::FAULT_MANUAL:
    case qor::SystemState::FAULT_AUTO:
    case qor::SystemState::FAULT_EXTERNAL_AUTO:
      return OperationalStatus::MINOR_FAULT;
    default:
      return OperationalStatus::UNKNOWN;
  }
}

bool Robot::Impl::operational() const {
  const OperationalStatus status = operational_status();
  return status == OperationalStatus::READY || status == OperationalStatus::IN_REDUCED_STATE;
}

std::string Robot::Impl::NotOperationalText(std::string_view operation) const {
  return Prefix(operation) + " Robot is not operational: " +
         kOperationalStatusTexts[static_cast<std::size_t>(operational_status())];
}

void Robot::Impl::RequireOperational(std::string_view operation) const {
  // One read of the status decides and names it.
  const OperationalStatus status = operational_status();
  if (status != OperationalStatus::READY && status != OperationalStatus::IN_REDUCED_STATE) {
    throw std::runtime_error(Prefix(operation) + " Robot is not operational: " +
                             kOperationalStatusTexts[static_cast<std::size_t>(status)]);
  }
}

QorState Robot::Impl::PublishJointCommand(const vek_msgs::msg::JointCommands& command) {
  std::lock_guard<std::mutex> lock(motion_mutex);
  ++motion_cmd_counter;
  client->motion_commands_pub.SetJointCommands(command, motion_cmd_counter);
  return client->motion_commands_pub.Publish();
}

QorState Robot::Impl::PublishCartesianCommand(const vek_msgs::msg::CartesianCommands& command) {
  std::lock_guard<std::mutex> lock(motion_mutex);
  ++motion_cmd_counter;
  client->motion_commands_pub.SetCartesianCommands(command, motion_cmd_counter);
  return client->motion_commands_pub.Publish();
}

QorState Robot::Impl::PublishCartesianMultiCommand(
    const std::vector<vek_msgs::msg::CartesianCommands>& commands,
    const std::vector<std::vector<float>>& joint_positions) {
  std::lock_guard<std::mutex> lock(motion_mutex);
  ++motion_cmd_counter;
  client->motion_commands_pub.SetCartesianMultiCommands(commands, joint_positions,
                                                        motion_cmd_counter);
  return client->motion_commands_pub.Publish();
}

void Robot::Impl::ResetMotionCommands() {
  std::lock_guard<std::mutex> lock(motion_mutex);
  motion_cmd_counter = 0;
  client->motion_commands_pub.Clear();
}

uint64_t Robot::Impl::MotionCommandCounter() {
  std::lock_guard<std::mutex> lock(motion_mutex);
  return motion_cmd_counter;
}

// ------------------------------------------------------------------ Impl: status queries

bool Robot::Impl::connected() const { return client->connected.load(); }

RobotStates Robot::Impl::states() const { return client->lumo_data_stream.GetRobotStates(); }

RobotActions Robot::Impl::actions() const { return client->lumo_data_stream.GetRobotActions(); }

bool Robot::Impl::busy() const { return client->rt_states_sub.ProgramRunning(); }

bool Robot::Impl::fault() const { return IsFaultState(client->lumo_data_stream.GetSystemState()); }

bool Robot::Impl::reduced() const {
  return client->lumo_data_stream.SafetyBoardState() == qor::SafetyBoardState::REDUCED;
}

bool Robot::Impl::recovery() const {
  return client->lumo_data_stream.SafetyBoardState() == qor::SafetyBoardState::RECOVERY;
}

bool Robot::Impl::estop_released() const {
  return !client->lumo_data_stream.SafetyInputs()[kEstopInput];
}

bool Robot::Impl::enabling_button_pressed() const {
  return client->lumo_data_stream.SafetyInputs()[kEnablingButtonInput];
}

bool Robot::Impl::reached_timeliness_failure_limit() const {
  return client->timeliness_limit_reached.load();
}

void Robot::Impl::SetTimelinessFailureLimit(double percentage) {
  if (!InRange(percentage, 0.0, 100.0)) {
    throw std::invalid_argument(Prefix("SetTimelinessFailureLimit") +
                                " Input parameter [percentage] is outside the valid range");
  }
  client->timeliness_failure_limit.store(percentage, std::memory_order_relaxed);
}

std::vector<RobotEvent> Robot::Impl::event_log() const { return client->lumo_log_event.events(); }

PlanInfo Robot::Impl::plan_info() const {
  if (CurrentMode() != static_cast<int16_t>(Mode::NRT_PLAN_EXECUTION)) {
    throw std::logic_error(Prefix("plan_info") + " Robot is not in an applicable control mode");
  }
  PlanInfo plan;
  if (!QorSucceeded(client->lumo_data_rpc.RequestPlanInfo(plan))) {
    throw std::runtime_error(Prefix("plan_info") + " No reply from the robot");
  }
  return plan;
}

std::vector<std::string> Robot::Impl::plan_list() const {
  std::vector<std::string> plans;
  if (!QorSucceeded(client->operations_rpc.RequestStringList(ProcedureId::plan_list, plans))) {
    throw std::runtime_error(Prefix("plan_list") + " No reply from the robot");
  }
  return plans;
}

std::array<bool, 18> Robot::Impl::digital_inputs() const {
  return client->lumo_data_stream.GetDigitalInput();
}

// ------------------------------------------------------------------ Robot

Robot::Robot(const std::string& robot_sn,
             const std::vector<std::string>& network_interface_whitelist, bool verbose, bool lite)
    : impl_(std::make_unique<Impl>(robot_sn, network_interface_whitelist, verbose, lite)) {}

Robot::~Robot() = default;

bool Robot::lite() const { return impl_->lite; }
RobotInfo Robot::info() const { return impl_->info; }

bool Robot::connected() const { return impl_->connected(); }
Mode Robot::mode() const { return impl_->mode(); }
RobotStates Robot::states() const { return impl_->states(); }
RobotActions Robot::actions() const { return impl_->actions(); }
bool Robot::stopped() const { return impl_->Stopped(); }
bool Robot::operational() const { return impl_->operational(); }
OperationalStatus Robot::operational_status() const { return impl_->operational_status(); }
bool Robot::busy() const { return impl_->busy(); }
bool Robot::fault() const { return impl_->fault(); }
bool Robot::reduced() const { return impl_->reduced(); }
bool Robot::recovery() const { return impl_->recovery(); }
bool Robot::estop_released() const { return impl_->estop_released(); }
bool Robot::enabling_button_pressed() const { return impl_->enabling_button_pressed(); }
bool Robot::reached_timeliness_failure_limit() const {
  return impl_->reached_timeliness_failure_limit();
}
void Robot::SetTimelinessFailureLimit(double percentage) {
  impl_->SetTimelinessFailureLimit(percentage);
}
std::vector<RobotEvent> Robot::event_log() const { return impl_->event_log(); }
PlanInfo Robot::plan_info() const { return impl_->plan_info(); }
std::vector<std::string> Robot::plan_list() const { return impl_->plan_list(); }
std::array<bool, 18> Robot::digital_inputs() const { return impl_->digital_inputs(); }

}  // namespace quiral::vek
