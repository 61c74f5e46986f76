#include "base/vector_functions.h"

#include <cmath>
#include <stdexcept>

namespace quiral {
namespace base {

namespace {

void requireSameSize(const Eigen::VectorXd& a, const Eigen::VectorXd& b) {
  if (a.size() != b.size()) {
    throw std::invalid_argument("lhs and rhs cannot have different size");
  }
}

}  // namespace

bool _IsEqualWithinTolerance(const Eigen::VectorXd& a, const Eigen::VectorXd& b,
                             const double& tol) {
  return a.size() == b.size() && tol > (a - b).norm();
}

bool operator>(const Eigen::VectorXd& a, const Eigen::VectorXd& b) {
  requireSameSize(a, b);
  return (a.array() >= b.array()).all();
}

bool operator<(const Eigen::VectorXd& a, const Eigen::VectorXd& b) {
  requireSameSize(a, b);
  return (a.array() <= b.array()).all();
}

Eigen::VectorXd _SoftNorm(const Eigen::VectorXd& v, double alpha) {
  const double n = v.norm();
  const double k = std::abs(alpha) + 1e-9;
  const double s = n + std::log(1 + std::exp(-2 * k * n)) / k;
  return v / s;
}

}  // namespace base
}  // namespace quiral
