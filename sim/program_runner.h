// Plans and primitives as the controller runs them: started through the
// operations service, advanced by every simulation step, reported through
// the data service and the real-time states. Every function runs under
// RobotSim's lock.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quiral::sim {

struct RobotState;

// A plan or primitive the controller knows: how long it runs and, if it
// moves the arm, where to.
struct Task {
  std::string name;
  double duration_s = 1.0;
  std::optional<std::vector<double>> target;
};

// Plan time per plan node; in breakpoint mode a plan halts at each node.
constexpr double kPlanNodeSeconds = 0.5;

// The plan or primitive started last.
struct Program {
  bool is_plan = true;
  std::string name;
  std::string call_text;
  double duration_s = 1.0;
  double elapsed_s = 0.0;
  bool paused = false;
  bool finished = false;
  std::optional<std::vector<double>> target;
  bool continue_exec = false;  // the flag the plan was started with
  bool at_breakpoint = false;  // halted at a node boundary, waiting for a step
  int breakpoint_steps = 0;    // steps taken from breakpoints
};

void StartProgram(RobotState& s, Program program);
// Finishes the program and stops its motion.
void EndProgram(RobotState& s);
// Moves the arm towards the program's target, if it has one, at the
// current velocity scale.
void FollowProgramTarget(RobotState& s);
// A plan halted at a breakpoint goes on (`step`: counted as a step).
void ResumeFromBreakpoint(RobotState& s, bool step);
// Advances the program by `dt` seconds of wall time.
void StepProgram(RobotState& s, double dt);
// What the real-time states report as "program running".
bool ProgramRunning(const RobotState& s);

}  // namespace quiral::sim
