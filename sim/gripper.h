// The simulated gripper: fingers that move towards a commanded width at a
// commanded speed and, closing, stop on an object (when one is placed, at
// its width), holding it with the commanded force. Commands to the gripper
// device drive it; the real-time states report width, force and motion.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace quiral::sim {

class SimGripper {
 public:
  float width() const { return width_; }
  float force() const { return force_; }
  bool is_moving() const { return is_moving_; }

  // Moves towards the target for `dt` seconds; closing onto the object
  // stops there, in contact.
  void Step(double dt);
  // One device command, by key: "targetVel" sets the speed, "targetForce"
  // the force held on contact; then "isInit" opens to `open_width`,
  // "targetWidth" moves to a width, and "targetForce" alone grasps: closes
  // until it meets the object (or is fully closed). Other keys change
  // nothing. Free fingers report force 0.
  void Command(const std::map<std::string, double>& values, float open_width);
  // Control channel: {width, force, is_moving, object_width}, each
  // optional; width, force and the flag stay until the next command;
  // object_width null removes the object.
  void Set(const nlohmann::json& fields);
  // {width, force, is_moving, target, speed, force_limit, object_width}.
  nlohmann::json ToJson() const;

 private:
  void MoveTo(float target);

  float width_ = 0.05f;
  float force_ = 0.0f;
  bool is_moving_ = false;
  bool commanded_ = false;  // moving on a device command
  bool contact_ = false;    // closed on the object
  float target_ = 0.05f;
  float speed_ = 0.05f;
  float force_limit_ = 0.0f;
  std::optional<float> object_width_;
};

}  // namespace quiral::sim
