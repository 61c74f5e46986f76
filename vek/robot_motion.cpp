// quiral::vek::Robot: motion commands. Streamed joint-torque, joint-position
// and Cartesian motion-force commands, sent once per control cycle, and the
// non-real-time joint, Cartesian and multi-waypoint Cartesian commands,
// which give a target with motion limits.
//
// Every command goes through the operational gate, the control mode and its
// argument checks (Check<Operation>) before anything is built; every number
// must stay finite as a 32-bit float, and the quaternion of every pose must
// be one that can be normalised. The command is then stamped and published
// by one of the Publish* helpers. Nothing comes back from the robot.

#include <array>
#include <cfloat>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include <spdlog/spdlog.h>

#include "client/vek_client.h"
#include "msgs/vek_msgs/cartesian_commands.h"
#include "msgs/vek_msgs/joint_commands.h"
#include "vek/robot.h"
#include "vek/robot_impl.h"

namespace quiral::vek {
namespace {

constexpr int16_t ModeValue(Mode mode) { return static_cast<int16_t>(mode); }

// Smallest motion limit accepted; anything below counts as not above 0.
constexpr double kMinMotionLimit = DBL_EPSILON;

// Written so that NaN fails.
bool AtLeastMinLimit(double x) { return x >= kMinMotionLimit; }

void ToFloats(const std::vector<double>& in, std::vector<float>& out) {
  out.resize(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) out[i] = static_cast<float>(in[i]);
}

template <std::size_t N>
void ToFloats(const std::array<double, N>& in, std::array<float, N>& out) {
  for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<float>(in[i]);
}

// Operation names, as the error texts give them.
constexpr const char* kStreamJointTorque = "StreamJointTorque";
constexpr const char* kStreamJointPosition = "StreamJointPosition";
constexpr const char* kStreamCartesianMotionForce = "StreamCartesianMotionForce";
constexpr const char* kSendJointPosition = "SendJointPosition";
constexpr const char* kSendCartesianMotionForce = "SendCartesianMotionForce";
constexpr const char* kSendMultiCartesianMotionForce = "SendMultiCartesianMotionForce";

// A quaternion shorter than this counts as zero: it has no direction to
// normalise to.
constexpr double kMinQuaternionNorm = DBL_EPSILON;

std::logic_error ModeError(const char* operation) {
  return std::logic_error(Robot::Impl::Prefix(operation) +
                          " Robot is not in an applicable control mode");
}

std::array<double, 4> Limits(const NrtCartesianCmd& waypoint) {
  return {waypoint.max_linear_vel, waypoint.max_angular_vel, waypoint.max_linear_acc,
          waypoint.max_angular_acc};
}

// The four motion limits of a Cartesian command.
void RequireCartesianLimits(const std::array<double, 4>& limits, const char* operation) {
  for (const double limit : limits) {
    if (!AtLeastMinLimit(limit)) {
      throw std::invalid_argument(Robot::Impl::Prefix(operation) +
                                  " Input parameters [max_linear_vel, max_angular_vel, "
                                  "max_linear_acc, max_angular_acc] must be greater than 0");
    }
  }
}

std::string SizeMismatch(const char* operation, const char* argument) {
  return Robot::Impl::Prefix(operation) + " Size of input vector [" + argument +
         "] does not match robot DoF";
}

// Streamed commands of a verbose Robot: warns on every command while the
// link's timeliness monitor reports too many late commands. The command is
// sent all the same.
void WarnIfUntimely(const vek_impl::VEKClient& client, const char* operation) {
  if (!client.timeliness_limit_reached.load()) return;
  spdlog::warn(
      "{} Timeliness failure: the number of commands that failed to arrive the robot in "
      "real time has reached the specified limit. Performance degradation and "
      "unexpected behavior may occur, please use with caution!",
      Robot::Impl::Prefix(operation));
}

}  // namespace

// ------------------------------------------------------------------ number checks

bool Robot::Impl::IsWireFloat(double x) {
  return std::isfinite(x) && std::fabs(x) <= static_cast<double>(FLT_MAX);
}

void Robot::Impl::RequireWireFloats(const double* values, std::size_t count,
                                    std::string_view operation, std::string_view argument) {
  for (std::size_t i = 0; i < count; ++i) {
    if (IsWireFloat(values[i])) continue;
    const char* what = std::isfinite(values[i])
                           ? "] contains a value outside the 32-bit float range"
                           : "] contains a non-finite value";
    throw std::invalid_argument(Prefix(operation) + " Input parameter [" + std::string(argument) +
                                what);
  }
}

void Robot::Impl::RequirePose(const std::array<double, 7>& pose, std::string_view operation,
                              std::string_view argument) {
  RequireWireFloats(pose.data(), pose.size(), operation, argument);
  double squares = 0.0;
  for (std::size_t i = 3; i < 7; ++i) squares += pose[i] * pose[i];
  if (!(std::sqrt(squares) >= kMinQuaternionNorm)) {
    throw std::invalid_argument(Prefix(operation) + " Input parameter [" + std::string(argument) +
                                "] contains an invalid quaternion");
  }
}

double Robot::Impl::LimitAt(const std::vector<double>& table, std::size_t i) {
  return i < table.size() ? table[i] : std::numeric_limits<double>::quiet_NaN();
}

// ------------------------------------------------------------------ streamed commands

void Robot::Impl::StreamJointTorque(const std::vector<double>& torques, bool enable_gravity_comp,
                                    bool enable_soft_limits, double friction_comp_scale) {
  RequireOperational(kStreamJointTorque);
  if (CurrentMode() != ModeValue(Mode::RT_JOINT_TORQUE)) throw ModeError(kStreamJointTorque);
  if (verbose) WarnIfUntimely(*client, kStreamJointTorque);
  CheckStreamJointTorque(torques, enable_gravity_comp, enable_soft_limits, friction_comp_scale);

  vek_msgs::msg::JointCommands command;
  ToFloats(torques, command.torque());
  command.disable_gravity_comp(!enable_gravity_comp);
  command.disable_soft_limit(!enable_soft_limits);
  command.friction_comp_scale(static_cast<float>(friction_comp_scale));
  PublishJointCommand(command);
}

void Robot::Impl::CheckStreamJointTorque(const std::vector<double>& torques,
                                         bool /*enable_gravity_comp*/, bool /*enable_soft_limits*/,
                                         double friction_comp_scale) const {
  if (torques.size() != info.DoF) {
    throw std::invalid_argument(SizeMismatch(kStreamJointTorque, "torques"));
  }
  if (!InRange(friction_comp_scale, 0.0, 100.0)) {
    throw std::invalid_argument(
        Prefix(kStreamJointTorque) +
        " Input parameter [friction_comp_scale] is outside the valid range");
  }
  RequireWireFloats(torques.data(), torques.size(), kStreamJointTorque, "torques");
}

void Robot::Impl::StreamJointPosition(const std::vector<double>& positions,
                                      const std::vector<double>& velocities,
                                      const std::vector<double>& accelerations) {
  RequireOperational(kStreamJointPosition);
  const int16_t mode = CurrentMode();
  if (mode != ModeValue(Mode::RT_JOINT_IMPEDANCE) && mode != ModeValue(Mode::RT_JOINT_POSITION)) {
    throw ModeError(kStreamJointPosition);
  }
  if (verbose) WarnIfUntimely(*client, kStreamJointPosition);
  CheckStreamJointPosition(positions, velocities, accelerations);

  vek_msgs::msg::JointCommands command;
  ToFloats(positions, command.position());
  ToFloats(velocities, command.velocity());
  ToFloats(accelerations, command.acceleration());
  command.torque().assign(info.DoF, 0.0f);
  PublishJointCommand(command);
}

void Robot::Impl::CheckStreamJointPosition(const std::vector<double>& positions,
                                           const std::vector<double>& velocities,
                                           const std::vector<double>& accelerations) const {
  static constexpr const char* kOperation = kStreamJointPosition;
  const std::size_t dof = info.DoF;
  if (positions.size() != dof) throw std::invalid_argument(SizeMismatch(kOperation, "positions"));
  if (velocities.size() != dof) throw std::invalid_argument(SizeMismatch(kOperation, "velocities"));
  if (accelerations.size() != dof) {
    throw std::invalid_argument(SizeMismatch(kOperation, "accelerations"));
  }
  RequireWireFloats(positions.data(), dof, kOperation, "positions");
  RequireWireFloats(velocities.data(), dof, kOperation, "velocities");
  RequireWireFloats(accelerations.data(), dof, kOperation, "accelerations");
}

void Robot::Impl::StreamCartesianMotionForce(const std::array<double, 7>& pose,
                                             const std::array<double, 6>& wrench,
                                             const std::array<double, 6>& velocity,
                                             const std::array<double, 6>& acceleration) {
  RequireOperational(kStreamCartesianMotionForce);
  if (CurrentMode() != ModeValue(Mode::RT_CARTESIAN_MOTION_FORCE)) {
    throw ModeError(kStreamCartesianMotionForce);
  }
  if (verbose) WarnIfUntimely(*client, kStreamCartesianMotionForce);
  CheckStreamCartesianMotionForce(pose, wrench, velocity, acceleration);

  vek_msgs::msg::CartesianCommands command;
  ToFloats(pose, command.pose());
  ToFloats(wrench, command.wrench());
  ToFloats(velocity, command.velocity());
  ToFloats(acceleration, command.acceleration());
  PublishCartesianCommand(command);
}

void Robot::Impl::CheckStreamCartesianMotionForce(const std::array<double, 7>& pose,
                                                  const std::array<double, 6>& wrench,
                                                  const std::array<double, 6>& velocity,
                                                  const std::array<double, 6>& acceleration) const {
  static constexpr const char* kOperation = kStreamCartesianMotionForce;
  RequirePose(pose, kOperation, "pose");
  RequireWireFloats(wrench.data(), wrench.size(), kOperation, "wrench");
  RequireWireFloats(velocity.data(), velocity.size(), kOperation, "velocity");
  RequireWireFloats(acceleration.data(), acceleration.size(), kOperation, "acceleration");
}

// ------------------------------------------------------------------ non-real-time commands

void Robot::Impl::SendJointPosition(const std::vector<double>& positions,
                                    const std::vector<double>& velocities,
                                    const std::vector<double>& max_vel,
                                    const std::vector<double>& max_acc) {
  RequireOperational(kSendJointPosition);
  const int16_t mode = CurrentMode();
  if (mode != ModeValue(Mode::NRT_JOINT_IMPEDANCE) && mode != ModeValue(Mode::NRT_JOINT_POSITION)) {
    throw ModeError(kSendJointPosition);
  }
  CheckSendJointPosition(positions, velocities, max_vel, max_acc);

  vek_msgs::msg::JointCommands command;
  ToFloats(positions, command.position());
  ToFloats(velocities, command.velocity());
  ToFloats(max_vel, command.max_vel());
  ToFloats(max_acc, command.max_acc());
  PublishJointCommand(command);
}

void Robot::Impl::CheckSendJointPosition(const std::vector<double>& positions,
                                         const std::vector<double>& velocities,
                                         const std::vector<double>& max_vel,
                                         const std::vector<double>& max_acc) const {
  static constexpr const char* kOperation = kSendJointPosition;
  const std::size_t dof = info.DoF;
  if (positions.size() != dof) throw std::invalid_argument(SizeMismatch(kOperation, "positions"));
  if (velocities.size() != dof) throw std::invalid_argument(SizeMismatch(kOperation, "velocities"));
  if (max_vel.size() != dof) throw std::invalid_argument(SizeMismatch(kOperation, "max_vel"));
  if (max_acc.size() != dof) throw std::invalid_argument(SizeMismatch(kOperation, "max_acc"));
  for (const std::vector<double>* limits : {&max_vel, &max_acc}) {
    for (const double limit : *limits) {
      if (!AtLeastMinLimit(limit)) {
        throw std::invalid_argument(
            Prefix(kOperation) +
            " Input parameters [max_vel] and [max_acc] must be greater than 0");
      }
    }
  }
  RequireWireFloats(positions.data(), dof, kOperation, "positions");
  RequireWireFloats(velocities.data(), dof, kOperation, "velocities");
  RequireWireFloats(max_vel.data(), dof, kOperation, "max_vel");
  RequireWireFloats(max_acc.data(), dof, kOperation, "max_acc");
}

void Robot::Impl::SendCartesianMotionForce(const std::array<double, 7>& pose,
                                           const std::array<double, 6>& wrench,
                                           const std::array<double, 6>& velocity,
                                           double max_linear_vel, double max_angular_vel,
                                           double max_linear_acc, double max_angular_acc) {
  RequireOperational(kSendCartesianMotionForce);
  const int16_t mode = CurrentMode();
  if (mode != ModeValue(Mode::NRT_CARTESIAN_MOTION_FORCE) &&
      mode != ModeValue(Mode::NRT_SUPER_PRIMITIVE)) {
    throw ModeError(kSendCartesianMotionForce);
  }
  CheckSendCartesianMotionForce(pose, wrench, velocity, max_linear_vel, max_angular_vel,
                                max_linear_acc, max_angular_acc);

  vek_msgs::msg::CartesianCommands command;
  ToFloats(pose, command.pose());
  ToFloats(wrench, command.wrench());
  ToFloats(velocity, command.velocity());
  command.max_linear_vel(static_cast<float>(max_linear_vel));
  command.max_angular_vel(static_cast<float>(max_angular_vel));
  command.max_linear_acc(static_cast<float>(max_linear_acc));
  command.max_angular_acc(static_cast<float>(max_angular_acc));
  PublishCartesianCommand(command);
}

void Robot::Impl::CheckSendCartesianMotionForce(const std::array<double, 7>& pose,
                                                const std::array<double, 6>& wrench,
                                                const std::array<double, 6>& velocity,
                                                double max_linear_vel, double max_angular_vel,
                                                double max_linear_acc,
                                                double max_angular_acc) const {
  static constexpr const char* kOperation = kSendCartesianMotionForce;
  const std::array<double, 4> limits = {max_linear_vel, max_angular_vel, max_linear_acc,
                                        max_angular_acc};
  RequireCartesianLimits(limits, kOperation);
  RequirePose(pose, kOperation, "pose");
  RequireWireFloats(wrench.data(), wrench.size(), kOperation, "wrench");
  RequireWireFloats(velocity.data(), velocity.size(), kOperation, "velocity");
  RequireWireFloats(&limits[0], 1, kOperation, "max_linear_vel");
  RequireWireFloats(&limits[1], 1, kOperation, "max_angular_vel");
  RequireWireFloats(&limits[2], 1, kOperation, "max_linear_acc");
  RequireWireFloats(&limits[3], 1, kOperation, "max_angular_acc");
}

void Robot::Impl::SendMultiCartesianMotionForce(const std::vector<NrtCartesianCmd>& cart_cmds,
                                                const std::vector<std::vector<double>>& joint_pos) {
  RequireOperational(kSendMultiCartesianMotionForce);
  if (CurrentMode() != ModeValue(Mode::NRT_SUPER_PRIMITIVE)) {
    throw ModeError(kSendMultiCartesianMotionForce);
  }
  CheckSendMultiCartesianMotionForce(cart_cmds, joint_pos);

  std::vector<std::vector<float>> joint_positions(joint_pos.size());
  for (std::size_t i = 0; i < joint_pos.size(); ++i) ToFloats(joint_pos[i], joint_positions[i]);
  std::vector<vek_msgs::msg::CartesianCommands> commands(cart_cmds.size());
  for (std::size_t i = 0; i < cart_cmds.size(); ++i) {
    const NrtCartesianCmd& waypoint = cart_cmds[i];
    vek_msgs::msg::CartesianCommands& command = commands[i];
    ToFloats(waypoint.pose, command.pose());
    ToFloats(waypoint.wrench, command.wrench());
    ToFloats(waypoint.velocity, command.velocity());
    command.max_linear_vel(static_cast<float>(waypoint.max_linear_vel));
    command.max_angular_vel(static_cast<float>(waypoint.max_angular_vel));
    command.max_linear_acc(static_cast<float>(waypoint.max_linear_acc));
    command.max_angular_acc(static_cast<float>(waypoint.max_angular_acc));
  }
  PublishCartesianMultiCommand(commands, joint_positions);
}

void Robot::Impl::CheckSendMultiCartesianMotionForce(
    const std::vector<NrtCartesianCmd>& cart_cmds,
    const std::vector<std::vector<double>>& joint_pos) const {
  static constexpr const char* kOperation = kSendMultiCartesianMotionForce;
  if (cart_cmds.empty()) {
    throw std::invalid_argument(Prefix(kOperation) +
                                " Input parameter [cart_cmds] cannot be empty");
  }
  if (joint_pos.empty()) {
    throw std::invalid_argument(Prefix(kOperation) +
                                " Input parameter [joint_pos] cannot be empty");
  }
  if (cart_cmds.size() != joint_pos.size()) {
    throw std::invalid_argument(Prefix(kOperation) +
                                " [cart_cmds] and [joint_pos] must contain the same number of "
                                "waypoints");
  }
  const std::size_t dof = info.DoF;
  for (const std::vector<double>& q : joint_pos) {
    if (q.size() != dof) {
      throw std::invalid_argument(Prefix(kOperation) +
                                  " Each joint position vector in [joint_pos] must contain " +
                                  std::to_string(dof) + " elements");
    }
  }
  for (const NrtCartesianCmd& waypoint : cart_cmds) {
    RequireCartesianLimits(Limits(waypoint), kOperation);
  }
  for (const NrtCartesianCmd& waypoint : cart_cmds) {
    const std::array<double, 4> limits = Limits(waypoint);
    RequirePose(waypoint.pose, kOperation, "cart_cmds");
    RequireWireFloats(waypoint.wrench.data(), waypoint.wrench.size(), kOperation, "cart_cmds");
    RequireWireFloats(waypoint.velocity.data(), waypoint.velocity.size(), kOperation, "cart_cmds");
    RequireWireFloats(limits.data(), limits.size(), kOperation, "cart_cmds");
  }
  for (const std::vector<double>& q : joint_pos) {
    RequireWireFloats(q.data(), q.size(), kOperation, "joint_pos");
  }
}

// ------------------------------------------------------------------ Robot

void Robot::StreamJointTorque(const std::vector<double>& torques, bool enable_gravity_comp,
                              bool enable_soft_limits, double friction_comp_scale) {
  impl_->StreamJointTorque(torques, enable_gravity_comp, enable_soft_limits, friction_comp_scale);
}
void Robot::StreamJointPosition(const std::vector<double>& positions,
                                const std::vector<double>& velocities,
                                const std::vector<double>& accelerations) {
  impl_->StreamJointPosition(positions, velocities, accelerations);
}
void Robot::SendJointPosition(const std::vector<double>& positions,
                              const std::vector<double>& velocities,
                              const std::vector<double>& max_vel,
                              const std::vector<double>& max_acc) {
  impl_->SendJointPosition(positions, velocities, max_vel, max_acc);
}
void Robot::StreamCartesianMotionForce(const std::array<double, 7>& pose,
                                       const std::array<double, 6>& wrench,
                                       const std::array<double, 6>& velocity,
                                       const std::array<double, 6>& acceleration) {
  impl_->StreamCartesianMotionForce(pose, wrench, velocity, acceleration);
}
void Robot::SendCartesianMotionForce(const std::array<double, 7>& pose,
                                     const std::array<double, 6>& wrench,
                                     const std::array<double, 6>& velocity, double max_linear_vel,
                                     double max_angular_vel, double max_linear_acc,
                                     double max_angular_acc) {
  impl_->SendCartesianMotionForce(pose, wrench, velocity, max_linear_vel, max_angular_vel,
                                  max_linear_acc, max_angular_acc);
}
void Robot::SendMultiCartesianMotionForce(const std::vector<NrtCartesianCmd>& cart_cmds,
                                          const std::vector<std::vector<double>>& joint_pos) {
  impl_->SendMultiCartesianMotionForce(cart_cmds, joint_pos);
}

}  // namespace quiral::vek
