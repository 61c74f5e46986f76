// The simulated gripper: a width that moves towards its target at a set
// speed, and the force it was last told to hold. Commands to the gripper
// device drive it; the real-time states report it.
#pragma once

#include <map>
#include <string>

#include <nlohmann/json.hpp>

namespace quiral::sim {

class SimGripper {
 public:
  float width() const { return width_; }
  float force() const { return force_; }
  bool is_moving() const { return is_moving_; }

  // Moves towards the target for `dt` seconds.
  void Step(double dt);
  // One device command, by key: "isInit" opens fully, "targetWidth" moves
  // to a width, "targetForce" closes on the object and holds that force,
  // "targetVel" (when positive) sets the speed. Other keys change nothing.
  void Command(const std::map<std::string, double>& values);
  // Control channel: {width, force, is_moving}, each optional; the values
  // stay until the next command.
  void Set(const nlohmann::json& fields);
  nlohmann::json ToJson() const;

 private:
  void MoveTo(float target);

  float width_ = 0.05f;
  float force_ = 0.0f;
  bool is_moving_ = false;
  bool commanded_ = false;  // moving on a device command
  float target_ = 0.05f;
  float speed_ = 0.05f;
};

}  // namespace quiral::sim
