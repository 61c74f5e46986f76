#include "sim/gripper.h"

#include <cmath>

namespace quiral::sim {

void SimGripper::Step(double dt) {
  if (!commanded_) return;
  const float step = speed_ * static_cast<float>(dt);
  const float diff = target_ - width_;
  const float next = std::abs(diff) <= step ? target_ : width_ + std::copysign(step, diff);
  if (object_width_ && diff < 0 && width_ >= *object_width_ && next <= *object_width_) {
    width_ = *object_width_;
    contact_ = true;
    force_ = force_limit_;
    is_moving_ = commanded_ = false;
    return;
  }
  width_ = next;
  if (width_ == target_) is_moving_ = commanded_ = false;
}

void SimGripper::MoveTo(float target) {
  target_ = target;
  if (contact_ && target_ <= width_) {
    // Still pressing on the object: the fingers stay, with the new force.
    force_ = force_limit_;
    is_moving_ = commanded_ = false;
    return;
  }
  contact_ = false;
  force_ = 0.0f;
  is_moving_ = commanded_ = width_ != target_;
}

void SimGripper::Command(const std::map<std::string, double>& values, float open_width) {
  const auto value = [&values](const char* key) { return values.find(key); };
  if (const auto vel = value("targetVel"); vel != values.end() && vel->second > 0) {
    speed_ = static_cast<float>(vel->second);
  }
  const auto force = value("targetForce");
  if (force != values.end()) force_limit_ = static_cast<float>(force->second);
  if (value("isInit") != values.end()) {
    MoveTo(open_width);
  } else if (const auto width = value("targetWidth"); width != values.end()) {
    MoveTo(static_cast<float>(width->second));
  } else if (force != values.end()) {
    MoveTo(0.0f);  // grasp: close until the object is held
  }
}

void SimGripper::Set(const nlohmann::json& fields) {
  if (fields.contains("width") || fields.contains("force") || fields.contains("is_moving")) {
    commanded_ = false;  // the values set stay until the next command
  }
  if (fields.contains("width")) {
    target_ = width_ = fields["width"].get<float>();
    contact_ = false;
  }
  if (fields.contains("force")) force_ = fields["force"].get<float>();
  if (fields.contains("is_moving")) is_moving_ = fields["is_moving"].get<bool>();
  if (fields.contains("object_width")) {
    const auto& object = fields["object_width"];
    if (object.is_null()) {
      object_width_.reset();
      contact_ = false;
    } else {
      object_width_ = object.get<float>();
    }
  }
}

nlohmann::json SimGripper::ToJson() const {
  return {{"width", width_},
          {"force", force_},
          {"is_moving", is_moving_},
          {"target", target_},
          {"speed", speed_},
          {"force_limit", force_limit_},
          {"object_width", object_width_ ? nlohmann::json(*object_width_) : nlohmann::json()}};
}

}  // namespace quiral::sim
