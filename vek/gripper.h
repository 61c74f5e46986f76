// quiral::vek::Gripper: the gripper attached to one robot, a device of the
// controller (vek/device.h) enabled by name.
//
// Enable reads the gripper's working ranges from the device's parameters
// ("minWidth", "maxWidth", "minVel", "maxVel", "minForce", "maxForce",
// each a double); Grasp and Move check every argument against them and
// send it at least kMargin inside. Errors begin with
// "[quiral::vek::Gripper::<operation>] ":
//   std::logic_error       no gripper enabled (or one already is), or no
//                          width measured since the gripper was enabled
//                          (Stop);
//   std::invalid_argument  an unknown gripper, an argument outside its
//                          range (NaN included);
//   std::runtime_error     a failed remote call, or parameters that cannot
//                          be read.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "data_types.h"

namespace quiral::vek {

class Robot;

namespace detail {
struct GripperAccess;
}  // namespace detail

class Gripper {
 public:
  // Distance that every value sent by Grasp and Move keeps from the bounds
  // of its range, in the range's own unit.
  static constexpr double kMargin = 0.0001;

  // Builds the gripper's device over `robot` (see Device); none enabled.
  explicit Gripper(const Robot& robot);
  virtual ~Gripper();

  Gripper(const Gripper&) = delete;
  Gripper& operator=(const Gripper&) = delete;

  // Enables the named gripper and reads its ranges. When the ranges cannot
  // be read, the gripper is disabled again and none counts as enabled.
  void Enable(const std::string& name);
  // Disables the enabled gripper and forgets its ranges.
  void Disable();
  // Device command "isInit" = true.
  void Init();
  // Closes with `force` (device command "targetForce").
  void Grasp(double force);
  // Moves to `width` at `velocity`, with at most `force_limit`.
  void Move(double width, double velocity, double force_limit);
  // Holds the latest measured width (kept within the width range) at the
  // lowest velocity; needs a real-time sample received after Enable.
  void Stop();

  // The enabled gripper's name and ranges; empty name and zeros when none.
  GripperParams params() const;
  // The gripper part of the latest real-time state; sends nothing.
  GripperStates states() const;

  class Impl;

 private:
  // The gripper pair reaches the argument checks of Grasp and Move through
  // this internal accessor (vek/gripper_access.h).
  friend struct detail::GripperAccess;
  std::unique_ptr<Impl> impl_;
};

// {"width": ..., "force": ..., "is_moving": ...} on four lines, numbers
// with three decimals; leaves the stream in fixed notation, precision 3.
std::ostream& operator<<(std::ostream& out, const GripperStates& states);

}  // namespace quiral::vek
