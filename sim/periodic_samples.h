// The three samples a controller publishes every period: real-time states,
// basic and extra stream data, filled from the simulated robot.
#pragma once

namespace vek_msgs::msg {
class RealtimeStates;
}  // namespace vek_msgs::msg

namespace quiral_lumo_msgs::msg {
class AllBasicStreamData;
class AllExtraStreamData;
}  // namespace quiral_lumo_msgs::msg

namespace quiral::sim {

struct RobotState;

// Fills the three samples and remembers the reported TCP pose. Runs under
// RobotSim's lock.
void FillSamples(RobotState& s, vek_msgs::msg::RealtimeStates& rt,
                 quiral_lumo_msgs::msg::AllBasicStreamData& basic,
                 quiral_lumo_msgs::msg::AllExtraStreamData& extra);

}  // namespace quiral::sim
