#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <vector>

#include "base/angle_units.h"
#include "base/cubic_roots.h"
#include "base/qor_frame.h"
#include "base/quaternion_interpolation.h"
#include "base/quaternion_math.h"
#include "base/scalar_functions.h"
#include "base/sparse_entries.h"
#include "base/vector_functions.h"
#include "base/vector_geometry.h"

namespace quiral {
namespace base {
namespace {

using ::testing::DoubleNear;
using ::testing::Pointwise;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
using Quat = Eigen::Quaterniond;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Eigen draws random rotations and vectors from std::rand: a fixed seed, fixed cases.
class RandomRotations : public ::testing::Test {
 protected:
  void SetUp() override { std::srand(20240607); }
  static QorFrame randomFrame() { return {Eigen::Vector3d::Random(), Quat::UnitRandom().matrix()}; }
};

Eigen::Vector4d wxyz(const Quat& q) { return {q.w(), q.x(), q.y(), q.z()}; }
Eigen::Vector3d rotationVector(const Eigen::Matrix3d& r) {
  const Eigen::AngleAxisd aa(r);
  return aa.angle() * aa.axis();
}

TEST_F(RandomRotations, EveryRepresentationRoundTripsAndAgreesWithEigen) {
  for (int n = 0; n < 200; ++n) {
    const Quat q = Quat::UnitRandom();
    const Eigen::Matrix3d r = q.matrix();
    const Eigen::Isometry3d iso = Eigen::Translation3d(Eigen::Vector3d::Random()) * q;
    QorFrame frame;
    frame.setPoseVec((Vector7d() << iso.translation(), wxyz(q)).finished());
    EXPECT_TRUE(frame.getQuat().coeffs().isApprox(Quat(r).coeffs(), 1e-12));
    EXPECT_LT(_ComputeQuatDistanceVec(frame.getPoseVec().tail<4>(), wxyz(q)), 1e-12);
    EXPECT_TRUE(frame.getHomo().isApprox(iso.matrix(), 1e-12));

    const Eigen::Vector3d euler = frame.getEulerAngleZYX(), degrees = euler * kRadToDeg;
    EXPECT_TRUE(euler.isApprox(r.eulerAngles(2, 1, 0), 1e-9)) << euler.transpose();
    QorFrame viaEuler, viaUser, viaAxisAngle;
    viaEuler.setEulerAngleZYX(euler(0), euler(1), euler(2));
    viaUser.setUserEulerAngleZYX(degrees(0), degrees(1), degrees(2));
    viaAxisAngle.setAxisAngleRotation(rotationVector(r));
    for (const QorFrame* f : {&viaEuler, &viaUser, &viaAxisAngle})
      EXPECT_TRUE(f->rotation.isApprox(r));

    const QorFrame other = randomFrame();
    const Eigen::Isometry3d otherIso(other.getHomo());
    EXPECT_TRUE((frame * other).getHomo().isApprox((iso * otherIso).matrix(), 1e-12));
    EXPECT_TRUE((frame * other.translation).isApprox(iso * other.translation, 1e-12));
    EXPECT_TRUE(frame.inverse().getHomo().isApprox(iso.inverse().matrix(), 1e-12));
    // The difference: translations, and the rotation from other to frame in world axes.
    const Vector6d difference = frame - other;
    EXPECT_TRUE(difference.head<3>().isApprox(frame.translation - other.translation, 1e-12));
    EXPECT_TRUE(
        difference.tail<3>().isApprox(rotationVector(r * other.rotation.transpose()), 1e-9));
    // The velocity: the same motion in this frame's axes, over 2 s.
    const Vector6d v = frame.computeRelativeVelocity(other, 2);
    EXPECT_TRUE(v.head<3>().isApprox(r.transpose() * difference.head<3>() / 2, 1e-12));
    EXPECT_TRUE(v.tail<3>().isApprox(rotationVector(other.rotation.transpose() * r) / 2, 1e-9));

    // Orthonormalising a slightly disturbed rotation gives it back.
    QorFrame disturbed = frame;
    disturbed.rotation += 1e-7 * Eigen::Matrix3d::Random();
    disturbed.orthonormalizeRotationMatrix();
    EXPECT_TRUE((disturbed.rotation.transpose() * disturbed.rotation).isIdentity(1e-14));
    EXPECT_TRUE(disturbed.rotation.isApprox(r, 1e-6));
  }
}

TEST(QorFrame, HandPickedEdgeCases) {
  // Quaternion [w, x, y, z] and the diagonal of the matrix it gives.
  const double cases[][7] = {{2, 0, 0, 0, 1, 1, 1}, {0, 2, 0, 0, 1, -7, -7}, {0, 0, 0, 0, 1, 1, 1}};
  for (const auto& c : cases) {
    QorFrame frame;
    frame.setRotVec(Eigen::Vector4d(c));
    EXPECT_EQ(frame.rotation, Eigen::Matrix3d(Eigen::Vector3d(c + 4).asDiagonal())) << c[0];
  }
  EXPECT_EQ(QorFrame().getPoseVec(), (Vector7d() << 0, 0, 0, 1, 0, 0, 0).finished());

  // A turn about z by 0.2 with a lift of 0.5 over 0.5 s: both parts positive (the angular
  // part ran the other way).
  const QorFrame moved({0, 0, 0.5}, Eigen::AngleAxisd(0.2, Eigen::Vector3d::UnitZ()).matrix());
  EXPECT_TRUE(moved.computeRelativeVelocity(QorFrame(), 0.5)
                  .isApprox((Vector6d() << 0, 0, 1, 0, 0, 0.4).finished(), 1e-12));

  QorFrame shifted, nanPosition, nanRotation;
  shifted.translation << 3, 4, 0;
  EXPECT_TRUE(shifted.isEqual(shifted, 0, 0) && shifted.isEqual(QorFrame(), 5, 0));
  EXPECT_FALSE(shifted.isEqual(QorFrame(), 4.999, 0));
  // A NaN translation or rotation made the frame equal to every frame.
  nanPosition.translation(0) = kNaN;
  nanRotation.rotation(1, 1) = kNaN;
  EXPECT_FALSE(nanPosition.isEqual(QorFrame(), 1, 1) || nanRotation.isEqual(QorFrame(), 1, 1));
}

TEST(QorFrame, CacheKeepsTheAnglesLastEntered) {
  QorFrame frame;
  frame.setUserEulerAngleZYX(-10, 0, 0);
  EXPECT_EQ(frame.getUserEulerAngleZYX(), Eigen::Vector3d(-10, 0, 0));
  EXPECT_NEAR(frame.getEulerAngleZYX()(0), 170 * kDegToRad, 1e-12);
  // Axis-angle rotation keeps it, until refreshed; composition and clear empty it.
  frame.setAxisAngleRotation(Eigen::Vector3d(0, 0.5, 0));
  EXPECT_EQ(frame.userEulerAngle, Eigen::Vector3d(-10, 0, 0));
  frame.updateUserEulerAngle();
  EXPECT_TRUE(frame.userEulerAngle.isApprox(Eigen::Vector3d(0, 0.5 * kRadToDeg, 0)));
  EXPECT_EQ((frame * frame).userEulerAngle, Eigen::Vector3d::Zero());
  frame.clear();
  EXPECT_TRUE(frame == QorFrame());
}

TEST_F(RandomRotations, EulerDistanceIsSmallForNearbyRotations) {
  // {from yaw, to yaw, distance} in degrees. From 0° to −10° was (170°, 180°, 180°): the
  // angles of −10° came from the other branch.
  const double cases[][3] = {{10, 170, 160}, {170, 10, -160}, {0, -10, -10}, {-170, 170, -20}};
  for (const auto& c : cases) {
    QorFrame from, to;
    from.setUserEulerAngleZYX(c[0], 0, 0);
    to.setUserEulerAngleZYX(c[1], 0, 0);
    const Eigen::Vector3d expected(c[2] * kDegToRad, 0, 0);
    EXPECT_TRUE(from.computeEulerAngleDistance(to).isApprox(expected)) << c[0] << " to " << c[1];
  }
  for (int n = 0; n < 200; ++n) {
    const QorFrame a = randomFrame();
    if (std::abs(a.rotation(2, 0)) > 0.98) continue;  // near pitch ±90° the angles are not unique
    QorFrame b = a;
    b.rotation = a.rotation * Quat::UnitRandom().slerp(0.999, Quat::Identity()).matrix();
    EXPECT_LT(a.computeEulerAngleDistance(b).norm(), 0.05) << a.getEulerAngleZYX().transpose();
  }
}

TEST_F(RandomRotations, SlerpSquadAndItsDerivativeFollowTheirDefinitions) {
  // slerp(p, q, t) = p·(p*·q)^t; without the shortest path the power takes the long way
  // round when p · q < 0.
  const auto along = [](const Quat& p, const Quat& q, double t) {
    return Quat(p * _QuaternionPow(p.conjugate() * q, t));
  };
  for (int n = 0; n < 200; ++n) {
    const Quat q1 = Quat::UnitRandom(), q2 = Quat::UnitRandom(), q3 = Quat::UnitRandom(),
               q4 = Quat::UnitRandom();
    const double t = Eigen::internal::random(0.02, 0.98), h = 1e-6;
    EXPECT_TRUE(_SlerpQuaternion(q1, q2, t, false).coeffs().isApprox(along(q1, q2, t).coeffs()));
    EXPECT_TRUE(_SlerpQuaternion(q1, q2, t, true).coeffs().isApprox(q1.slerp(t, q2).coeffs()));
    const Quat squad = along(along(q1, q2, t), along(q3, q4, t), 2 * t * (1 - t));
    EXPECT_TRUE(_SquadQuaternion(q1, q2, q3, q4, t).coeffs().isApprox(squad.coeffs()));
    // The closed form was tens of percent off; a longer q4 brings in the slerp's normalisation.
    const Quat q4l = q4 * 1.5;
    const Eigen::Vector4d numeric = (_SquadQuaternion(q1, q2, q3, q4l, t + h).coeffs() -
                                     _SquadQuaternion(q1, q2, q3, q4l, t - h).coeffs()) /
                                    (2 * h);
    const Eigen::Vector4d exact = _SquadFirstDerivative(q1, q2, q3, q4l, t).coeffs();
    EXPECT_LT((exact - numeric).norm(), 1e-6 * (1 + numeric.norm())) << n;
  }
  const Quat q = Quat::UnitRandom();
  EXPECT_EQ(_SlerpQuaternion(q, q, 0.3, false).coeffs(), q.coeffs());
  EXPECT_EQ(_SlerpQuaternion(q, -q, 0.7, true).coeffs(), q.coeffs());
}

// The direction of v at any scale: the squared norm of 1e-170 or 1e300 leaves the doubles.
Eigen::Vector3d direction(const Eigen::Vector3d& v) {
  return (v / v.cwiseAbs().maxCoeff()).normalized();
}

// How far r is from a proper rotation turning the direction of a into that of b.
double rotationError(const Eigen::Matrix3d& r, const Eigen::Vector3d& a, const Eigen::Vector3d& b) {
  const double orthonormal =
      (r.transpose() * r - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff();
  return std::max(
      {orthonormal, std::abs(r.determinant() - 1), (r * direction(a) - direction(b)).norm()});
}

TEST_F(RandomRotations, RotationBetweenVectorsIsProper) {
  // Opposite vectors gave −I, a point reflection, and so did tiny ones, whose dot product
  // underflowed to −0; opposite up to rounding, the noise of a × b became the axis. For w,
  // the part of −0.3·w across w is rounding that lies along w.
  const Eigen::Vector3d a(1, 2, 3), x = Eigen::Vector3d::UnitX(), u(-0.16296, 0.12886, -0.25887);
  const Eigen::Vector3d w(-1, -0.9, 0.25);
  const Eigen::Vector3d tiny(5e-324, 1e-323, 0), huge = 1e300 * Eigen::Vector3d(1, -2, 3);
  const Eigen::Vector3d pairs[][2] = {{a, 3 * a},
                                      {a, Eigen::Vector3d::Random()},
                                      {u, -0.3 * u},
                                      {w, -0.3 * w},
                                      {1e-170 * x, -1e-170 * x},
                                      {tiny, -tiny},
                                      {tiny, Eigen::Vector3d(0, 0, 5e-324)},
                                      {huge, -0.7 * huge},
                                      {huge, Eigen::Vector3d(-1e300, 1e300, 1e299)},
                                      {1e-170 * a, 1e300 * u}};
  for (const auto& pair : pairs) {
    EXPECT_LT(rotationError(_ComputeRotationMatrix(pair[0], pair[1]), pair[0], pair[1]), 1e-12)
        << pair[0].transpose() << " to " << pair[1].transpose();
  }
  // Exactly opposite directions: a half turn about an axis perpendicular to a.
  for (const Eigen::Vector3d& v : {a, x, Eigen::Vector3d(1e-170 * x), tiny, huge}) {
    const Eigen::Matrix3d halfTurn = Eigen::AngleAxisd(kPi, direction(v).unitOrthogonal()).matrix();
    EXPECT_TRUE(_ComputeRotationMatrix(v, -2 * v).isApprox(halfTurn, 1e-15)) << v.transpose();
  }
  // b = −k·a for k not a power of two: opposite up to rounding.
  double worst = 0;
  for (int n = 0; n < 500; ++n) {
    const Eigen::Vector3d from = Eigen::Vector3d::Random(),
                          to = -Eigen::internal::random(0.1, 10.0) * from;
    worst = std::max(worst, rotationError(_ComputeRotationMatrix(from, to), from, to));
  }
  EXPECT_LT(worst, 1e-12);
}

TEST_F(RandomRotations, NearlyOppositeVectorsTurnByTheirAngleInTheirPlane) {
  // b is a turned by π − gap about an axis perpendicular to a: the result turns by that angle
  // about an axis perpendicular to a (a × b, mostly rounding here, tilted it).
  for (const double gap : {1e-6, 1e-8, 1e-10, 1e-12, 1e-14}) {
    double worst = 0, worstAngle = 0, worstTilt = 0;
    for (int n = 0; n < 100; ++n) {
      const Eigen::Vector3d a = Eigen::Vector3d::Random();
      const Eigen::Vector3d b = Eigen::internal::random(0.1, 10.0) *
                                (Eigen::AngleAxisd(kPi - gap, a.unitOrthogonal()) * a);
      const Eigen::Matrix3d r = _ComputeRotationMatrix(a, b);
      const Eigen::AngleAxisd turn(r);
      worst = std::max(worst, rotationError(r, a, b));
      worstAngle = std::max(worstAngle, std::abs(turn.angle() - (kPi - gap)));
      worstTilt = std::max(worstTilt, std::abs(turn.axis().dot(a.normalized())));
    }
    EXPECT_LT(worst, 1e-12) << gap;
    EXPECT_LT(worstAngle, 1e-9) << gap;
    EXPECT_LT(worstTilt, 1e-12) << gap;
  }
}

TEST_F(RandomRotations, RotationBetweenVectorsIsTheSmallestOne) {
  // Not opposite: the turn by the angle between them about a × b (a reference that keeps its
  // accuracy up to about 3 rad).
  double worst = 0;
  for (int n = 0; n < 500; ++n) {
    const Eigen::Vector3d a = Eigen::Vector3d::Random();
    const Eigen::Vector3d b =
        n % 2 ? Eigen::Vector3d::Random() : Eigen::Vector3d(a + 1e-6 * Eigen::Vector3d::Random());
    const double angle = std::atan2(a.cross(b).norm(), a.dot(b));
    if (angle > 3) continue;
    const Eigen::Matrix3d smallest = Eigen::AngleAxisd(angle, a.cross(b).normalized()).matrix();
    worst = std::max(worst, (_ComputeRotationMatrix(a, b) - smallest).cwiseAbs().maxCoeff());
  }
  EXPECT_LT(worst, 1e-14);
  EXPECT_EQ(_ComputeRotationMatrix(Eigen::Vector3d::Zero(), Eigen::Vector3d::UnitX()),
            Eigen::Matrix3d::Identity());
}

TEST(RotationBetweenVectors, ANonFiniteComponentGivesNaNNeverARotation) {
  // A NaN past the first component was passed over by the scaling: (0, NaN, 0) counted as the
  // zero vector (the identity), and (NaN, 0, 0) or (inf, 0, 0) as opposite to x (a half turn).
  const double nan = std::numeric_limits<double>::quiet_NaN(),
               inf = std::numeric_limits<double>::infinity();
  const Eigen::Vector3d x = Eigen::Vector3d::UnitX();
  const Eigen::Vector3d pairs[][2] = {{Eigen::Vector3d(0, nan, 0), x},
                                      {x, Eigen::Vector3d(0, 0, nan)},
                                      {x, Eigen::Vector3d(nan, 0, 0)},
                                      {x, Eigen::Vector3d(1, nan, 0)},
                                      {x, Eigen::Vector3d(inf, 0, 0)},
                                      {Eigen::Vector3d(0, -inf, 0), x},
                                      {Eigen::Vector3d(nan, nan, nan), Eigen::Vector3d::Zero()}};
  for (const auto& pair : pairs) {
    EXPECT_TRUE(_ComputeRotationMatrix(pair[0], pair[1]).array().isNaN().any())
        << pair[0].transpose() << " to " << pair[1].transpose();
  }
}

TEST(ScalarFunctions, WrapRefusesBadBoundsAndHandlesFarValues) {
  const double xs[] = {7, 5, -1, 0, 10, -5}, wrapped[] = {2, 5, 4, 0, 5, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(_Wrap(xs[i], 0, 5), wrapped[i]) << xs[i];
  EXPECT_NEAR(_Wrap(4, -kPi, kPi), 4 - kTwoPi, 1e-15);
  // Far values never ended: one period does not change them.
  EXPECT_EQ(_Wrap(1e20, -2, 2), 0);
  EXPECT_EQ(_Wrap(-1e20, -2, 2), 0);
  const double inf = std::numeric_limits<double>::infinity();
  for (double x : {kNaN, inf, -inf}) EXPECT_TRUE(std::isnan(_Wrap(x, 0, 1)));
  const double badBounds[][2] = {{0, 0}, {1, 0}, {kNaN, 1}, {0, inf}, {-1e308, 1e308}};
  for (const auto& b : badBounds) EXPECT_THROW(_Wrap(0.5, b[0], b[1]), std::invalid_argument);
}

TEST(ScalarFunctions, TableOfSmallFunctions) {
  EXPECT_EQ(_RoundToInt(2.5), 3);
  EXPECT_EQ(_RoundToInt(-2.5f), -3);
  EXPECT_EQ(_FloorToInt(-0.5), -1);
  EXPECT_EQ(_RoundToInt(1e10), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(_FloorToInt(-1e10f), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(_RoundToInt(kNaN), 0);
  EXPECT_EQ(_Smoothstep(1, 3, 2), 0.5);
  EXPECT_EQ(_Factorial(12), 479001600u);
  EXPECT_THROW(_Factorial(13), std::invalid_argument);  // wrapped modulo 2³² before
  EXPECT_TRUE(_SoftNorm(Eigen::VectorXd::Zero(3), 1).isZero());
  EXPECT_NEAR(_SoftNorm(Eigen::VectorXd::Constant(4, 50), 10).norm(), 1, 1e-9);
  const Eigen::Vector3d v(1, -2, 0.5), u(0.3, 4, -1);
  EXPECT_TRUE((_SkewSymmetricMatrix(v) * u).isApprox(v.cross(u)));
}

TEST(VectorFunctions, ComparisonsFailOnNaNAndRefuseSizeMismatch) {
  const Eigen::VectorXd a = Eigen::Vector2d(1, 2), b = Eigen::Vector2d(1, 3);
  const Eigen::VectorXd withNaN = Eigen::Vector2d(1, kNaN);
  EXPECT_TRUE(a > a && a < a && b > a && !(a > b));
  EXPECT_FALSE(withNaN > a || withNaN < a);  // a NaN element passed both before
  EXPECT_THAT(
      [&] { (void)(a < Eigen::VectorXd(3)); },
      ThrowsMessage<std::invalid_argument>(StrEq("lhs and rhs cannot have different size")));
}

TEST(CubicRoots, DegenerateCasesGiveExactRoots) {
  // {a, b, c, roots...}
  const std::vector<double> cases[] = {{-6, 11, -6, 1, 2, 3},
                                       {0, 1, 1, -0.6823278038280193},
                                       {3, 3, 1, -1, -1, -1},  // Q = R = 0: was 0/0
                                       {0, 1, 0, 0},           // R = 0 with one root: was inf
                                       {-3, 4, -2, 1}};        // the same, shifted by 1
  for (const auto& c : cases) {
    std::vector<double> roots{42};
    _CubicEquationRealRoots(c[0], c[1], c[2], roots);
    EXPECT_THAT(roots, Pointwise(DoubleNear(1e-12), std::vector<double>(c.begin() + 3, c.end())))
        << c[0];
  }
}

TEST(SparseEntries, ListsStoredEntriesAndRefusesNullOutputs) {
  Eigen::SparseMatrix<double, Eigen::ColMajor, int32_t> m(3, 3);
  m.insert(2, 0) = 5;
  m.insert(0, 2) = 0;  // stored zeros are listed too
  m.insert(1, 0) = -1;
  Eigen::VectorXi rows, cols;
  Eigen::VectorXd values;
  _FindNonZeroElements(m, &rows, &cols, &values);
  EXPECT_EQ(rows, Eigen::Vector3i(1, 2, 0));
  EXPECT_EQ(cols, Eigen::Vector3i(0, 0, 2));
  EXPECT_EQ(values, Eigen::Vector3d(-1, 5, 0));
  EXPECT_THAT([&] { _FindNonZeroElements(m, nullptr, nullptr, nullptr); },
              ThrowsMessage<std::invalid_argument>(StrEq("Input param <vr> is nullptr")));
}

}  // namespace
}  // namespace base
}  // namespace quiral
