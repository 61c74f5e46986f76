#include "sim/held_object.h"

#include <cmath>
#include <stdexcept>

namespace quiral::sim {

using nlohmann::json;

namespace {

double Number(const json& fields, const char* key) {
  const double value = fields.at(key).get<double>();
  if (!std::isfinite(value) || value < 0) {
    throw std::invalid_argument(std::string("held_object: ") + key +
                                " must be a finite number of at least 0");
  }
  return value;
}

}  // namespace

Eigen::Vector3d HeldObject::Force(const Eigen::Vector3d& tcp) const {
  if (!partner_tcp) return Eigen::Vector3d::Zero();
  const Eigen::Vector3d d = partner_base + *partner_tcp - tcp;
  const double length = d.norm();
  if (!(length > 0)) return Eigen::Vector3d::Zero();
  return stiffness * (length - rest_length) * d / length;
}

HeldObject HeldObjectFromJson(const json& fields, const std::string& own_serial) {
  if (!fields.is_object()) throw std::invalid_argument("held_object must be an object or null");
  HeldObject object;
  object.partner = fields.at("partner").get<std::string>();
  if (object.partner == own_serial) {
    throw std::invalid_argument("held_object: the partner must be another controller");
  }
  const auto base = fields.at("partner_base").get<std::vector<double>>();
  if (base.size() != 3 || !std::isfinite(base[0] + base[1] + base[2])) {
    throw std::invalid_argument("held_object: partner_base must be 3 finite numbers");
  }
  object.partner_base = Eigen::Vector3d(base[0], base[1], base[2]);
  object.stiffness = Number(fields, "stiffness");
  object.rest_length = Number(fields, "rest_length");
  return object;
}

json HeldObjectReport(const HeldObject& object, const Eigen::Vector3d& tcp) {
  const auto vector = [](const Eigen::Vector3d& v) { return json::array({v.x(), v.y(), v.z()}); };
  return {{"partner", object.partner},
          {"partner_base", vector(object.partner_base)},
          {"stiffness", object.stiffness},
          {"rest_length", object.rest_length},
          {"partner_tcp", object.partner_tcp ? vector(*object.partner_tcp) : json()},
          {"force", vector(object.Force(tcp))}};
}

}  // namespace quiral::sim
