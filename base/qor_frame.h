// Rigid-body frame: a rotation and a translation, with conversions between
// the pose forms the system exchanges and a cache of the Euler angles (in
// degrees) a user last entered.
//
// Conventions:
// - pose vector: [x, y, z, qw, qx, qy, qz];
// - quaternion vector: [qw, qx, qy, qz] (Eigen's quaternion stores
//   (x, y, z, w));
// - Euler ZYX angles (a, b, c): the rotation Rz(a)·Ry(b)·Rx(c), in radians
//   except in the user-angle operations, which use degrees.
//
// The rotation is stored as given: nothing normalises a quaternion or keeps
// the matrix orthonormal except orthonormalizeRotationMatrix().
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <string>

namespace quiral {
namespace base {

using Vector6d = Eigen::Matrix<double, 6, 1>;
using Vector7d = Eigen::Matrix<double, 7, 1>;

class QorFrame {
 public:
  // Identity rotation, zero translation, empty cache.
  QorFrame();
  // Stores both; the cache holds the rotation's Euler ZYX angles in degrees.
  QorFrame(const Eigen::Vector3d& translation, const Eigen::Matrix3d& rotation);
  QorFrame(const QorFrame& other) = default;
  QorFrame& operator=(const QorFrame& other) = default;
  virtual ~QorFrame();

  // Back to the default state.
  void clear();

  // Rotation from a quaternion vector [qw, qx, qy, qz], used unnormalised (a
  // non-unit quaternion gives a scaled matrix, the zero one the identity).
  // Cache: the new rotation's Euler angles in degrees.
  void setRotVec(const Eigen::Vector4d& quatVec);
  // Translation from elements 0..2, rotation as setRotVec of elements 3..6.
  void setPoseVec(const Vector7d& poseVec);
  // Rotation from Euler ZYX angles in radians. Cache: the given angles in
  // degrees, as given (not brought into any range).
  void setEulerAngleZYX(double a, double b, double c);
  // Rotation from Euler ZYX angles in degrees. Cache: the given angles.
  void setUserEulerAngleZYX(double a, double b, double c);
  // Rotation from a rotation vector (axis × angle, radians); the zero vector
  // gives the identity. The cache is left as it was.
  void setAxisAngleRotation(const Eigen::Vector3d& rotVec);
  // Replaces the rotation by the nearest orthonormal matrix column by column
  // (Householder QR, columns signed like the original's). The cache is left
  // as it was.
  void orthonormalizeRotationMatrix();

  // Quaternion of the rotation (trace method; no normalisation, no sign rule).
  Eigen::Quaterniond getQuat() const;
  // The same quaternion as [qw, qx, qy, qz].
  Eigen::Vector4d getQuatVec() const;
  // [translation; getQuatVec()].
  Vector7d getPoseVec() const;
  // Euler ZYX angles of the rotation in radians: the first in [0, π], the
  // others in [−π, π]. A yaw of −10° therefore comes out as (170°, 180°, 180°).
  Eigen::Vector3d getEulerAngleZYX() const;
  // [R t; 0 0 0 1].
  Eigen::Matrix4d getHomo() const;

  // Cache = getEulerAngleZYX() in degrees.
  void updateUserEulerAngle();
  // The cached angles in degrees [z, y, x]; an empty cache (norm below 1e-9)
  // is filled from the rotation first.
  Eigen::Vector3d getUserEulerAngleZYX();

  // R·p + t.
  Eigen::Vector3d operator*(const Eigen::Vector3d& p) const;
  // This frame composed with o: (R·Ro, R·to + t), cache empty.
  QorFrame operator*(const QorFrame& o) const;
  // (Rᵀ, −Rᵀ·t), cache empty. The transpose is the inverse only for a proper
  // rotation matrix.
  QorFrame inverse() const;
  // [t − to; Ro·rotvec(Roᵀ·R)]: the translation difference and the rotation
  // from o to this frame as a rotation vector in world axes.
  Vector6d operator-(const QorFrame& o) const;
  // The motion from o to this frame over dt, in this frame's axes:
  // [R⁻¹·(t − to); rotvec(Ro⁻¹·R)] / dt, with the true inverse of the
  // matrices (a singular rotation gives non-finite values).
  Vector6d computeRelativeVelocity(const QorFrame& o, double dt) const;
  // |t − to|.
  double computePosDistance(const QorFrame& o) const;
  // Euler ZYX angles of o minus those of this frame, each in [−π, π]. Both
  // sets are taken with the pitch in [−π/2, π/2] and yaw and roll in [−π, π],
  // the one set that is unique away from pitch ±π/2, so that nearby
  // rotations are at a small distance. The cache plays no part.
  Eigen::Vector3d computeEulerAngleDistance(const QorFrame& o) const;
  // True when |t − to| ≤ posTol and _ComputeQuatDistanceVec of the two
  // quaternion vectors ≤ rotTol; a NaN distance fails.
  bool isEqual(const QorFrame& o, double posTol, double rotTol) const;
  // True when translation, rotation and cache are all exactly equal.
  bool operator==(const QorFrame& o);
  // Text form: translation, rotation, Euler angles in radians and, under
  // "UserEulerAngle (deg)", the same angles in degrees (not the cache).
  std::string str() const;

  Eigen::Matrix3d rotation;
  Eigen::Vector3d translation;
  // Euler ZYX angles [z, y, x] in degrees as last entered; a norm below 1e-9
  // means "not set".
  Eigen::Vector3d userEulerAngle;
};

}  // namespace base
}  // namespace quiral
