// quiral::vek::Robot: motion commands. Streamed joint-torque, joint-position
// and Cartesian motion-force commands, sent once per control cycle, and the
// non-real-time joint, Cartesian and multi-waypoint Cartesian commands,
// which give a target with motion limits.
//
// Every command goes through the operational gate, the control mode and its
// argument checks before anything is built; every number must stay finite
// as a 32-bit float. The command is then stamped and published by one of
// the Publish* helpers. Nothing comes back from the robot.

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

double Robot::Impl::LimitAt(const std::vector<double>& table, std::size_t i) {
  return i < table.size() ? table[i] : std::numeric_limits<double>::quiet_NaN();
}

// ------------------------------------------------------------------ streamed commands

void Robot::Impl::StreamJointTorque(const std::vector<double>& torques, bool enable_gravity_comp,
                                    bool enable_soft_limits, double friction_comp_scale) {
  static constexpr const char* kOperation = "StreamJointTorque";
  RequireOperational(kOperation);
  if (CurrentMode() != ModeValue(Mode::RT_JOINT_TORQUE)) {
    throw std::logic_error(Prefix(kOperation) + " Robot is not in an applicable control mode");
  }
  if (verbose) WarnIfUntimely(*client, kOperation);
  if (torques.size() != info.DoF) {
    throw std::invalid_argument(SizeMismatch(kOperation, "torques"));
  }
  if (!InRange(friction_comp_scale, 0.0, 100.0)) {
    throw std::invalid_argument(
        Prefix(kOperation) + " Input parameter [friction_comp_scale] is outside the valid range");
  }
  RequireWireFloats(torques.data(), torques.size(), kOperation, "torques");

  vek_msgs::msg::JointCommands command;
  ToFloats(torques, command.torque());
  command.disable_gravity_comp(!enable_gravity_comp);
  command.disable_soft_limit(!enable_soft_limits);
  command.friction_comp_scale(static_cast<float>(friction_comp_scale));
  PublishJointCommand(command);
}

void Robot::Impl::StreamJointPosition(const std::vector<double>& positions,
                                      const std::vector<double>& velocities,
                                      const std::vector<double>& accelerations) {
  static constexpr const char* kOperation = "StreamJointPosition";
  RequireOperational(kOperation);
  const int16_t mode = CurrentMode();
  if (mode != ModeValue(Mode::RT_JOINT_IMPEDANCE) && mode != ModeValue(Mode::RT_JOINT_POSITION)) {
    throw std::logic_error(Prefix(kOperation) + " Robot is not in an applicable control mode");
  }
  if (verbose) WarnIfUntimely(*client, kOperation);
  const std::size_t dof = info.DoF;
  if (positions.size() != dof) throw std::invalid_argument(SizeMismatch(kOperation, "positions"));
  if (velocities.size() != dof) throw std::invalid_argument(SizeMismatch(kOperation, "velocities"));
  if (accelerations.size() != dof) {
    throw std::invalid_argument(SizeMismatch(kOperation, "accelerations"));
  }
  RequireWireFloats(positions.data(), dof, kOperation, "positions");
  RequireWireFloats(velocities.data(), dof, kOperation, "velocities");
  RequireWireFloats(accelerations.data(), dof, kOperation, "accelerations");

  vek_msgs::msg::JointCommands command;
  ToFloats(positions, command.position());
  ToFloats(velocities, command.velocity());
  ToFloats(accelerations, command.acceleration());
  command.torque().assign(dof, 0.0f);
  PublishJointCommand(command);
}

void Robot::Impl::StreamCartesianMotionForce(const std::array<double, 7>& pose,
                                             const std::array<double, 6>& wrench,
                                             const std::array<double, 6>& velocity,
                                             const std::array<double, 6>& acceleration) {
  static constexpr const char* kOperation = "StreamCartesianMotionForce";
  RequireOperational(kOperation);
  if (CurrentMode() != ModeValue(Mode::RT_CARTESIAN_MOTION_FORCE)) {
    throw std::logic_error(Prefix(kOperation) + " Robot is not in an applicable control mode");
  }
  if (verbose) WarnIfUntimely(*client, kOperation);
  RequireWireFloats(pose.data(), pose.size(), kOperation, "pose");
  RequireWireFloats(wrench.data(), wrench.size(), kOperation, "wrench");
  RequireWireFloats(velocity.data(), velocity.size(), kOperation, "velocity");
  RequireWireFloats(acceleration.data(), acceleration.size(), kOperation, "acceleration");

  vek_msgs::msg::CartesianCommands command;
  ToFloats(pose, command.pose());
  ToFloats(wrench, command.wrench());
  ToFloats(velocity, command.velocity());
  ToFloats(acceleration, command.acceleration());
  PublishCartesianCommand(command);
}

