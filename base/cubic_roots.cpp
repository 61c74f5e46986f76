#include "base/cubic_roots.h"

#include <algorithm>
#include <cmath>

#include "base/angle_units.h"

namespace quiral {
namespace base {

void _CubicEquationRealRoots(double a, double b, double c, std::vector<double>& roots) {
  roots.clear();
  const double q = (a * a - 3 * b) / 9;
  const double r = (2 * std::pow(a, 3) - 9 * a * b + 27 * c) / 54;
  const double q3 = std::pow(q, 3);
  const double d = r * r - q3;
  const double shift = a / 3;
  if (d <= 0) {
    if (q3 == 0) {
      // q = r = 0: the triple root −a/3.
      roots.assign(3, -shift);
      return;
    }
    // Rounding can put the cosine a step beyond ±1 when d is close to 0.
    const double theta = std::acos(std::clamp(r / std::sqrt(q3), -1.0, 1.0));
    const double scale = -2 * std::sqrt(q);
    roots.push_back(scale * std::cos(theta / 3) - shift);
    roots.push_back(scale * std::cos((theta - kTwoPi) / 3) - shift);
    roots.push_back(scale * std::cos((theta + kTwoPi) / 3) - shift);
    return;
  }
  // The sign is that of −r. At r = 0 (then q < 0) either sign gives q/big + big = 0, the
  // root −a/3; a zero factor there would divide by zero.
  const double big = (r > 0 ? -1 : 1) * std::pow(std::abs(r) + std::sqrt(d), 0.3333333333333333);
  roots.push_back(q / big + big - shift);
}

}  // namespace base
}  // namespace quiral
