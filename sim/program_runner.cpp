#include "sim/program_runner.h"

#include <algorithm>
#include <cmath>

#include "sim/robot_state.h"

namespace quiral::sim {

void StartProgram(RobotState& s, Program program) {
  s.StopMotion();
  s.program = std::move(program);
  FollowProgramTarget(s);
  if (s.system_state == Raw(qor::SystemState::STOPPED_EXTERNAL_AUTO)) {
    s.system_state = Raw(qor::SystemState::WORKING_EXTERNAL_AUTO);
  }
}

void EndProgram(RobotState& s) {
  if (s.program) s.program->finished = true;
  s.StopMotion();
  if (s.system_state == Raw(qor::SystemState::WORKING_EXTERNAL_AUTO)) {
    s.system_state = Raw(qor::SystemState::STOPPED_EXTERNAL_AUTO);
  }
}

void FollowProgramTarget(RobotState& s) {
  if (s.program && s.program->target) {
    s.SetJointTarget(*s.program->target, nullptr, s.velocity_scale / 100.0);
  }
}

void ResumeFromBreakpoint(RobotState& s, bool step) {
  Program* p = s.program ? &*s.program : nullptr;
  if (!p || p->finished || !p->at_breakpoint) return;
  p->at_breakpoint = false;
  if (step) ++p->breakpoint_steps;
  if (!p->paused) FollowProgramTarget(s);
}

void StepProgram(RobotState& s, double dt) {
  Program* p = s.program ? &*s.program : nullptr;
  if (!p || p->finished || p->paused || p->at_breakpoint) return;
  const double next = p->elapsed_s + dt * std::clamp(s.velocity_scale, 0, 100) / 100.0;
  if (p->is_plan && s.breakpoint_mode) {
    // In breakpoint mode a plan halts at the start of each of its nodes
    // (every kPlanNodeSeconds of plan time) until it is stepped on.
    const double boundary =
        (std::floor(p->elapsed_s / kPlanNodeSeconds + 1e-9) + 1.0) * kPlanNodeSeconds;
    if (next >= boundary && boundary < p->duration_s) {
      p->elapsed_s = boundary;
      p->at_breakpoint = true;
      s.StopMotion();
      return;
    }
  }
  p->elapsed_s = next;
  if (p->elapsed_s >= p->duration_s) {
    p->elapsed_s = p->duration_s;
    p->finished = true;
    if (s.system_state == Raw(qor::SystemState::WORKING_EXTERNAL_AUTO)) {
      s.system_state = Raw(qor::SystemState::STOPPED_EXTERNAL_AUTO);
    }
  }
}

bool ProgramRunning(const RobotState& s) {
  if (s.program_running_override) return *s.program_running_override;
  return s.program.has_value() && !s.program->finished;
}

}  // namespace quiral::sim
