// Geometry of 3-vectors: angles between directions, collinearity, the
// rotation turning one direction into another and the cross-product matrix.
#pragma once

#include <Eigen/Core>

namespace quiral {
namespace base {

// Angle between a and b in [0, π]: atan2(|a × b|, a · b). Zero when either
// vector is zero.
double _ComputeVectorAngle(const Eigen::Vector3d& a, const Eigen::Vector3d& b);

// True when |(p2 − p1) × (p3 − p1)| < 1e-9 (absolute, not scaled by lengths).
bool _Is3PtCollinear(const Eigen::Vector3d& p1, const Eigen::Vector3d& p2,
                     const Eigen::Vector3d& p3);

// The rotation by the angle between a and b about a × b, turning the
// direction of a into that of b, for vectors of any length from subnormal to
// 1e300 and however close to opposite. Equal directions (or a zero vector)
// give the identity; opposite directions give a half turn about an axis
// perpendicular to a. A NaN or infinite component gives NaN entries.
Eigen::Matrix3d _ComputeRotationMatrix(const Eigen::Vector3d& a, const Eigen::Vector3d& b);

// The matrix [v]× with [v]× · u = v × u.
Eigen::Matrix3d _SkewSymmetricMatrix(const Eigen::Vector3d& v);
Eigen::Matrix3f _SkewSymmetricMatrix(const Eigen::Vector3f& v);

}  // namespace base
}  // namespace quiral
