// Streamed joint-position commands at 1 kHz for two arms against the
// simulated controller: through the public API (Robot::StreamJointPosition,
// checks, conversion and publish) and, as the anchor, the same message
// written directly by a best-effort data writer of the same QoS, one
// participant per arm, to two other controllers of the same simulator.
// Both send in every 1 ms cycle, in turn first, so that the machine's load
// weighs on both alike.
//
// Figures: stream.<api|raw>.p50/p99, the cost of one command on the
// caller's thread in microseconds (the 1 ms pacing sleep is not counted),
// and stream.<api|raw>.missed, the sequence numbers 1..sent that never
// reached the simulator, over both arms.
//
// Run inside the network namespace, which the simulator requires:
//   scripts/netns-run build-bench/bin/vek_motion_bench [--quick]
#include <spdlog/spdlog.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "bench/support/figures.h"
#include "bench/support/raw_dds.h"
#include "client/vek_client.h"
#include "middleware/realtime_udp_node.h"
#include "msgs/vek_msgs/motion_commands.h"
#include "tests/support/sim_process.h"
#include "vek/robot.h"

namespace {

using namespace std::chrono_literals;
using quiral::bench::NowNs;
using quiral::test::SimProcess;
using quiral::test::WaitUntil;
using quiral::vek::Mode;
using quiral::vek::Robot;

constexpr int64_t kPeriodNs = 1000000;  // 1 kHz
const std::vector<double> kHome = {0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0};
const std::vector<std::string> kLoopback = {"127.0.0.1"};

size_t RecordedTotal(SimProcess& sim, const std::string& serial) {
  return sim
      .Command("motion_commands",
               {{"serial", serial}, {"since", size_t{1} << 40}, {"compact", true}})["total"]
      .get<size_t>();
}

// Sequence numbers 1..sent the simulator never received for `serial`,
// reading its records from `since` on.
int64_t Missed(SimProcess& sim, const std::string& serial, size_t since, int sent) {
  // Best effort: give late samples a moment, then count what is there.
  WaitUntil([&] { return RecordedTotal(sim, serial) >= since + static_cast<size_t>(sent); }, 2s,
            20ms);
  const nlohmann::json reply = sim.Command(
      "motion_commands", {{"serial", serial}, {"since", since}, {"compact", true}}, 10s);
  std::set<uint64_t> seen;
  for (const auto& seq : reply["seqs"]) {
    const auto s = seq.get<uint64_t>();
    if (s >= 1 && s <= static_cast<uint64_t>(sent)) seen.insert(s);
  }
  return sent - static_cast<int64_t>(seen.size());
}

// One way of streaming to two arms: `send(arm, cycle)` sends one command.
struct Streamer {
  std::string name;
  std::vector<std::string> serials;
  std::function<void(size_t, int)> send;
  std::vector<size_t> since;
  std::vector<double> cost_us;
  int sent = 0;
};

void Send(Streamer& streamer) {
  ++streamer.sent;
  for (size_t arm = 0; arm < streamer.serials.size(); ++arm) {
    const int64_t t0 = NowNs();
    streamer.send(arm, streamer.sent);
    streamer.cost_us.push_back(static_cast<double>(NowNs() - t0) * 1e-3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  const int commands = quick ? 2000 : 5000;
  spdlog::set_level(spdlog::level::warn);
  using quiral::test::UniqueSerial;
  const std::vector<std::string> api_serials = {UniqueSerial("Varno4"), UniqueSerial("Varno10")};
  const std::vector<std::string> raw_serials = {UniqueSerial("Varno4"), UniqueSerial("Varno10")};
  std::vector<std::string> all = api_serials;
  all.insert(all.end(), raw_serials.begin(), raw_serials.end());
  SimProcess sim(all, {"--initial-state", "ready", "--motion-detail", "0"});

  std::vector<std::unique_ptr<Robot>> arms;
  for (const auto& serial : api_serials) {
    arms.push_back(std::make_unique<Robot>(serial, kLoopback, /*verbose=*/false, /*lite=*/false));
    arms.back()->SwitchMode(Mode::RT_JOINT_POSITION);
    if (!WaitUntil([&] { return arms.back()->mode() == Mode::RT_JOINT_POSITION; }, 3s) ||
        !sim.WaitMatched(serial, 5s, {"motion_commands"})) {
      std::cerr << "robot not ready for streaming\n";
      return 1;
    }
  }
  const std::vector<double> zeros(7, 0.0);
  std::vector<double> target = kHome;
  Streamer api{"stream.api",
               api_serials,
               [&](size_t arm, int cycle) {
                 // A slow sine on joint 0, so that the commands differ.
                 target[0] = 0.2 * std::sin(static_cast<double>(cycle) * 1e-3);
                 arms[arm]->StreamJointPosition(target, zeros, zeros);
               },
               {},
               {},
               0};

  // Like the robots: a participant per arm, and controllers in the same
  // mode, so that both ends do the same work per command.
  std::vector<std::unique_ptr<quiral::middleware2::RealtimeUdpNode>> nodes;
  std::vector<std::unique_ptr<quiral::bench::RawWriter>> writers;
  for (const auto& serial : raw_serials) {
    sim.Set(serial, {{"mode", sim.State(api_serials[0])["mode"]}});
    nodes.push_back(std::make_unique<quiral::middleware2::RealtimeUdpNode>(
        "bench_raw_writer", quiral::vek_impl::kDdsDomainId, kLoopback));
    writers.push_back(std::make_unique<quiral::bench::RawWriter>(
        nodes.back()->participant,
        eprosima::fastdds::dds::TypeSupport(new vek_msgs::msg::MotionCommandsPubSubType()),
        "rt/quiral_vek/motion_commands/" + quiral::vek_impl::TopicSuffix(serial),
        quiral::bench::RawProfile::kRealtimeSync));
    if (!writers.back()->WaitMatched(5s) || !sim.WaitMatched(serial, 5s, {"motion_commands"})) {
      std::cerr << "raw writer not matched\n";
      return 1;
    }
  }
  vek_msgs::msg::MotionCommands message;
  auto& joints = message.joint_commands();
  joints.position().resize(7);
  joints.velocity().assign(7, 0.0f);
  joints.acceleration().assign(7, 0.0f);
  joints.torque().assign(7, 0.0f);
  Streamer raw{"stream.raw",
               raw_serials,
               [&](size_t arm, int cycle) {
                 message.sequence_num(static_cast<uint64_t>(cycle));
                 for (size_t j = 0; j < 7; ++j) joints.position()[j] = static_cast<float>(kHome[j]);
                 joints.position()[0] = static_cast<float>(0.2 * std::sin(cycle * 1e-3));
                 writers[arm]->Write(&message);
               },
               {},
               {},
               0};

  for (Streamer* s : {&api, &raw}) {
    for (const auto& serial : s->serials) s->since.push_back(RecordedTotal(sim, serial));
  }
  int64_t next = NowNs() + kPeriodNs;
  for (int cycle = 0; cycle < commands; ++cycle) {
    quiral::bench::SleepUntilNs(next);
    next += kPeriodNs;
    Send(cycle % 2 == 0 ? api : raw);
    Send(cycle % 2 == 0 ? raw : api);
  }
  for (Streamer* s : {&api, &raw}) {
    int64_t missed = 0;
    for (size_t arm = 0; arm < s->serials.size(); ++arm) {
      missed += Missed(sim, s->serials[arm], s->since[arm], s->sent);
    }
    quiral::bench::PrintPercentiles(s->name, s->cost_us, "us");
    quiral::bench::PrintFigure(s->name + ".missed", static_cast<double>(missed), "commands");
  }
  for (auto& arm : arms) arm->SwitchMode(Mode::IDLE);
  return 0;
}
