#include "base/quaternion_interpolation.h"

#include <cmath>

#include "base/quaternion_math.h"

namespace quiral {
namespace base {

namespace {

// A quaternion-valued quantity with its derivative along the curve parameter.
struct Tangent {
  Eigen::Quaterniond value;
  Eigen::Quaterniond rate;
};

// A scalar with its derivative along the curve parameter.
struct ScalarRate {
  double value;
  double rate;
};

double dot(const Eigen::Quaterniond& p, const Eigen::Quaterniond& q) {
  return p.coeffs().dot(q.coeffs());
}

// _SlerpQuaternion of (p, q, s) together with its derivative when p, q and s
// move along a curve with the given rates. Both the value and the derivative
// follow the same branch, so the derivative is that of the value actually
// returned.
Tangent slerpWithRate(const Tangent& p, Tangent q, const ScalarRate& s, bool shortestPath) {
  double d = dot(p.value, q.value);
  double dRate = dot(p.rate, q.value) + dot(p.value, q.rate);
  if (d > 0.999999999 || d < -0.999999999) return p;

  if ((shortestPath && d < 0) || std::abs(d + 1) < 1e-6) {
    d = -d;
    dRate = -dRate;
    q = {-q.value, -q.rate};
  }
  if (std::abs(d - 1) < 1e-6) {
    return {p.value * (1 - s.value) + q.value * s.value,
            p.rate * (1 - s.value) - p.value * s.rate + q.rate * s.value + q.value * s.rate};
  }

  const double theta = std::acos(d);
  const double thetaRate = -dRate / std::sqrt(1 - d * d);
  const double sinTheta = std::sin(theta);
  const double sinThetaRate = std::cos(theta) * thetaRate;
  const double wp = std::sin((1 - s.value) * theta);
  const double wpRate =
      std::cos((1 - s.value) * theta) * ((1 - s.value) * thetaRate - s.rate * theta);
  const double wq = std::sin(s.value * theta);
  const double wqRate = std::cos(s.value * theta) * (s.rate * theta + s.value * thetaRate);

  const Eigen::Quaterniond r = (p.value * wp + q.value * wq) / sinTheta;
  const Eigen::Quaterniond rRate =
      (p.rate * wp + p.value * wpRate + q.rate * wq + q.value * wqRate) / sinTheta -
      r * (sinThetaRate / sinTheta);
  if (!(r.coeffs().squaredNorm() > 0)) return {r, rRate};
  const double norm = r.norm();
  const Eigen::Quaterniond unit = r / norm;
  // d(r/|r|) = (r' − u (u · r')) / |r|.
  return {unit, (rRate - unit * dot(unit, rRate)) / norm};
}

Tangent fixedPoint(const Eigen::Quaterniond& q) { return {q, Eigen::Quaterniond(0, 0, 0, 0)}; }

Tangent squadWithRate(const Eigen::Quaterniond& q1, const Eigen::Quaterniond& q2,
                      const Eigen::Quaterniond& q3, const Eigen::Quaterniond& q4, double t) {
  const ScalarRate along{t, 1};
  const Tangent a = slerpWithRate(fixedPoint(q1), fixedPoint(q2), along, false);
  const Tangent b = slerpWithRate(fixedPoint(q3), fixedPoint(q4), along, false);
  return slerpWithRate(a, b, {2 * t * (1 - t), 2 - 4 * t}, false);
}

}  // namespace

Eigen::Quaterniond _InterpolateQuaternion(const Eigen::Quaterniond& q1,
                                          const Eigen::Quaterniond& q2, const double& t) {
  return q1.slerp(t, q2);
}

Eigen::Quaterniond _SlerpQuaternion(const Eigen::Quaterniond& q1, const Eigen::Quaterniond& q2,
                                    double t, bool shortestPath) {
  return slerpWithRate(fixedPoint(q1), fixedPoint(q2), {t, 0}, shortestPath).value;
}

Eigen::Quaterniond _SquadQuaternion(const Eigen::Quaterniond& q1, const Eigen::Quaterniond& q2,
                                    const Eigen::Quaterniond& q3, const Eigen::Quaterniond& q4,
                                    const double& t) {
  return squadWithRate(q1, q2, q3, q4, t).value;
}

Eigen::Quaterniond _SquadFirstDerivative(const Eigen::Quaterniond& q1, const Eigen::Quaterniond& q2,
                                         const Eigen::Quaterniond& q3, const Eigen::Quaterniond& q4,
                                         const double& t) {
  return squadWithRate(q1, q2, q3, q4, t).rate;
}

}  // namespace base
}  // namespace quiral
