// Internal: how code of this library beside Gripper reaches the argument
// checks of a Gripper's commands. Gripper grants this struct friendship; it
// is not part of the public API.
#pragma once

#include "vek/gripper.h"

namespace quiral::vek::detail {

struct GripperAccess {
  // Throw what Grasp and Move would throw for these arguments on this
  // gripper (no gripper enabled, then each argument's range in the
  // command's order), and send nothing. They run on the caller's thread.
  static void CheckGrasp(const Gripper& gripper, double force);
  static void CheckMove(const Gripper& gripper, double width, double velocity,
                        double force_limit);
};

}  // namespace quiral::vek::detail
