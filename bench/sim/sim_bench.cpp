// Cost of what the simulated controller does per incoming sample: a 1 kHz
// motion-command stream per client must be applied and recorded well within
// 1 ms, and a periodic step must leave the publication thread mostly idle.
#include <benchmark/benchmark.h>

#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"
#include "msgs/vek_msgs/motion_commands.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "sim/recorder.h"
#include "sim/robot_sim.h"

namespace {

quiral::sim::RobotConfig ReadyRobot() {
  quiral::sim::RobotConfig c;
  c.serial = "Varno4-BENCH1";
  c.initial_state = "ready";
  return c;
}

void BM_ApplyAndRecordJointCommand(benchmark::State& state) {
  quiral::sim::RobotSim robot(ReadyRobot());
  robot.Set({{"mode", 5}});
  quiral::sim::Recorder recorder(20000);
  vek_msgs::msg::MotionCommands cmd;
  cmd.joint_commands().position({0.1f, -0.7f, 0.0f, 1.57f, 0.0f, 0.7f, 0.0f});
  cmd.joint_commands().velocity(std::vector<float>(7, 0.0f));
  cmd.joint_commands().acceleration(std::vector<float>(7, 0.0f));
  cmd.joint_commands().torque(std::vector<float>(7, 0.0f));
  uint64_t seq = 0;
  for (auto _ : state) {
    cmd.sequence_num(++seq);
    const bool applied = robot.ApplyMotionCommand(cmd);
    recorder.RecordMotion(seq, cmd, applied);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ApplyAndRecordJointCommand);

void BM_StepAndFillSamples(benchmark::State& state) {
  quiral::sim::RobotSim robot(ReadyRobot());
  robot.Set({{"mode", 9}});
  vek_msgs::msg::MotionCommands cmd;
  cmd.cartesian_commands().pose({0.3f, 0.1f, 0.6f, 0.0f, 1.0f, 0.0f, 0.0f});
  robot.ApplyMotionCommand(cmd);
  vek_msgs::msg::RealtimeStates rt;
  quiral_lumo_msgs::msg::AllBasicStreamData basic;
  quiral_lumo_msgs::msg::AllExtraStreamData extra;
  auto now = quiral::sim::Clock::now();
  for (auto _ : state) {
    now += std::chrono::milliseconds(4);
    robot.Step(now, rt, basic, extra);
    benchmark::DoNotOptimize(basic);
  }
}
BENCHMARK(BM_StepAndFillSamples);

}  // namespace

BENCHMARK_MAIN();
