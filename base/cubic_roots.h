// Real roots of a monic cubic.
#pragma once

#include <vector>

namespace quiral {
namespace base {

// Replaces the contents of roots with the real roots of
// x³ + a·x² + b·x + c = 0. Three real roots (repeated roots repeated, not
// sorted) come in the order of the trigonometric formula; otherwise the one
// real root.
void _CubicEquationRealRoots(double a, double b, double c, std::vector<double>& roots);

}  // namespace base
}  // namespace quiral
