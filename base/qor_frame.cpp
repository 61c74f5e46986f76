#include "base/qor_frame.h"

#include <Eigen/QR>
#include <cmath>
#include <sstream>

#include "base/angle_units.h"
#include "base/quaternion_math.h"

namespace quiral {
namespace base {

namespace {

// Euler ZYX angles (a, b, c) of R = Rz(a)·Ry(b)·Rx(c). Unfolded, a and c lie
// in [−π, π] and b in [−π/2, π/2], the one set that is unique away from
// b = ±π/2. Folded, a is moved into [0, π] and b and c change to describe the
// same rotation (Eigen's extraction with axes 2, 1, 0).
Eigen::Vector3d eulerZYX(const Eigen::Matrix3d& r, bool foldYaw) {
  double a = std::atan2(r(1, 0), r(0, 0));
  const double cosB = std::sqrt(r(2, 2) * r(2, 2) + r(2, 1) * r(2, 1));
  double b;
  if (foldYaw && a < 0) {
    a += kPi;
    b = std::atan2(-r(2, 0), -cosB);
  } else {
    b = std::atan2(-r(2, 0), cosB);
  }
  // Roll from the rotation with the yaw taken off, which stays accurate
  // near b = ±π/2.
  const double s = std::sin(a);
  const double c = std::cos(a);
  const double roll = std::atan2(s * r(0, 2) - c * r(1, 2), c * r(1, 1) - s * r(0, 1));
  return Eigen::Vector3d(a, b, roll);
}

// Rotation matrix of the quaternion [w, x, y, z], its numbers used as given.
Eigen::Matrix3d rotationFromQuatVec(const Eigen::Vector4d& q) {
  const double w = q(0), x = q(1), y = q(2), z = q(3);
  Eigen::Matrix3d r;
  r << 1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y),  //
      2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x),   //
      2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y);
  return r;
}

Eigen::Matrix3d rotationFromEulerZYX(double a, double b, double c) {
  const Eigen::Quaterniond q = Eigen::Quaterniond(Eigen::AngleAxisd(a, Eigen::Vector3d::UnitZ())) *
                               Eigen::Quaterniond(Eigen::AngleAxisd(b, Eigen::Vector3d::UnitY())) *
                               Eigen::Quaterniond(Eigen::AngleAxisd(c, Eigen::Vector3d::UnitX()));
  return rotationFromQuatVec(Eigen::Vector4d(q.w(), q.x(), q.y(), q.z()));
}

// θ·u of the rotation m, through its quaternion.
Eigen::Vector3d rotationVector(const Eigen::Matrix3d& m) {
  const Eigen::AngleAxisd angleAxis(Eigen::Quaterniond{m});
  return angleAxis.angle() * angleAxis.axis();
}

}  // namespace

QorFrame::QorFrame()
    : rotation(Eigen::Matrix3d::Identity()),
      translation(Eigen::Vector3d::Zero()),
      userEulerAngle(Eigen::Vector3d::Zero()) {}

QorFrame::QorFrame(const Eigen::Vector3d& t, const Eigen::Matrix3d& r)
    : rotation(r), translation(t), userEulerAngle(getEulerAngleZYX() * kRadToDeg) {}

QorFrame::~QorFrame() = default;

void QorFrame::clear() { *this = QorFrame(); }

void QorFrame::setRotVec(const Eigen::Vector4d& quatVec) {
  rotation = rotationFromQuatVec(quatVec);
  updateUserEulerAngle();
}

void QorFrame::setPoseVec(const Vector7d& poseVec) {
  translation = poseVec.head<3>();
  setRotVec(poseVec.tail<4>());
}

void QorFrame::setEulerAngleZYX(double a, double b, double c) {
  rotation = rotationFromEulerZYX(a, b, c);
  userEulerAngle = Eigen::Vector3d(a, b, c) * kRadToDeg;
}

void QorFrame::setUserEulerAngleZYX(double a, double b, double c) {
  rotation = rotationFromEulerZYX(a * kDegToRad, b * kDegToRad, c * kDegToRad);
  userEulerAngle = Eigen::Vector3d(a, b, c);
}

void QorFrame::setAxisAngleRotation(const Eigen::Vector3d& rotVec) {
  const double angle = rotVec.norm();
  const Eigen::Vector3d axis = rotVec.squaredNorm() > 0 ? Eigen::Vector3d(rotVec / angle) : rotVec;
  rotation = Eigen::AngleAxisd(angle, axis).toRotationMatrix();
}

