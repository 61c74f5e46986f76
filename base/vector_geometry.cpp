#include "base/vector_geometry.h"

#include <Eigen/Geometry>
#include <cmath>

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

}  // namespace

double _ComputeVectorAngle(const Eigen::Vector3d& a, const Eigen::Vector3d& b) {
  return std::atan2(a.cross(b).norm(), a.dot(b));
}

bool _Is3PtCollinear(const Eigen::Vector3d& p1, const Eigen::Vector3d& p2,
                     const Eigen::Vector3d& p3) {
  return (p2 - p1).cross(p3 - p1).norm() < 1e-9;
}

Eigen::Matrix3d _ComputeRotationMatrix(const Eigen::Vector3d& a, const Eigen::Vector3d& b) {
  const double angle = _ComputeVectorAngle(a, b);
  Eigen::Vector3d axis = a.cross(b);
  if (axis.squaredNorm() > 0) {
    axis.normalize();
  } else if (a.dot(b) < 0) {
    // Opposite directions (the angle is π): any axis perpendicular to a turns
    // it into −a; without one the result would be −I, a point reflection.
    axis = a.unitOrthogonal();
  }
  return Eigen::AngleAxisd(angle, axis).toRotationMatrix();
}

Eigen::Matrix3d _SkewSymmetricMatrix(const Eigen::Vector3d& v) { return skewSymmetric(v); }

Eigen::Matrix3f _SkewSymmetricMatrix(const Eigen::Vector3f& v) { return skewSymmetric(v); }

}  // namespace base
}  // namespace quiral
