// A remote call through the public API (Robot::plan_list) against the
// simulated controller, beside two anchors measured in the same run with
// the same request, the same QoS and the same reply payload:
//   raw_echo  a request written directly against the DDS library and
//             answered on the listener thread of another process (the
//             figure's anchor);
//   raw_sim   the same raw request answered by the simulator, so that the
//             simulator's own hop (its reply thread) is told apart from the
//             client's.
// The three take turns call by call, so that a slow spell of the machine
// weighs on all alike. Prints rpc.<path>.p50/p99 in microseconds.
//
// Run inside the network namespace:
//   scripts/netns-run build-bench/bin/vek_remote_call_bench
#include <spdlog/spdlog.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "bench/support/figures.h"
#include "bench/support/raw_dds.h"
#include "client/vek_client.h"
#include "middleware/default_node.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "tests/support/child_process.h"
#include "tests/support/sim_process.h"
#include "vek/robot.h"

namespace {

using namespace std::chrono_literals;
using quiral::bench::RawProfile;
using quiral::bench::RawReader;
using quiral::bench::RawWriter;
using Request = vek_msgs::msg::RPCRequest;
using Reply = vek_msgs::msg::RPCReply;
namespace dds = eprosima::fastdds::dds;

constexpr int kCalls = 2000;
const std::vector<std::string> kLoopback = {"127.0.0.1"};

dds::TypeSupport RequestType() {
  return dds::TypeSupport(new vek_msgs::msg::RPCRequestPubSubType());
}
dds::TypeSupport ReplyType() { return dds::TypeSupport(new vek_msgs::msg::RPCReplyPubSubType()); }

// Request/reply written directly against the library on "rt/" + topic +
// "_request" / "_reply": write, wait on the reader, take.
class RawCaller {
 public:
  RawCaller(dds::DomainParticipant* participant, const std::string& topic)
      : requests_(participant, RequestType(), "rt/" + topic + "_request", RawProfile::kReliable),
        replies_(participant, ReplyType(), "rt/" + topic + "_reply", RawProfile::kReliable) {}

  bool Call(const Request& request, Reply& reply, std::chrono::milliseconds timeout = 2000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (replies_.Take(&reply)) {
    }
    if (!requests_.Write(&request)) return false;
    while (!replies_.Take(&reply)) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      replies_.Wait(deadline);
    }
    return true;
  }

 private:
  RawWriter requests_;
  RawReader replies_;
};

// The echo process: answers each request on the listener thread with a
// reply carrying `texts`, as the simulator answers a plan list.
int RunEcho(const std::string& topic, std::vector<std::string> texts) {
  quiral::middleware2::DefaultNode node("bench_echo", 0, quiral::vek_impl::kDdsDomainId, kLoopback);
  RawWriter replies(node.participant, ReplyType(), "rt/" + topic + "_reply", RawProfile::kReliable);
  Request request;
  Reply reply;
  reply.success(true);
  reply.string_container(std::move(texts));
  RawReader requests(node.participant, RequestType(), "rt/" + topic + "_request",
                     RawProfile::kReliable, [&](dds::DataReader* reader) {
                       while (RawReader::Take(reader, &request)) {
                         reply.procedure_id(request.procedure_id());
                         replies.Write(&reply);
                       }
                     });
  std::cout << "ready" << std::endl;
  for (std::string line; std::getline(std::cin, line);) {
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--echo") {
    return RunEcho(argv[2], std::vector<std::string>(argv + 3, argv + argc));
  }
  spdlog::set_level(spdlog::level::warn);
  using quiral::test::UniqueSerial;
  const std::string api_serial = UniqueSerial("Varno4"), raw_serial = UniqueSerial("Varno4");
  quiral::test::SimProcess sim({api_serial, raw_serial}, {"--initial-state", "ready"});
  quiral::vek::Robot robot(api_serial, kLoopback, /*verbose=*/false, /*lite=*/false);

  quiral::middleware2::DefaultNode node("bench_raw_client", 0, quiral::vek_impl::kDdsDomainId,
                                        kLoopback);
  RawCaller to_sim(node.participant, "quiral_vek/RPC/" + quiral::vek_impl::TopicSuffix(raw_serial));
  Request request;
  request.procedure_id(23);  // the plan list, as Robot::plan_list sends it
  Reply reply;
  bool answered = false;
  for (int attempt = 0; attempt < 10 && !answered; ++attempt)
    answered = to_sim.Call(request, reply);
  if (!answered || robot.plan_list() != reply.string_container()) {
    std::cerr << "the simulator does not answer the raw plan list request alike\n";
    return 1;
  }

  const std::string echo_topic = "bench_echo/" + std::to_string(getpid());
  std::vector<std::string> echo_args = {"--echo", echo_topic};
  echo_args.insert(echo_args.end(), reply.string_container().begin(),
                   reply.string_container().end());
  quiral_test::ChildProcess echo("/proc/self/exe", echo_args);
  if (!echo.ExpectLine("ready", 20s)) {
    std::cerr << "the echo process did not start\n";
    return 1;
  }
  RawCaller to_echo(node.participant, echo_topic);
  answered = false;
  for (int attempt = 0; attempt < 10 && !answered; ++attempt)
    answered = to_echo.Call(request, reply);
  if (!answered) {
    std::cerr << "no answer from the echo process\n";
    return 1;
  }

  struct Path {
    const char* name;
    std::function<bool()> call;
    std::vector<double> us;
  };
  std::vector<Path> paths = {
      {"rpc.api_sim", [&] { return !robot.plan_list().empty(); }, {}},
      {"rpc.raw_sim", [&] { return to_sim.Call(request, reply); }, {}},
      {"rpc.raw_echo", [&] { return to_echo.Call(request, reply); }, {}},
  };
  for (int i = 0; i < kCalls; ++i) {
    for (size_t k = 0; k < paths.size(); ++k) {
      Path& path = paths[(i + k) % paths.size()];
      const int64_t t0 = quiral::bench::NowNs();
      if (!path.call()) {
        std::cerr << path.name << ": call failed\n";
        return 1;
      }
      path.us.push_back(static_cast<double>(quiral::bench::NowNs() - t0) * 1e-3);
    }
  }
  for (const Path& path : paths) quiral::bench::PrintPercentiles(path.name, path.us, "us");
  echo.CloseInput();
  return 0;
}
