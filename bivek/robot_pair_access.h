// Internal: how code of this library that builds on a RobotPair reaches
// its implementation: the arms' base positions in the world frame and the
// pair's operations. RobotPair grants this struct friendship; it is not part
// of the public API.
#pragma once

#include <array>
#include <utility>

#include "bivek/robot_pair.h"
#include "bivek/robot_pair_impl.h"

namespace quiral::bivek::detail {

struct RobotPairAccess {
  // The pair's implementation; nullptr when it has none. The Impl itself is
  // not changed after construction (its operations act on the arms), so
  // code that holds a const RobotPair& may command the arms through it, for
  // example stop both.
  static RobotPair::Impl* impl(const RobotPair& pair) { return pair.impl_.get(); }

  // Each arm's base position [x, y, z] in the world frame; zeros when the
  // pair has no implementation.
  static std::pair<std::array<double, 3>, std::array<double, 3>> translations_in_world(
      const RobotPair& pair) {
    const RobotPair::Impl* impl = pair.impl_.get();
    return impl != nullptr ? impl->translations_in_world
                           : std::pair<std::array<double, 3>, std::array<double, 3>>{};
  }
};

}  // namespace quiral::bivek::detail
