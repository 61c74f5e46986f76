// Small scalar functions: integer conversion, smoothstep, factorial and the
// wrapping of a value into a range.
#pragma once

#include <cstdint>

namespace quiral {
namespace base {

// Nearest 32-bit integer, halves away from zero. Out-of-range values
// saturate to the nearest limit; NaN gives 0.
int32_t _RoundToInt(double x);
int32_t _RoundToInt(float x);

// Largest 32-bit integer not above x, with the same saturation; NaN gives 0.
int32_t _FloorToInt(double x);
int32_t _FloorToInt(float x);

// With t = (x − e0)/(e1 − e0): 0 when t < 0, 1 when t > 1, else t²(3 − 2t).
double _Smoothstep(double e0, double e1, double x);

// n!; throws std::invalid_argument for n > 12, whose factorial does not fit
// in 32 bits.
uint32_t _Factorial(uint32_t n);

// x shifted by whole periods hi − lo into [lo, hi]. Values already in
// [lo, hi] come back unchanged; values above hi land in (lo, hi] and values
// below lo in [lo, hi), so hi is not mapped to lo. NaN or an infinite x gives
// NaN. Throws std::invalid_argument unless lo and hi are finite and lo < hi.
double _Wrap(double x, double lo, double hi);

}  // namespace base
}  // namespace quiral
