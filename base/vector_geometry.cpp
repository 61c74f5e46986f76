#include "base/vector_geometry.h"

#include <Eigen/Geometry>
#include <cmath>
#include <limits>

#include "base/angle_units.h"

namespace quiral {
namespace base {

namespace {

template <typename Scalar>
Eigen::Matrix<Scalar, 3, 3> skewSymmetric(const Eigen::Matrix<Scalar, 3, 1>& v) {
  Eigen::Matrix<Scalar, 3, 3> m;
  m << Scalar(0), -v.z(), v.y(),  //
      v.z(), Scalar(0), -v.x(),   //
      -v.y(), v.x(), Scalar(0);
  return m;
}

// v = norm · unit, computed at the scale of v's largest component, so that vectors of 1e300 or
// of subnormal size keep their direction. The zero vector gives a zero unit.
struct Direction {
  double norm = 0;
  Eigen::Vector3d unit = Eigen::Vector3d::Zero();
};

Direction directionOf(const Eigen::Vector3d& v) {
  Direction d;
  const double largest = v.cwiseAbs().maxCoeff();
  if (largest == 0) return d;
  d.unit = v / largest;
  const double scaledNorm = d.unit.norm();
  d.unit /= scaledNorm;
  d.norm = largest * scaledNorm;
  return d;
}

}  // namespace

double _ComputeVectorAngle(const Eigen::Vector3d& a, const Eigen::Vector3d& b) {
  return std::atan2(a.cross(b).norm(), a.dot(b));
}

bool _Is3PtCollinear(const Eigen::Vector3d& p1, const Eigen::Vector3d& p2,
                     const Eigen::Vector3d& p3) {
  return (p2 - p1).cross(p3 - p1).norm() < 1e-9;
}

// The rotation taking the unit vector u to the unit vector v, about n = (u × v)/|u × v| by the
// angle θ between them, is Rodrigues' formula
//   R = I + sin θ [n]× + (1 − cos θ) [n]×²,   c = cos θ = u · v.
// u and v are taken at a scale where the products neither overflow nor underflow.
// - c ≥ 0: with w = u × v = sin θ · n and (1 − c)/sin² θ = 1/(1 + c),
//     R = I + [w]× + [w]×² / (1 + c),
//   which needs no normalised axis, so it stays exact as θ goes to 0.
// - c < 0: the axis from u × v loses accuracy as θ nears π, where u × v is small and mostly
//   rounding. Instead take the part of v perpendicular to u (orthogonalised twice),
//     p = v − c u = sin θ · m,   m ⟂ u,   n = u × m,
//     R = I + |p| [n]× + (1 − c) [n]×²,
//   so that R u = c u + |p| m = v to rounding however close θ is to π. Two passes are enough
//   unless the second leaves little of the first (|p₂| ≤ |p₁|/2): then p is rounding along u,
//   v is −u up to rounding, as when the directions are exactly opposite, and R is a half turn
//   about an axis perpendicular to u.
Eigen::Matrix3d _ComputeRotationMatrix(const Eigen::Vector3d& a, const Eigen::Vector3d& b) {
  // A NaN or infinite component has no direction to turn: say so with NaN rather than let the
  // scaling below pass it over (a NaN is never a largest component) and give a finite turn.
  if (!a.allFinite() || !b.allFinite()) {
    return Eigen::Matrix3d::Constant(std::numeric_limits<double>::quiet_NaN());
  }
  const Direction from = directionOf(a), to = directionOf(b);
  // A zero vector has no direction: the angle atan2(0, 0) is 0, the identity.
  if (from.norm == 0 || to.norm == 0) return Eigen::Matrix3d::Identity();
  const Eigen::Vector3d &u = from.unit, &v = to.unit;
  const double c = u.dot(v);
  if (c >= 0) {
    const Eigen::Matrix3d w = skewSymmetric(Eigen::Vector3d(u.cross(v)));
    return Eigen::Matrix3d::Identity() + w + w * w / (1 + c);
  }
  const Eigen::Vector3d firstPass = v - c * u;
  const Direction perpendicular = directionOf(firstPass - u.dot(firstPass) * u);
  if (u == -v || !(perpendicular.norm > 0.5 * directionOf(firstPass).norm)) {
    // Opposite directions (the angle is π): any axis perpendicular to u turns it into −u;
    // without one the result would be −I, a point reflection.
    return Eigen::AngleAxisd(kPi, u.unitOrthogonal()).toRotationMatrix();
  }
  const Eigen::Matrix3d n = skewSymmetric(Eigen::Vector3d(u.cross(perpendicular.unit)));
  return Eigen::Matrix3d::Identity() + perpendicular.norm * n + (1 - c) * n * n;
}

Eigen::Matrix3d _SkewSymmetricMatrix(const Eigen::Vector3d& v) { return skewSymmetric(v); }

Eigen::Matrix3f _SkewSymmetricMatrix(const Eigen::Vector3f& v) { return skewSymmetric(v); }

}  // namespace base
}  // namespace quiral
