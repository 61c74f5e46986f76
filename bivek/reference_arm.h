// quiral::bivek::ReferenceArm: names one arm of a pair, or none.
#pragma once

#include <cstdint>

namespace quiral::bivek {

// The member names, "UNKOWN" included, are part of the public interface
// (also of the Python module) and keep this spelling.
enum class ReferenceArm : int32_t {
  UNKOWN = 0,  // no reference arm
  LEFT = 1,    // the first arm of the pair
  RIGHT = 2,   // the second arm of the pair
};

}  // namespace quiral::bivek
