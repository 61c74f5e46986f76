// CPU of one connected robot client, idle and streaming joint commands at
// 1 kHz, beside a raw client written directly against the DDS library with
// the same participants, the same subscriptions (real-time states, both
// data streams, the event log, both request/reply pairs) and the same
// heartbeat every 10 ms; streaming, it writes the same message with a
// best-effort writer of the same QoS. What the robot client adds beyond
// that (its monitor threads, its snapshots) is the difference.
//
// Each client runs in a child process of its own against the simulator
// (started here), so that getrusage sees that client alone; the robot
// client and the raw one are measured at the same time, so that the
// machine's load weighs on both alike. Figures:
// cpu.<robot|raw>_<idle|stream> in percent of one core, each followed by
// a comment line with the split of its window over the child's threads.
//
// Run inside the network namespace:
//   scripts/netns-run build-bench/bin/vek_cpu_bench [--quick]
#include <pthread.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/figures.h"
#include "bench/support/raw_dds.h"
#include "client/vek_client.h"
#include "middleware/default_node.h"
#include "middleware/realtime_udp_node.h"
#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"
#include "msgs/quiral_lumo_msgs/event_log.h"
#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"
#include "msgs/std_msgs/bool.h"
#include "msgs/vek_msgs/motion_commands.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "tests/support/child_process.h"
#include "tests/support/sim_process.h"
#include "vek/robot.h"

namespace {

using namespace std::chrono_literals;
using quiral::bench::NowNs;
using quiral::bench::RawProfile;
using quiral::bench::RawReader;
using quiral::bench::RawWriter;
namespace dds = eprosima::fastdds::dds;

const std::vector<std::string> kLoopback = {"127.0.0.1"};
const std::vector<double> kHome = {0.0, -0.7, 0.0, 1.57, 0.0, 0.7, 0.0};
constexpr int64_t kPeriodNs = 1000000;

// A reader that takes every sample into a buffer of its own, on the
// listener thread: the least a client can do with a subscription.
template <class Support>
std::unique_ptr<RawReader> Taker(dds::DomainParticipant* participant, const std::string& topic,
                                 RawProfile profile) {
  auto buffer = std::make_shared<typename Support::type>();
  return std::make_unique<RawReader>(participant, dds::TypeSupport(new Support()), topic, profile,
                                     [buffer](dds::DataReader* reader) {
                                       while (RawReader::Take(reader, buffer.get())) {
                                       }
                                     });
}

// The raw client of one robot: endpoints as the robot client makes them.
class RawClient {
 public:
  explicit RawClient(const std::string& serial)
      : suffix_(quiral::vek_impl::TopicSuffix(serial)),
        default_node_("bench_raw_default", 0, quiral::vek_impl::kDdsDomainId, kLoopback),
        rt_node_("bench_raw_rt", quiral::vek_impl::kDdsDomainId, kLoopback) {
    dds::DomainParticipant* rt = rt_node_.participant;
    dds::DomainParticipant* dflt = default_node_.participant;
    heartbeat_ =
        std::make_unique<RawWriter>(rt, dds::TypeSupport(new std_msgs::msg::BoolPubSubType()),
                                    "rt/quiral_vek/heartbeat/" + suffix_, RawProfile::kRealtime);
    commands_ = std::make_unique<RawWriter>(
        rt, dds::TypeSupport(new vek_msgs::msg::MotionCommandsPubSubType()),
        "rt/quiral_vek/motion_commands/" + suffix_, RawProfile::kRealtimeSync);
    readers_.push_back(Taker<vek_msgs::msg::RealtimeStatesPubSubType>(
        rt, "rt/quiral_vek/rt_states/" + suffix_, RawProfile::kRealtime));
    readers_.push_back(Taker<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(
        rt, "rt/quiral_lumo/basic_stream_data/" + suffix_, RawProfile::kRealtime));
    readers_.push_back(Taker<quiral_lumo_msgs::msg::AllExtraStreamDataPubSubType>(
        rt, "rt/quiral_lumo/extra_stream_data/" + suffix_, RawProfile::kRealtime));
    readers_.push_back(Taker<quiral_lumo_msgs::msg::EventLogPubSubType>(
        dflt, "rt/quiral_lumo/robot_log/" + suffix_, RawProfile::kReliable));
    AddService<vek_msgs::msg::RPCRequestPubSubType, vek_msgs::msg::RPCReplyPubSubType>(
        dflt, "rt/quiral_vek/RPC/" + suffix_);
    AddService<quiral_lumo_msgs::msg::RPCRequestPubSubType,
               quiral_lumo_msgs::msg::RPCReplyPubSubType>(
        dflt, "rt/quiral_lumo/non_stream_rpc/" + suffix_);
    heartbeat_thread_ = std::thread([this] {
      pthread_setname_np(pthread_self(), "raw_heartbeat");
      const std_msgs::msg::Bool beat{};
      while (!stop_.load()) {
        heartbeat_->Write(&beat);
        std::this_thread::sleep_for(10ms);
      }
    });
    commands_->WaitMatched(5s);
    auto& joints = command_.joint_commands();
    joints.position().resize(7);
    joints.velocity().assign(7, 0.0f);
    joints.acceleration().assign(7, 0.0f);
    joints.torque().assign(7, 0.0f);
  }
  ~RawClient() {
    stop_.store(true);
    heartbeat_thread_.join();
  }

