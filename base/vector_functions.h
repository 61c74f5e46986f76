// Comparisons and a smooth normalisation of dynamic-size vectors.
#pragma once

#include <Eigen/Core>

namespace quiral {
namespace base {

// False when the sizes differ; otherwise tol > |a − b| (strict). Two empty
// vectors are equal exactly when tol > 0.
bool _IsEqualWithinTolerance(const Eigen::VectorXd& a, const Eigen::VectorXd& b, const double& tol);

// Element-wise a(i) ≥ b(i) for every i; empty vectors compare true and a NaN
// element compares false. Throws std::invalid_argument "lhs and rhs cannot
// have different size" when the sizes differ.
bool operator>(const Eigen::VectorXd& a, const Eigen::VectorXd& b);
// Element-wise a(i) ≤ b(i) for every i, otherwise as operator>.
bool operator<(const Eigen::VectorXd& a, const Eigen::VectorXd& b);

// v divided by a smooth stand-in for its norm: with n = |v| and
// k = |alpha| + 1e-9, s = n + ln(1 + exp(−2kn))/k ≥ ln 2/k. A zero vector
// gives zeros; a long vector is divided by about its length.
Eigen::VectorXd _SoftNorm(const Eigen::VectorXd& v, double alpha);

}  // namespace base
}  // namespace quiral
