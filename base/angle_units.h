// Constants for angle units shared by the frame and the numeric functions.
#pragma once

namespace quiral {
namespace base {

// Multiply radians by this to get degrees.
constexpr double kRadToDeg = 57.29577951308232;
// Multiply degrees by this to get radians.
constexpr double kDegToRad = 0.017453292519943295;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

}  // namespace base
}  // namespace quiral
