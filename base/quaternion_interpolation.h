// Interpolation between quaternions: slerp, squad and the squad curve's
// derivative. No function normalises its inputs.
#pragma once

#include <Eigen/Geometry>

namespace quiral {
namespace base {

// Eigen's slerp: with d = q1 · q2, linear weights (1 − t, t) when
// |d| ≥ 1 − ε, otherwise the spherical weights; the second weight is negated
// when d < 0 (shortest path). Not normalised.
Eigen::Quaterniond _InterpolateQuaternion(const Eigen::Quaterniond& q1,
                                          const Eigen::Quaterniond& q2, const double& t);

// Spherical linear interpolation from q1 (t = 0) to q2 (t = 1):
// - |q1 · q2| > 0.999999999: q1 for every t;
// - shortestPath and q1 · q2 < 0: towards −q2;
// - q1 · q2 within 1e-6 of −1 (possible only without shortestPath): towards −q2;
// - q1 · q2 within 1e-6 of 1: the unnormalised linear blend;
// - otherwise the spherical blend, normalised.
Eigen::Quaterniond _SlerpQuaternion(const Eigen::Quaterniond& q1, const Eigen::Quaterniond& q2,
                                    double t, bool shortestPath);

// Squad: slerp(slerp(q1, q2, t), slerp(q3, q4, t), 2t(1 − t)), every slerp
// without the shortest-path rule.
Eigen::Quaterniond _SquadQuaternion(const Eigen::Quaterniond& q1, const Eigen::Quaterniond& q2,
                                    const Eigen::Quaterniond& q3, const Eigen::Quaterniond& q4,
                                    const double& t);

// The derivative in t of _SquadQuaternion with the same arguments, taken
// through the same branches (zero where the curve is held at a constant).
Eigen::Quaterniond _SquadFirstDerivative(const Eigen::Quaterniond& q1, const Eigen::Quaterniond& q2,
                                         const Eigen::Quaterniond& q3, const Eigen::Quaterniond& q4,
                                         const double& t);

}  // namespace base
}  // namespace quiral
