// quiral::bivek::BimanualPrimitives: motions that need both arms of a
// RobotPair at once.
//
// MoveTensioned is for two arms holding one object between them. It first
// pulls the two tool centre points (TCPs) apart, or pushes them together, in
// steps of 3e-5 per 20 ms cycle until the force that the first arm measures
// along the line from its TCP to the second arm's matches the requested
// tension within 0.5. Then it sends the reference arm once to the target and,
// every 20 ms, sends the other arm (the follower) to where it keeps the pose
// relative to the reference arm that it had when the tension was reached,
// until the reference arm is within 0.005 and one degree of the target.
// Both arms are switched to NRT_CARTESIAN_MOTION_FORCE first unless both are
// in it already.
//
// The call blocks until the motion is complete, with no time-out: it ends
// only when both phases have ended or an error is thrown. Every argument is
// checked before anything is sent to either arm.
//
// Poses are [x, y, z, qw, qx, qy, qz]; the target is in the pair's world
// frame. The primitives object keeps a pointer to its pair, which must
// outlive it.
#pragma once

#include <array>
#include <memory>

#include "reference_arm.h"
#include "robot_pair.h"

namespace quiral::bivek {

class BimanualPrimitives {
 public:
  // Keeps a pointer to `robot_pair`; sends nothing.
  explicit BimanualPrimitives(const RobotPair& robot_pair);
  virtual ~BimanualPrimitives();

  BimanualPrimitives(const BimanualPrimitives&) = delete;
  BimanualPrimitives& operator=(const BimanualPrimitives&) = delete;

  // ref_arm: LEFT (the first arm) or RIGHT (the second) moves to `target`;
  // tension_force: along the line between the TCPs, in the unit of the
  // measured external wrench (positive pulls the TCPs apart); the four
  // limits bound the reference arm, linear_vel and angular_vel also the
  // follower. Refused with std::invalid_argument before anything is sent:
  // an unset ref_arm ("[quiral::bivek::MoveTensioned] Input parameter
  // [ref_arm] is not set"), a non-finite tension_force, and whatever the
  // reference arm's SendCartesianMotionForce refuses for its command (a
  // target with a non-finite number or a zero quaternion, a limit not
  // greater than 0), with that operation's own text. Errors of the arms
  // while moving leave unchanged; a measured force that is not finite ends
  // the call with std::runtime_error, and TCPs that coincide (no line to
  // tension along) with std::logic_error before either arm moves, unless
  // |tension_force| < 0.5.
  void MoveTensioned(ReferenceArm ref_arm, const std::array<double, 7>& target,
                     double tension_force, double linear_vel, double angular_vel, double linear_acc,
                     double angular_acc);

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace quiral::bivek