// ------------------------------------------------------------------ non-real-time commands

void Robot::Impl::SendJointPosition(const std::vector<double>& positions,
                                    const std::vector<double>& velocities,
                                    const std::vector<double>& max_vel,
                                    const std::vector<double>& max_acc) {
  static constexpr const char* kOperation = "SendJointPosition";
  RequireOperational(kOperation);
  const int16_t mode = CurrentMode();
  if (mode != ModeValue(Mode::NRT_JOINT_IMPEDANCE) && mode != ModeValue(Mode::NRT_JOINT_POSITION)) {
    throw std::logic_error(Prefix(kOperation) + " Robot is not in an applicable control mode");
  }
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

  vek_msgs::msg::JointCommands command;
  ToFloats(positions, command.position());
  ToFloats(velocities, command.velocity());
  ToFloats(max_vel, command.max_vel());
  ToFloats(max_acc, command.max_acc());
  PublishJointCommand(command);
}

void Robot::Impl::SendCartesianMotionForce(const std::array<double, 7>& pose,
                                           const std::array<double, 6>& wrench,
                                           const std::array<double, 6>& velocity,
                                           double max_linear_vel, double max_angular_vel,
                                           double max_linear_acc, double max_angular_acc) {
  static constexpr const char* kOperation = "SendCartesianMotionForce";
  RequireOperational(kOperation);
  const int16_t mode = CurrentMode();
  if (mode != ModeValue(Mode::NRT_CARTESIAN_MOTION_FORCE) &&
      mode != ModeValue(Mode::NRT_SUPER_PRIMITIVE)) {
    throw std::logic_error(Prefix(kOperation) + " Robot is not in an applicable control mode");
  }
  const std::array<double, 4> limits = {max_linear_vel, max_angular_vel, max_linear_acc,
                                        max_angular_acc};
  for (const double limit : limits) {
    if (!AtLeastMinLimit(limit)) {
      throw std::invalid_argument(Prefix(kOperation) +
                                  " Input parameters [max_linear_vel, max_angular_vel, "
                                  "max_linear_acc, max_angular_acc] must be greater than 0");
    }
  }
  RequireWireFloats(pose.data(), pose.size(), kOperation, "pose");
  RequireWireFloats(wrench.data(), wrench.size(), kOperation, "wrench");
  RequireWireFloats(velocity.data(), velocity.size(), kOperation, "velocity");
  RequireWireFloats(&limits[0], 1, kOperation, "max_linear_vel");
  RequireWireFloats(&limits[1], 1, kOperation, "max_angular_vel");
  RequireWireFloats(&limits[2], 1, kOperation, "max_linear_acc");
  RequireWireFloats(&limits[3], 1, kOperation, "max_angular_acc");

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

void Robot::Impl::SendMultiCartesianMotionForce(const std::vector<NrtCartesianCmd>& cart_cmds,
                                                const std::vector<std::vector<double>>& joint_pos) {
  static constexpr const char* kOperation = "SendMultiCartesianMotionForce";
  RequireOperational(kOperation);
  if (CurrentMode() != ModeValue(Mode::NRT_SUPER_PRIMITIVE)) {
    throw std::logic_error(Prefix(kOperation) + " Robot is not in an applicable control mode");
  }
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
    for (const double limit : {waypoint.max_linear_vel, waypoint.max_angular_vel,
                               waypoint.max_linear_acc, waypoint.max_angular_acc}) {
      if (!AtLeastMinLimit(limit)) {
        throw std::invalid_argument(Prefix(kOperation) +
                                    " Input parameters [max_linear_vel, max_angular_vel, "
                                    "max_linear_acc, max_angular_acc] must be greater than 0");
      }
    }
  }
  for (const NrtCartesianCmd& waypoint : cart_cmds) {
    const std::array<double, 4> limits = {waypoint.max_linear_vel, waypoint.max_angular_vel,
                                          waypoint.max_linear_acc, waypoint.max_angular_acc};
    RequireWireFloats(waypoint.pose.data(), waypoint.pose.size(), kOperation, "cart_cmds");
    RequireWireFloats(waypoint.wrench.data(), waypoint.wrench.size(), kOperation, "cart_cmds");
    RequireWireFloats(waypoint.velocity.data(), waypoint.velocity.size(), kOperation, "cart_cmds");
    RequireWireFloats(limits.data(), limits.size(), kOperation, "cart_cmds");
  }
  for (const std::vector<double>& q : joint_pos) {
    RequireWireFloats(q.data(), q.size(), kOperation, "joint_pos");
  }

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
