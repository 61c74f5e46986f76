// Spatial vector algebra used by the multibody computations (internal).
//
// Spatial vectors are 6-vectors with the angular part first. Motion vectors
// (velocities, accelerations, joint axes) are (w, v) with v the velocity of
// the body-fixed point passing through the origin of the expressing frame;
// force vectors are (n, f) with n the moment about that origin. Every
// quantity of MultiBody is expressed in the world (base) frame.
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>

namespace quiral::vek::multibody::detail {

using Vector6d = Eigen::Matrix<double, 6, 1>;

inline Eigen::Matrix3d Skew(const Eigen::Vector3d& v) {
  Eigen::Matrix3d m;
  m << 0.0, -v.z(), v.y(), v.z(), 0.0, -v.x(), -v.y(), v.x(), 0.0;
  return m;
}

// m x v: the rate of change of the motion vector m carried by a body moving
// with velocity v.
inline Vector6d CrossMotion(const Vector6d& v, const Vector6d& m) {
  Vector6d r;
  r.head<3>() = v.head<3>().cross(m.head<3>());
  r.tail<3>() = v.head<3>().cross(m.tail<3>()) + v.tail<3>().cross(m.head<3>());
  return r;
}

// v x* f: the rate of change of the force vector f carried by a body moving
// with velocity v.
inline Vector6d CrossForce(const Vector6d& v, const Vector6d& f) {
  Vector6d r;
  r.head<3>() = v.head<3>().cross(f.head<3>()) + v.tail<3>().cross(f.tail<3>());
  r.tail<3>() = v.head<3>().cross(f.tail<3>());
  return r;
}

// Rigid-body inertia about the origin of its frame: mass, first moment of
// mass h = mass * centre of mass, and rotational inertia about the origin.
struct RigidInertia {
  double mass = 0.0;
  Eigen::Vector3d h = Eigen::Vector3d::Zero();
  Eigen::Matrix3d rotational = Eigen::Matrix3d::Zero();

  // The same body seen from a frame in which its own frame has rotation R
  // and origin p.
  RigidInertia Transformed(const Eigen::Matrix3d& R, const Eigen::Vector3d& p) const {
    // Parallel-axis shift by p of the rotated inertia, -m [p]x[p]x - [p]x[Rh]x - [Rh]x[p]x,
    // written with [a]x[b]x = b a^T - (a . b) E.
    const Eigen::Vector3d rh = R * h;
    Eigen::Matrix3d shifted = R * rotational * R.transpose() - rh * p.transpose() -
                              p * rh.transpose() - mass * p * p.transpose();
    shifted.diagonal().array() += mass * p.squaredNorm() + 2.0 * p.dot(rh);
    return {mass, rh + mass * p, shifted};
  }

  RigidInertia& operator+=(const RigidInertia& other) {
    mass += other.mass;
    h += other.h;
    rotational += other.rotational;
    return *this;
  }

  // The momentum of the body moving with velocity v.
  Vector6d operator*(const Vector6d& v) const {
    Vector6d r;
    r.head<3>() = rotational * v.head<3>() + h.cross(v.tail<3>());
    r.tail<3>() = mass * v.tail<3>() - h.cross(v.head<3>());
    return r;
  }
};

}  // namespace quiral::vek::multibody::detail
