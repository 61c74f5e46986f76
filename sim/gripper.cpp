#include "sim/gripper.h"

#include <cmath>

namespace quiral::sim {

namespace {

constexpr float kOpenWidth = 0.1f;

}  // namespace

void SimGripper::Step(double dt) {
  if (!commanded_) return;
  const float step = speed_ * static_cast<float>(dt);
  const float diff = target_ - width_;
  if (std::abs(diff) <= step) {
    width_ = target_;
    is_moving_ = commanded_ = false;
  } else {
    width_ += std::copysign(step, diff);
  }
}

void SimGripper::MoveTo(float target) {
  target_ = target;
  is_moving_ = commanded_ = width_ != target_;
}

void SimGripper::Command(const std::map<std::string, double>& values) {
  const auto value = [&values](const char* key) { return values.find(key); };
  if (value("isInit") != values.end()) MoveTo(kOpenWidth);
  if (const auto vel = value("targetVel"); vel != values.end() && vel->second > 0) {
    speed_ = static_cast<float>(vel->second);
  }
  const auto force = value("targetForce");
  if (const auto width = value("targetWidth"); width != values.end()) {
    MoveTo(static_cast<float>(width->second));
  } else if (force != values.end()) {
    MoveTo(0.0f);  // grasp: close until the object is held
  }
  if (force != values.end()) force_ = static_cast<float>(force->second);
}

void SimGripper::Set(const nlohmann::json& fields) {
  commanded_ = false;
  if (fields.contains("width")) target_ = width_ = fields["width"].get<float>();
  if (fields.contains("force")) force_ = fields["force"].get<float>();
  if (fields.contains("is_moving")) is_moving_ = fields["is_moving"].get<bool>();
}

nlohmann::json SimGripper::ToJson() const {
  return {{"width", width_}, {"force", force_}, {"is_moving", is_moving_}};
}

}  // namespace quiral::sim
