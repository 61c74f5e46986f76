// Internal: how code of this library beside Robot reaches a Robot's
// implementation, its link client and its robot model. Robot grants this
// struct friendship; it is not part of the public API.
#pragma once

#include <memory>

#include "vek/robot.h"
#include "vek/robot_impl.h"

namespace quiral::vek::detail {

struct RobotAccess {
  // The Robot's implementation; nullptr when it has none (a moved-from or
  // half-destroyed Robot). Callers report that as their own error.
  static Robot::Impl* impl(const Robot& robot) { return robot.impl_.get(); }

  // A shared hold on the Robot's link client, which then lives as long as
  // the caller keeps it; empty when the Robot has no implementation or no
  // client.
  static std::shared_ptr<vek_impl::VEKClient> client(const Robot& robot) {
    const Robot::Impl* impl = robot.impl_.get();
    return impl != nullptr ? impl->client : nullptr;
  }

  // `check`, the argument check of a command (a const member
  // Check<Operation> of Robot::Impl), as a callable on a Robot:
  // ArgumentCheck(check)(robot, args...) throws what the command would throw
  // for these arguments on this robot, and sends nothing. It runs on the
  // caller's thread.
  template <class Result, class... Params>
  static auto ArgumentCheck(Result (Robot::Impl::*check)(Params...) const) {
    return [check](const Robot& robot, Params... args) { (robot.impl_.get()->*check)(args...); };
  }

  // The Robot's model; UNKNOWN_MODEL when it has no implementation.
  static Robot::Impl::RobotModel robot_model(const Robot& robot) {
    const Robot::Impl* impl = robot.impl_.get();
    return impl != nullptr ? impl->robot_model : Robot::Impl::UNKNOWN_MODEL;
  }
};

}  // namespace quiral::vek::detail
