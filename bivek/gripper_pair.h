// quiral::bivek::GripperPair: the grippers of both arms of a RobotPair,
// driven as one object.
//
// One quiral::vek::Gripper per arm, built on the pair's two robots. Every
// argument and result that differs by arm is a std::pair, `first` for the
// first arm. Enable, Disable and the queries visit the arms one after the
// other on the calling thread (the second arm is not called once the first
// has failed); Init, Grasp, Move and Stop run the arms at once, one task
// each, and end only when every task has ended.
//
// The pair remembers which arms it enabled: Enable sets an arm's flag when
// that arm's gripper was enabled, Disable clears it. The commands leave out
// an arm whose flag is clear, without an error, and do not look at its
// values. Grasp and Move check the values of every arm that takes part, as
// its gripper would, before either gripper is commanded: a value one arm
// refuses leaves as that arm's error, and neither gripper receives anything.
//
// Errors. An arm's error leaves as a new exception of the first class of the
// operation's re-tag list that it derives from, with the text
// "[quiral::bivek::GripperPair::<operation>](first)" (or "(second)") followed
// by the arm's text after its first "]":
//   constructor      std::runtime_error, tag "[quiral::bivek::GripperPair](first)"
//   Enable, Grasp, Move   std::invalid_argument, std::logic_error, std::runtime_error
//   Disable, Init, Stop   std::logic_error, std::runtime_error
// Other errors leave unchanged. When both arms of a command fail, only the
// first arm's error leaves.
//
// No lock: calls on one object must not overlap when one of them is Enable
// or Disable.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "robot_pair.h"
#include "../vek/data_types.h"

namespace quiral::bivek {

class GripperPair {
 public:
  // Builds the first arm's gripper, then the second's (each fetches its
  // controller's device list). Nothing is enabled.
  explicit GripperPair(const RobotPair& robot_pair);
  // Sends nothing: grippers enabled on the controllers stay enabled there.
  virtual ~GripperPair();

  GripperPair(const GripperPair&) = delete;
  GripperPair& operator=(const GripperPair&) = delete;

  // Enables the named gripper on each arm whose name is not empty.
  void Enable(const std::pair<std::string, std::string>& names);
  // Disables the gripper of each selected arm, whatever its flag says.
  void Disable(std::pair<bool, bool> arms);
  // The commands, on the enabled arms only.
  void Init();
  void Grasp(std::pair<double, double> forces);
  void Move(std::pair<double, double> widths, std::pair<double, double> velocities,
            std::pair<double, double> force_limits);
  // Stops the grippers of the arms that are both selected and enabled.
  void Stop(std::pair<bool, bool> arms);
  // Both arms.
  void Stop();

  // Both arms, whatever the flags; nothing is sent.
  std::pair<vek::GripperParams, vek::GripperParams> params() const;
  std::pair<vek::GripperStates, vek::GripperStates> states() const;

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace quiral::bivek
