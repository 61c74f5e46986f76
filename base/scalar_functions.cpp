#include "base/scalar_functions.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace quiral {
namespace base {

namespace {

// An integral-valued double as a 32-bit integer, saturating; NaN gives 0.
int32_t saturateToInt(double integral) {
  if (std::isnan(integral)) return 0;
  if (integral <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  if (integral >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(integral);
}

}  // namespace

int32_t _RoundToInt(double x) { return saturateToInt(std::round(x)); }
int32_t _RoundToInt(float x) { return saturateToInt(std::round(static_cast<double>(x))); }

int32_t _FloorToInt(double x) { return saturateToInt(std::floor(x)); }
int32_t _FloorToInt(float x) { return saturateToInt(std::floor(static_cast<double>(x))); }

double _Smoothstep(double e0, double e1, double x) {
  const double t = (x - e0) / (e1 - e0);
  if (t < 0) return 0;
  if (t > 1) return 1;
  return t * t * (3 - 2 * t);
}

uint32_t _Factorial(uint32_t n) {
  if (n > 12) {
    throw std::invalid_argument("[quiral::base::_Factorial] " + std::to_string(n) +
                                "! does not fit in 32 bits (12 is the largest argument)");
  }
  uint32_t result = 1;
  for (uint32_t k = 2; k <= n; ++k) result *= k;
  return result;
}

double _Wrap(double x, double lo, double hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || !(lo < hi) || !std::isfinite(hi - lo)) {
    throw std::invalid_argument(
        "[quiral::base::_Wrap] The bounds must be finite with lo < hi and a finite period");
  }
  if (!std::isfinite(x)) return std::numeric_limits<double>::quiet_NaN();
  if (x >= lo && x <= hi) return x;
  const double period = hi - lo;
  // (x − lo) mod period from the remainders of x and lo, each exact, so that
  // no far x loses its offset in a subtraction.
  double offset = std::fmod(std::fmod(x, period) - std::fmod(lo, period), period);
  if (offset < 0) offset += period;
  // Shifting by whole periods stops at the first value not above hi when
  // coming from above, and not below lo when coming from below.
  double wrapped = lo + offset;
  if (offset == 0 && x > hi) wrapped = hi;
  // Rounding in the last step must not leave the range.
  return std::min(std::max(wrapped, lo), hi);
}

}  // namespace base
}  // namespace quiral