void QorFrame::orthonormalizeRotationMatrix() {
  const Eigen::HouseholderQR<Eigen::Matrix3d> qr(rotation);
  Eigen::Matrix3d q = qr.householderQ() * Eigen::Matrix3d::Identity();
  for (int j = 0; j < 3; ++j) {
    if (q.col(j).dot(rotation.col(j)) < 0) q.col(j) = -q.col(j);
  }
  rotation = q;
}

Eigen::Quaterniond QorFrame::getQuat() const { return Eigen::Quaterniond(rotation); }

Eigen::Vector4d QorFrame::getQuatVec() const {
  const Eigen::Quaterniond q = getQuat();
  return Eigen::Vector4d(q.w(), q.x(), q.y(), q.z());
}

Vector7d QorFrame::getPoseVec() const {
  Vector7d pose;
  pose << translation, getQuatVec();
  return pose;
}

Eigen::Vector3d QorFrame::getEulerAngleZYX() const { return eulerZYX(rotation, true); }

Eigen::Matrix4d QorFrame::getHomo() const {
  Eigen::Matrix4d homo = Eigen::Matrix4d::Identity();
  homo.topLeftCorner<3, 3>() = rotation;
  homo.topRightCorner<3, 1>() = translation;
  return homo;
}

void QorFrame::updateUserEulerAngle() { userEulerAngle = getEulerAngleZYX() * kRadToDeg; }

Eigen::Vector3d QorFrame::getUserEulerAngleZYX() {
  if (userEulerAngle.norm() < 1e-9) updateUserEulerAngle();
  return userEulerAngle;
}

Eigen::Vector3d QorFrame::operator*(const Eigen::Vector3d& p) const {
  return rotation * p + translation;
}

QorFrame QorFrame::operator*(const QorFrame& o) const {
  QorFrame result;
  result.rotation = rotation * o.rotation;
  result.translation = rotation * o.translation + translation;
  return result;
}

QorFrame QorFrame::inverse() const {
  QorFrame result;
  result.rotation = rotation.transpose();
  result.translation = -(rotation.transpose() * translation);
  return result;
}

Vector6d QorFrame::operator-(const QorFrame& o) const {
  Vector6d difference;
  difference << translation - o.translation,
      o.rotation * rotationVector(o.rotation.transpose() * rotation);
  return difference;
}

Vector6d QorFrame::computeRelativeVelocity(const QorFrame& o, double dt) const {
  const Eigen::Matrix3d inverseRotation = rotation.inverse();
  Vector6d velocity;
  // rotvec(R⁻¹·Ro) is the rotation from this frame to o; its negation runs
  // from o to this frame, like the translation difference.
  velocity << inverseRotation * (translation - o.translation) / dt,
      -rotationVector(inverseRotation * o.rotation) / dt;
  return velocity;
}

double QorFrame::computePosDistance(const QorFrame& o) const {
  return (translation - o.translation).norm();
}

Eigen::Vector3d QorFrame::computeEulerAngleDistance(const QorFrame& o) const {
  Eigen::Vector3d d = eulerZYX(o.rotation, false) - eulerZYX(rotation, false);
  for (int i = 0; i < 3; ++i) {
    if (d(i) > kPi) {
      d(i) -= kTwoPi;
    } else if (d(i) < -kPi) {
      d(i) += kTwoPi;
    }
  }
  return d;
}

bool QorFrame::isEqual(const QorFrame& o, double posTol, double rotTol) const {
  if (!(computePosDistance(o) <= posTol)) return false;
  return _ComputeQuatDistanceVec(getQuatVec(), o.getQuatVec()) <= rotTol;
}

bool QorFrame::operator==(const QorFrame& o) {
  return translation == o.translation && rotation == o.rotation &&
         userEulerAngle == o.userEulerAngle;
}

std::string QorFrame::str() const {
  const Eigen::Vector3d euler = getEulerAngleZYX();
  std::ostringstream out;
  out << "\ntranslation = " << translation << "\nrotation = \n"
      << rotation << "\nEulerAngleFromRot (rad) = \n"
      << euler << "\nUserEulerAngle (deg) = \n"
      << euler * kRadToDeg;
  return out.str();
}

}  // namespace base
}  // namespace quiral
