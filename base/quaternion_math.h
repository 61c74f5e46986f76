// Quaternion measures and arithmetic on Eigen quaternions.
//
// Eigen stores a quaternion's coefficients as (x, y, z, w); a quaternion
// 4-vector in this library is [w, x, y, z]. No function here normalises its
// inputs. The operators act on all four coefficients alike, as on 4-vectors,
// and are found inside quiral::base (or through a using-declaration).
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>

namespace quiral {
namespace base {

// 2·min(|p + q|, |p − q|) of two [w, x, y, z] vectors; q and −q are the same
// rotation. For unit quaternions the result lies in [0, 2√2].
double _ComputeQuatDistanceVec(const Eigen::Vector4d& p, const Eigen::Vector4d& q);
double _ComputeQuatDistance(const Eigen::Quaterniond& p, const Eigen::Quaterniond& q);

// True when | |q| − 1 | < 1e-9.
bool _IsUnitQuaternion(const Eigen::Quaterniond& q);

// The quaternion (x, y, z, w) = (v, 0).
Eigen::Quaterniond _PureQuaternion(const Eigen::Vector3d& v);

Eigen::Quaterniond operator+(const Eigen::Quaterniond& p, const Eigen::Quaterniond& q);
Eigen::Quaterniond operator-(const Eigen::Quaterniond& p, const Eigen::Quaterniond& q);
// All four coefficients negated (the same rotation; not the conjugate).
Eigen::Quaterniond operator-(const Eigen::Quaterniond& q);
Eigen::Quaterniond operator/(const Eigen::Quaterniond& q, double s);
Eigen::Quaterniond operator*(const Eigen::Quaterniond& q, double s);

// Logarithm of a unit quaternion: with θ = acos(w), the pure quaternion
// (x, y, z)·θ/sin θ. All zero when sin θ ≤ 1e-9, and also when |w| > 1
// (θ is then undefined).
Eigen::Quaterniond _QuaternionLogarithm(const Eigen::Quaterniond& q);

// Exponential of the vector part only (w plays no part): with n = |(x, y, z)|,
// ((x, y, z)·sin n/n, cos n); (0, 0, 0, cos n) when n ≤ 1e-9.
Eigen::Quaterniond _QuaternionExponential(const Eigen::Quaterniond& q);

// exp(p · log q).
Eigen::Quaterniond _QuaternionPow(const Eigen::Quaterniond& q, double p);

}  // namespace base
}  // namespace quiral
