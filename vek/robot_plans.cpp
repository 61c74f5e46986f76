// quiral::vek::Robot: plans stored on the robot (start, pause and resume,
// stop, breakpoints), the velocity scale of plan and primitive motion, and
// primitive calls with their parameter texts.

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "client/vek_client.h"
#include "vek/param_text.h"
#include "vek/robot.h"
#include "vek/robot_impl.h"

namespace quiral::vek {
namespace {

using vek_impl::ProcedureId;

constexpr unsigned int kMaxVelocityScale = 100;

// The robot is given this long to start a plan or primitive when the caller
// asks to wait for the start; it is not asked whether it did.
constexpr std::chrono::milliseconds kStartWait{300};

// The wait for a start after the robot accepted the request. A robot that
// sends no data meanwhile has gone: the start cannot be reported.
void WaitForStart(const Robot::Impl& impl, std::string_view operation) {
  const uint64_t since = impl.StreamSampleCount();
  std::this_thread::sleep_for(kStartWait);
  if (!impl.lite && impl.StreamSampleCount() == since) {
    throw Robot::Impl::LostConnection(operation);
  }
}

constexpr int16_t ModeValue(Mode mode) { return static_cast<int16_t>(mode); }

QorState CallWithoutArguments(vek_impl::VEKClient& client, ProcedureId id) {
  return client.operations_rpc.GeneralCall(id, std::string(), {}, {}, {});
}

}  // namespace

void Robot::Impl::ExecutePlan(unsigned int index, bool continue_exec, bool block_until_started) {
  // The plan list is fetched before any state check; its failure is
  // reported as plan_list's.
  const std::vector<std::string> plans = plan_list();
  if (index >= plans.size()) {
    throw std::invalid_argument(Prefix("ExecutePlan") +
                                " Input parameter [index] is outside the valid range");
  }
  ExecutePlan(plans[index], continue_exec, block_until_started);
}

void Robot::Impl::ExecutePlan(const std::string& plan_name, bool continue_exec,
                              bool block_until_started) {
  const std::string prefix = Prefix("ExecutePlan");
  if (!lite) RequireOperational("ExecutePlan");
  if (CurrentMode() != ModeValue(Mode::NRT_PLAN_EXECUTION)) {
    throw std::logic_error(prefix + " Robot is not in an applicable control mode");
  }
  CheckExecutePlan(plan_name, continue_exec, block_until_started);
  if (!QorSucceeded(client->operations_rpc.GeneralCall(ProcedureId::ExecutePlan, plan_name,
                                                       {continue_exec ? 1 : 0}, {}, {}))) {
    throw std::runtime_error(prefix + " Failed to deliver the request");
  }
  if (block_until_started) WaitForStart(*this, "ExecutePlan");
}

void Robot::Impl::CheckExecutePlan(const std::string& plan_name, bool /*continue_exec*/,
                                   bool /*block_until_started*/) const {
  // The transport would cut the name at a '\0' or at its capacity and the
  // robot would look for another plan than the one asked for.
  RequireNoNul(plan_name, "ExecutePlan", "plan_name");
  if (plan_name.size() > detail::kMaxLongStringLength) {
    throw std::length_error(Prefix("ExecutePlan") +
                            " Input parameter [plan_name] is too long to transmit (requires " +
                            std::to_string(plan_name.size()) + "/" +
                            std::to_string(detail::kMaxLongStringLength) + " bytes of bandwidth)");
  }
}

void Robot::Impl::PausePlan(bool pause) {
  const std::string prefix = Prefix("PausePlan");
  if (CurrentMode() != ModeValue(Mode::NRT_PLAN_EXECUTION)) {
    throw std::logic_error(prefix + " Robot is not in an applicable control mode");
  }
  if (!QorSucceeded(CallWithoutArguments(
          *client, pause ? ProcedureId::PausePlan : ProcedureId::ResumePlan))) {
    throw std::runtime_error(prefix + (pause ? " Failed to execute pause request"
                                             : " Failed to execute resume request"));
  }
}

void Robot::Impl::StopPlan() {
  const std::string prefix = Prefix("StopPlan");
  if (CurrentMode() != ModeValue(Mode::NRT_PLAN_EXECUTION)) {
    throw std::logic_error(prefix + " Robot is not in an applicable control mode");
  }
  if (!QorSucceeded(CallWithoutArguments(*client, ProcedureId::StopPlan))) {
    throw std::runtime_error(prefix + " Failed to deliver the request");
  }
}

void Robot::Impl::SetBreakpointMode(bool is_enabled) {
  const std::string prefix = Prefix("SetBreakpointMode");
  if (CurrentMode() != ModeValue(Mode::NRT_PLAN_EXECUTION)) {
    throw std::logic_error(prefix + " Robot is not in an applicable control mode");
  }
  if (!QorSucceeded(client->operations_rpc.GeneralCall(
          ProcedureId::SetBreakpointMode, std::string(), {is_enabled ? 1 : 0}, {}, {}))) {
    throw std::runtime_error(prefix + " Failed to deliver the request");
  }
}

void Robot::Impl::StepBreakpoint() {
  const std::string prefix = Prefix("StepBreakpoint");
  if (CurrentMode() != ModeValue(Mode::NRT_PLAN_EXECUTION)) {
    throw std::logic_error(prefix + " Robot is not in an applicable control mode");
  }
  if (!QorSucceeded(CallWithoutArguments(*client, ProcedureId::StepBreakpoint))) {
    throw std::runtime_error(prefix + " Failed to deliver the request");
  }
}

void Robot::Impl::SetVelocityScale(unsigned int velocity_scale) {
  const std::string prefix = Prefix("SetVelocityScale");
  const int16_t mode = CurrentMode();
  if (mode != ModeValue(Mode::NRT_PLAN_EXECUTION) &&
      mode != ModeValue(Mode::NRT_PRIMITIVE_EXECUTION)) {
    throw std::logic_error(prefix + " Robot is not in an applicable control mode");
  }
  CheckSetVelocityScale(velocity_scale);
  if (!QorSucceeded(client->operations_rpc.GeneralCall(ProcedureId::SetVelocityScale, std::string(),
                                                       {static_cast<int>(velocity_scale)}, {},
                                                       {}))) {
    throw std::runtime_error(prefix + " Failed to deliver the request");
  }
}

void Robot::Impl::CheckSetVelocityScale(unsigned int velocity_scale) const {
  if (velocity_scale > kMaxVelocityScale) {
    throw std::invalid_argument(Prefix("SetVelocityScale") +
                                " Input parameter [velocity_scale] cannot exceed 100%");
  }
}

void Robot::Impl::ExecutePrimitive(const std::string& primitive_name,
                                   const std::map<std::string, ParamVariant>& input_params,
                                   bool block_until_started) {
  const std::string prefix = Prefix("ExecutePrimitive");
  if (!lite) RequireOperational("ExecutePrimitive");
  if (CurrentMode() != ModeValue(Mode::NRT_PRIMITIVE_EXECUTION)) {
    throw std::logic_error(prefix + " Robot is not in an applicable control mode");
  }
  const std::string text = CheckExecutePrimitive(primitive_name, input_params, block_until_started);
  if (!QorSucceeded(
          client->operations_rpc.GeneralCall(ProcedureId::ExecutePrimitive, text, {}, {}, {}))) {
    throw std::runtime_error(prefix + " Failed to deliver the request");
  }
  if (block_until_started) WaitForStart(*this, "ExecutePrimitive");
}

std::string Robot::Impl::CheckExecutePrimitive(
    const std::string& primitive_name, const std::map<std::string, ParamVariant>& input_params,
    bool /*block_until_started*/) const {
  RequireNoNul(primitive_name, "ExecutePrimitive", "primitive_name");
  // Parameters in name order; throws for texts the robot could not be given
  // whole (a '\0', a non-finite number, a Coord without text form, more
  // than 10000 characters).
  return detail::PrimitiveCallText(primitive_name, input_params);
}

// ------------------------------------------------------------------ Robot

void Robot::ExecutePlan(unsigned int index, bool continue_exec, bool block_until_started) {
  impl_->ExecutePlan(index, continue_exec, block_until_started);
}
void Robot::ExecutePlan(const std::string& plan_name, bool continue_exec,
                        bool block_until_started) {
  impl_->ExecutePlan(plan_name, continue_exec, block_until_started);
}
void Robot::PausePlan(bool pause) { impl_->PausePlan(pause); }
void Robot::StopPlan() { impl_->StopPlan(); }
void Robot::SetBreakpointMode(bool is_enabled) { impl_->SetBreakpointMode(is_enabled); }
void Robot::StepBreakpoint() { impl_->StepBreakpoint(); }
void Robot::SetVelocityScale(unsigned int velocity_scale) {
  impl_->SetVelocityScale(velocity_scale);
}
void Robot::ExecutePrimitive(const std::string& primitive_name,
                             const std::map<std::string, ParamVariant>& input_params,
                             bool block_until_started) {
  impl_->ExecutePrimitive(primitive_name, input_params, block_until_started);
}

}  // namespace quiral::vek
