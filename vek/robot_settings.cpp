// quiral::vek::Robot: settings of the robot's controllers while it runs:
// joint and Cartesian impedance, contact limits, joint inertia scaling, the
// null-space behaviour of Cartesian control, force control, passive force
// control, and the digital outputs.
//
// Each setting checks the control mode, then its arguments against the
// robot's description and fixed ranges (Check<Operation>), and sends one
// remote procedure with the numbers as 32-bit floats. The robot's acceptance
// is the status of that call; the client keeps no copy of a setting.

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/vek_client.h"
#include "vek/robot.h"
#include "vek/robot_impl.h"

namespace quiral::vek {
namespace {

using vek_impl::ProcedureId;

// Fixed ranges, both ends included.
constexpr double kMinDampingRatio = 0.3;
constexpr double kMaxDampingRatio = 0.8;
constexpr double kDefaultJointDampingRatio = 0.7;
constexpr double kMinInertiaScale = 0.75;
constexpr double kMaxInertiaScale = 1.0;
constexpr double kMinRefPositionsTracking = 0.1;
constexpr double kMinForceControlVel = 0.005;
constexpr double kMaxForceControlVel = 2.0;

constexpr std::size_t kDigitalOutputPorts = 18;

// Operation names, as the error texts give them.
constexpr const char* kSetJointImpedance = "SetJointImpedance";
constexpr const char* kSetCartesianImpedance = "SetCartesianImpedance";
constexpr const char* kSetMaxContactWrench = "SetMaxContactWrench";
constexpr const char* kSetMaxContactTorque = "SetMaxContactTorque";
constexpr const char* kSetJointInertiaScale = "SetJointInertiaScale";
constexpr const char* kSetNullSpacePosture = "SetNullSpacePosture";
constexpr const char* kSetNullSpaceObjectives = "SetNullSpaceObjectives";
constexpr const char* kSetForceControlAxis = "SetForceControlAxis";
constexpr const char* kSetForceControlFrame = "SetForceControlFrame";
constexpr const char* kSetDigitalOutputs = "SetDigitalOutputs";

constexpr int16_t ModeValue(Mode mode) { return static_cast<int16_t>(mode); }

bool IsJointImpedanceMode(int16_t mode) {
  return mode == ModeValue(Mode::RT_JOINT_IMPEDANCE) ||
         mode == ModeValue(Mode::NRT_JOINT_IMPEDANCE);
}

bool IsCartesianMode(int16_t mode) {
  return mode == ModeValue(Mode::RT_CARTESIAN_MOTION_FORCE) ||
         mode == ModeValue(Mode::NRT_CARTESIAN_MOTION_FORCE) ||
         mode == ModeValue(Mode::NRT_SUPER_PRIMITIVE);
}

std::logic_error ModeError(const char* operation) {
  return std::logic_error(Robot::Impl::Prefix(operation) +
                          " Robot is not in an applicable control mode");
}

std::invalid_argument SizeError(const char* operation, const char* argument) {
  return std::invalid_argument(Robot::Impl::Prefix(operation) + " Size of input vector [" +
                               argument + "] does not match robot DoF");
}

std::invalid_argument RangeError(const char* operation, const char* argument) {
  return std::invalid_argument(Robot::Impl::Prefix(operation) + " Input parameter [" + argument +
                               "] contains value outside the valid range");
}

std::invalid_argument ScalarRangeError(const char* operation, const char* argument) {
  return std::invalid_argument(Robot::Impl::Prefix(operation) + " Input parameter [" + argument +
                               "] is outside the valid range");
}

template <typename Container>
void AppendFloats(const Container& values, std::vector<float>& out) {
  for (const double v : values) out.push_back(static_cast<float>(v));
}

void Send(vek_impl::VEKClient& client, const char* operation, ProcedureId id,
          const std::vector<int>& ints, const std::vector<float>& floats,
          const std::vector<std::string>& strings = {}) {
  if (!QorSucceeded(client.operations_rpc.GeneralCall(id, std::string(), ints, floats, strings))) {
    throw std::runtime_error(Robot::Impl::Prefix(operation) + " Failed to deliver the request");
  }
}

}  // namespace

void Robot::Impl::SetJointImpedance(const std::vector<double>& K_q,
                                    const std::vector<double>& Z_q) {
  if (!IsJointImpedanceMode(CurrentMode())) throw ModeError(kSetJointImpedance);
  CheckSetJointImpedance(K_q, Z_q);
  const std::size_t dof = info.DoF;
  std::vector<float> floats;
  floats.reserve(2 * dof);
  AppendFloats(K_q, floats);
  AppendFloats(Z_q.empty() ? std::vector<double>(dof, kDefaultJointDampingRatio) : Z_q, floats);
  Send(*client, kSetJointImpedance, ProcedureId::SetJointImpedance, {}, floats);
}

void Robot::Impl::CheckSetJointImpedance(const std::vector<double>& K_q,
                                         const std::vector<double>& Z_q) const {
  static constexpr const char* kOperation = kSetJointImpedance;
  const std::size_t dof = info.DoF;
  // An empty Z_q stands for the default damping of every joint, which is in
  // range.
  const bool default_damping = Z_q.empty();
  if (K_q.size() != dof) throw SizeError(kOperation, "K_q");
  if (!default_damping && Z_q.size() != dof) throw SizeError(kOperation, "Z_q");
  // Joint by joint, stiffness before damping: the first bad joint decides
  // the message. A joint without a stiffness limit in the robot's
  // description accepts no value.
  for (std::size_t i = 0; i < dof; ++i) {
    if (!InRange(K_q[i], 0.0, LimitAt(info.K_q_max, i))) throw RangeError(kOperation, "K_q");
    if (!default_damping && !InRange(Z_q[i], kMinDampingRatio, kMaxDampingRatio)) {
      throw RangeError(kOperation, "Z_q");
    }
  }
  // External axes have no upper stiffness limit.
  RequireWireFloats(K_q.data(), dof, kOperation, "K_q");
}

void Robot::Impl::SetCartesianImpedance(const std::array<double, 6>& K_x,
                                        const std::array<double, 6>& Z_x) {
  if (!IsCartesianMode(CurrentMode())) throw ModeError(kSetCartesianImpedance);
  CheckSetCartesianImpedance(K_x, Z_x);
  std::vector<float> floats;
  floats.reserve(12);
  AppendFloats(K_x, floats);
  AppendFloats(Z_x, floats);
  Send(*client, kSetCartesianImpedance, ProcedureId::SetCartesianImpedance, {}, floats);
}

void Robot::Impl::CheckSetCartesianImpedance(const std::array<double, 6>& K_x,
                                             const std::array<double, 6>& Z_x) const {
  static constexpr const char* kOperation = kSetCartesianImpedance;
  for (std::size_t i = 0; i < 6; ++i) {
    if (!InRange(K_x[i], 0.0, info.K_x_max[i])) throw RangeError(kOperation, "K_x");
    if (!InRange(Z_x[i], kMinDampingRatio, kMaxDampingRatio)) throw RangeError(kOperation, "Z_x");
  }
}

void Robot::Impl::SetMaxContactWrench(const std::array<double, 6>& max_wrench) {
  if (!IsCartesianMode(CurrentMode())) throw ModeError(kSetMaxContactWrench);
  CheckSetMaxContactWrench(max_wrench);
  std::vector<float> floats;
  floats.reserve(6);
  AppendFloats(max_wrench, floats);
  Send(*client, kSetMaxContactWrench, ProcedureId::SetMaxContactWrench, {}, floats);
}

void Robot::Impl::CheckSetMaxContactWrench(const std::array<double, 6>& max_wrench) const {
  for (const double w : max_wrench) {
    if (w < 0.0) {
      throw std::invalid_argument(Prefix(kSetMaxContactWrench) +
                                  " Input parameter [max_wrench] contains negative value");
    }
  }
  // No upper limit: NaN and infinities are refused here.
  RequireWireFloats(max_wrench.data(), max_wrench.size(), kSetMaxContactWrench, "max_wrench");
}

void Robot::Impl::SetMaxContactTorque(const std::vector<double>& max_torques) {
  if (!IsJointImpedanceMode(CurrentMode())) throw ModeError(kSetMaxContactTorque);
  CheckSetMaxContactTorque(max_torques);
  std::vector<float> floats;
  floats.reserve(max_torques.size());
  AppendFloats(max_torques, floats);
  Send(*client, kSetMaxContactTorque, ProcedureId::SetMaxContactTorque, {}, floats);
}

void Robot::Impl::CheckSetMaxContactTorque(const std::vector<double>& max_torques) const {
  static constexpr const char* kOperation = kSetMaxContactTorque;
  const std::size_t dof = info.DoF;
  if (max_torques.size() != dof) throw SizeError(kOperation, "max_torques");
  for (std::size_t i = 0; i < dof; ++i) {
    if (!InRange(max_torques[i], 0.0, LimitAt(info.tau_max, i))) {
      throw RangeError(kOperation, "max_torques");
    }
  }
  RequireWireFloats(max_torques.data(), dof, kOperation, "max_torques");
}

void Robot::Impl::SetJointInertiaScale(const std::vector<double>& inertia_scales) {
  if (!IsJointImpedanceMode(CurrentMode())) throw ModeError(kSetJointInertiaScale);
  CheckSetJointInertiaScale(inertia_scales);
  std::vector<float> floats;
  floats.reserve(inertia_scales.size());
  AppendFloats(inertia_scales, floats);
  Send(*client, kSetJointInertiaScale, ProcedureId::SetJointInertiaScale, {}, floats);
}

void Robot::Impl::CheckSetJointInertiaScale(const std::vector<double>& inertia_scales) const {
  if (inertia_scales.size() != info.DoF) throw SizeError(kSetJointInertiaScale, "inertia_scales");
  for (const double scale : inertia_scales) {
    if (!InRange(scale, kMinInertiaScale, kMaxInertiaScale)) {
      throw RangeError(kSetJointInertiaScale, "inertia_scales");
    }
  }
}

void Robot::Impl::SetNullSpacePosture(const std::vector<double>& ref_positions) {
  if (!IsCartesianMode(CurrentMode())) throw ModeError(kSetNullSpacePosture);
  CheckSetNullSpacePosture(ref_positions);
  std::vector<float> floats;
  floats.reserve(ref_positions.size());
  AppendFloats(ref_positions, floats);
  Send(*client, kSetNullSpacePosture, ProcedureId::SetNullSpacePosture, {}, floats);
}

void Robot::Impl::CheckSetNullSpacePosture(const std::vector<double>& ref_positions) const {
  static constexpr const char* kOperation = kSetNullSpacePosture;
  const std::size_t dof = info.DoF;
  if (ref_positions.size() != dof) throw SizeError(kOperation, "ref_positions");
  for (std::size_t i = 0; i < dof; ++i) {
    if (!InRange(ref_positions[i], LimitAt(info.q_min, i), LimitAt(info.q_max, i))) {
      throw RangeError(kOperation, "ref_positions");
    }
  }
  RequireWireFloats(ref_positions.data(), dof, kOperation, "ref_positions");
}

void Robot::Impl::SetNullSpaceObjectives(double linear_manipulability,
                                         double angular_manipulability,
                                         double ref_positions_tracking) {
  if (!IsCartesianMode(CurrentMode())) throw ModeError(kSetNullSpaceObjectives);
  CheckSetNullSpaceObjectives(linear_manipulability, angular_manipulability,
                              ref_positions_tracking);
  Send(*client, kSetNullSpaceObjectives, ProcedureId::SetNullSpaceObjectives, {},
       {static_cast<float>(linear_manipulability), static_cast<float>(angular_manipulability),
        static_cast<float>(ref_positions_tracking)});
}

void Robot::Impl::CheckSetNullSpaceObjectives(double linear_manipulability,
                                              double angular_manipulability,
                                              double ref_positions_tracking) const {
  static constexpr const char* kOperation = kSetNullSpaceObjectives;
  if (!InRange(linear_manipulability, 0.0, 1.0)) {
    throw ScalarRangeError(kOperation, "linear_manipulability");
  }
  if (!InRange(angular_manipulability, 0.0, 1.0)) {
    throw ScalarRangeError(kOperation, "angular_manipulability");
  }
  if (!InRange(ref_positions_tracking, kMinRefPositionsTracking, 1.0)) {
    throw ScalarRangeError(kOperation, "ref_positions_tracking");
  }
}

void Robot::Impl::SetForceControlAxis(const std::array<bool, 6>& enabled_axes,
                                      const std::array<double, 3>& max_linear_vel) {
  if (!IsCartesianMode(CurrentMode())) throw ModeError(kSetForceControlAxis);
  CheckSetForceControlAxis(enabled_axes, max_linear_vel);
  std::vector<int> ints;
  ints.reserve(6);
  for (const bool enabled : enabled_axes) ints.push_back(enabled ? 1 : 0);
  std::vector<float> floats;
  floats.reserve(3);
  AppendFloats(max_linear_vel, floats);
  Send(*client, kSetForceControlAxis, ProcedureId::SetForceControlAxis, ints, floats);
}

void Robot::Impl::CheckSetForceControlAxis(const std::array<bool, 6>& /*enabled_axes*/,
                                           const std::array<double, 3>& max_linear_vel) const {
  for (const double v : max_linear_vel) {
    if (!InRange(v, kMinForceControlVel, kMaxForceControlVel)) {
      throw RangeError(kSetForceControlAxis, "max_linear_vel");
    }
  }
}

void Robot::Impl::SetForceControlFrame(CoordType root_coord,
                                       const std::array<double, 7>& T_in_root) {
  if (!IsCartesianMode(CurrentMode())) throw ModeError(kSetForceControlFrame);
  CheckSetForceControlFrame(root_coord, T_in_root);
  std::vector<float> floats;
  floats.reserve(7);
  AppendFloats(T_in_root, floats);
  Send(*client, kSetForceControlFrame, ProcedureId::SetForceControlFrame, {}, floats,
       {root_coord == CoordType::WORLD ? "WORLD" : "TCP"});
}

void Robot::Impl::CheckSetForceControlFrame(CoordType root_coord,
                                            const std::array<double, 7>& T_in_root) const {
  if (root_coord != CoordType::WORLD && root_coord != CoordType::TCP) {
    throw std::invalid_argument(Prefix(kSetForceControlFrame) +
                                " Input parameter [root_coord] is invalid");
  }
  RequirePose(T_in_root, kSetForceControlFrame, "T_in_root");
}

void Robot::Impl::SetPassiveForceControl(bool is_enabled) {
  static constexpr const char* kOperation = "SetPassiveForceControl";
  if (CurrentMode() != ModeValue(Mode::IDLE)) {
    throw std::logic_error(Prefix(kOperation) + " Robot is not in IDLE mode");
  }
  Send(*client, kOperation, ProcedureId::SetPassiveForceControl, {is_enabled ? 1 : 0}, {});
}

void Robot::Impl::SetDigitalOutputs(const std::map<unsigned int, bool>& digital_outputs) {
  CheckSetDigitalOutputs(digital_outputs);
  // -1: a port this call leaves as it is.
  std::vector<int> slots(kDigitalOutputPorts, -1);
  for (const auto& [port, value] : digital_outputs) slots[port] = value ? 1 : 0;
  Send(*client, kSetDigitalOutputs, ProcedureId::SetDigitalOutputs, slots, {});
}

void Robot::Impl::CheckSetDigitalOutputs(
    const std::map<unsigned int, bool>& digital_outputs) const {
  for (const auto& entry : digital_outputs) {
    if (entry.first >= kDigitalOutputPorts) {
      throw std::invalid_argument(Prefix(kSetDigitalOutputs) +
                                  " Input map contains port index outside the valid range");
    }
  }
}

// ------------------------------------------------------------------ Robot

void Robot::SetJointImpedance(const std::vector<double>& K_q, const std::vector<double>& Z_q) {
  impl_->SetJointImpedance(K_q, Z_q);
}
void Robot::SetCartesianImpedance(const std::array<double, 6>& K_x,
                                  const std::array<double, 6>& Z_x) {
  impl_->SetCartesianImpedance(K_x, Z_x);
}
void Robot::SetMaxContactWrench(const std::array<double, 6>& max_wrench) {
  impl_->SetMaxContactWrench(max_wrench);
}
void Robot::SetMaxContactTorque(const std::vector<double>& max_torques) {
  impl_->SetMaxContactTorque(max_torques);
}
void Robot::SetJointInertiaScale(const std::vector<double>& inertia_scales) {
  impl_->SetJointInertiaScale(inertia_scales);
}
void Robot::SetNullSpacePosture(const std::vector<double>& ref_positions) {
  impl_->SetNullSpacePosture(ref_positions);
}
void Robot::SetNullSpaceObjectives(double linear_manipulability, double angular_manipulability,
                                   double ref_positions_tracking) {
  impl_->SetNullSpaceObjectives(linear_manipulability, angular_manipulability,
                                ref_positions_tracking);
}
void Robot::SetForceControlAxis(const std::array<bool, 6>& enabled_axes,
                                const std::array<double, 3>& max_linear_vel) {
  impl_->SetForceControlAxis(enabled_axes, max_linear_vel);
}
void Robot::SetForceControlFrame(CoordType root_coord, const std::array<double, 7>& T_in_root) {
  impl_->SetForceControlFrame(root_coord, T_in_root);
}
void Robot::SetPassiveForceControl(bool is_enabled) { impl_->SetPassiveForceControl(is_enabled); }
void Robot::SetDigitalOutputs(const std::map<unsigned int, bool>& digital_outputs) {
  impl_->SetDigitalOutputs(digital_outputs);
}

}  // namespace quiral::vek