  void Stream(int cycle) {
    command_.sequence_num(static_cast<uint64_t>(cycle));
    auto& position = command_.joint_commands().position();
    for (size_t j = 0; j < 7; ++j) position[j] = static_cast<float>(kHome[j]);
    position[0] = static_cast<float>(0.2 * std::sin(cycle * 1e-3));
    commands_->Write(&command_);
  }

 private:
  template <class Req, class Rep>
  void AddService(dds::DomainParticipant* participant, const std::string& topic) {
    writers_.push_back(std::make_unique<RawWriter>(participant, dds::TypeSupport(new Req()),
                                                   topic + "_request", RawProfile::kReliable));
    readers_.push_back(Taker<Rep>(participant, topic + "_reply", RawProfile::kReliable));
  }

  std::string suffix_;
  quiral::middleware2::DefaultNode default_node_;
  quiral::middleware2::RealtimeUdpNode rt_node_;
  std::unique_ptr<RawWriter> heartbeat_, commands_;
  std::vector<std::unique_ptr<RawWriter>> writers_;
  std::vector<std::unique_ptr<RawReader>> readers_;
  vek_msgs::msg::MotionCommands command_;
  std::atomic<bool> stop_{false};
  std::thread heartbeat_thread_;
};

// Says "ready", waits for a line on standard input, then runs for `window`
// (streaming at 1 kHz through `stream` when given) and prints the CPU it
// took in percent of one core.
void MeasureCpu(const std::string& name, std::chrono::milliseconds window,
                const std::function<void(int)>& stream) {
  std::cout << "ready" << std::endl;
  std::string go;
  std::getline(std::cin, go);
  const auto threads_before = quiral::bench::ThreadCpuTimes();
  const double cpu0 = quiral::bench::ProcessCpuSeconds();
  const int64_t t0 = NowNs(), end = t0 + window.count() * 1000000;
  int cycle = 0;
  for (int64_t next = t0 + kPeriodNs; next < end; next += kPeriodNs) {
    quiral::bench::SleepUntilNs(stream ? next : end);
    if (!stream) break;
    stream(++cycle);
  }
  const double cpu = quiral::bench::ProcessCpuSeconds() - cpu0;
  const double wall = static_cast<double>(NowNs() - t0) * 1e-9;
  quiral::bench::PrintFigure(name, 100.0 * cpu / wall, "%");
  std::cout << "# " << name << " threads (ms/runs): "
            << quiral::bench::ThreadCpuSplit(threads_before, quiral::bench::ThreadCpuTimes())
            << std::endl;
}

int RunChild(const std::string& client, bool streaming, const std::string& serial,
             std::chrono::milliseconds window) {
  spdlog::set_level(spdlog::level::warn);
  const std::string name = "cpu." + client + (streaming ? "_stream" : "_idle");
  if (client == "robot") {
    quiral::vek::Robot robot(serial, kLoopback, /*verbose=*/false, /*lite=*/false);
    const std::vector<double> zeros(7, 0.0);
    std::vector<double> target = kHome;
    if (streaming) {
      robot.SwitchMode(quiral::vek::Mode::RT_JOINT_POSITION);
      if (!quiral::test::WaitUntil(
              [&] { return robot.mode() == quiral::vek::Mode::RT_JOINT_POSITION; }, 3s)) {
        return 1;
      }
    }
    std::function<void(int)> stream;
    if (streaming) {
      stream = [&](int cycle) {
        target[0] = 0.2 * std::sin(cycle * 1e-3);
        robot.StreamJointPosition(target, zeros, zeros);
      };
    }
    MeasureCpu(name, window, stream);
    if (streaming) robot.SwitchMode(quiral::vek::Mode::IDLE);
  } else {
    RawClient raw(serial);
    std::function<void(int)> stream;
    if (streaming) stream = [&](int cycle) { raw.Stream(cycle); };
    MeasureCpu(name, window, stream);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--child") {
    return RunChild(argv[2], std::string(argv[3]) == "stream", argv[4],
                    std::chrono::milliseconds(std::stoi(argv[5])));
  }
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  const std::string window_ms = quick ? "2000" : "5000";
  using quiral::test::UniqueSerial;
  const std::vector<std::string> serials = {UniqueSerial(), UniqueSerial(), UniqueSerial(),
                                            UniqueSerial()};
  quiral::test::SimProcess sim(serials, {"--initial-state", "ready", "--motion-detail", "0"});
  size_t next_serial = 0;
  for (const char* load : {"idle", "stream"}) {
    std::vector<std::unique_ptr<quiral_test::ChildProcess>> children;
    for (const char* client : {"robot", "raw"}) {
      children.push_back(std::make_unique<quiral_test::ChildProcess>(
          "/proc/self/exe",
          std::vector<std::string>{"--child", client, load, serials[next_serial++], window_ms}));
    }
    for (auto& child : children) {
      if (!child->ExpectLine("ready", 30s)) {
        std::cerr << "cpu " << load << ": a client did not start\n";
        return 1;
      }
    }
    for (auto& child : children) child->WriteLine("go");
    // Passes the children's figure lines on; each ends when its child does.
    for (auto& child : children) {
      while (const auto line = child->ReadLine(30s)) std::cout << *line << std::endl;
      if (child->Wait(10s).value_or(-1) != 0) {
        std::cerr << "cpu " << load << ": a client failed\n";
        return 1;
      }
    }
  }
  return 0;
}
