#include "base/quaternion_math.h"

#include <algorithm>
#include <cmath>

namespace quiral {
namespace base {

double _ComputeQuatDistanceVec(const Eigen::Vector4d& p, const Eigen::Vector4d& q) {
  return 2 * std::min((p + q).norm(), (p - q).norm());
}

double _ComputeQuatDistance(const Eigen::Quaterniond& p, const Eigen::Quaterniond& q) {
  return _ComputeQuatDistanceVec(Eigen::Vector4d(p.w(), p.x(), p.y(), p.z()),
                                 Eigen::Vector4d(q.w(), q.x(), q.y(), q.z()));
}

bool _IsUnitQuaternion(const Eigen::Quaterniond& q) { return std::abs(q.norm() - 1) < 1e-9; }

Eigen::Quaterniond _PureQuaternion(const Eigen::Vector3d& v) {
  return Eigen::Quaterniond(0, v.x(), v.y(), v.z());
}

Eigen::Quaterniond operator+(const Eigen::Quaterniond& p, const Eigen::Quaterniond& q) {
  return Eigen::Quaterniond(Eigen::Vector4d(p.coeffs() + q.coeffs()));
}

Eigen::Quaterniond operator-(const Eigen::Quaterniond& p, const Eigen::Quaterniond& q) {
  return Eigen::Quaterniond(Eigen::Vector4d(p.coeffs() - q.coeffs()));
}

Eigen::Quaterniond operator-(const Eigen::Quaterniond& q) {
  return Eigen::Quaterniond(Eigen::Vector4d(-q.coeffs()));
}

Eigen::Quaterniond operator/(const Eigen::Quaterniond& q, double s) {
  return Eigen::Quaterniond(Eigen::Vector4d(q.coeffs() / s));
}

Eigen::Quaterniond operator*(const Eigen::Quaterniond& q, double s) {
  return Eigen::Quaterniond(Eigen::Vector4d(q.coeffs() * s));
}

Eigen::Quaterniond _QuaternionLogarithm(const Eigen::Quaterniond& q) {
  const double theta = std::acos(q.w());
  const double s = std::sin(theta);
  // A NaN s (|w| > 1) fails this test too.
  if (s > 1e-9) return _PureQuaternion(q.vec() * (theta / s));
  return Eigen::Quaterniond(0, 0, 0, 0);
}

Eigen::Quaterniond _QuaternionExponential(const Eigen::Quaterniond& q) {
  const double n = q.vec().norm();
  if (n > 1e-9) {
    Eigen::Quaterniond result = _PureQuaternion(q.vec() * (std::sin(n) / n));
    result.w() = std::cos(n);
    return result;
  }
  return Eigen::Quaterniond(std::cos(n), 0, 0, 0);
}

Eigen::Quaterniond _QuaternionPow(const Eigen::Quaterniond& q, double p) {
  return _QuaternionExponential(_QuaternionLogarithm(q) * p);
}

}  // namespace base
}  // namespace quiral
