// How the simulated arm moves: joint tracking of the current target over
// time, and the streamed motion commands that set targets by control mode.
// Both run under RobotSim's lock.
#pragma once

namespace vek_msgs::msg {
class MotionCommands;
}  // namespace vek_msgs::msg

namespace quiral::sim {

struct RobotState;

// Moves every joint for `dt` seconds towards its target, within the
// velocity and acceleration limits; without a target the joints come to
// rest.
void StepArm(RobotState& s, double dt);

// Takes one streamed motion command; true when it was applied to the
// motion (false: wrong mode, not operational or malformed). Counts both.
bool ApplyMotionCommand(RobotState& s, const vek_msgs::msg::MotionCommands& command);

}  // namespace quiral::sim
