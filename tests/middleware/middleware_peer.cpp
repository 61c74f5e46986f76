// The other end of the middleware tests: a separate process with its own
// participant, driven by one command per line on its standard input
// ("quit" or the end of input stops it). Every role prints "ready" once
// its endpoints exist; all traffic uses the operations service's messages.
//   publish <domain> <topic>: "wait-match" -> "matched"/"no-match" (10 s);
//       "send N" -> requests with ids 1..N and the text "sample <id>", "sent N"
//   echo <domain> <topic> <delay_ms>: answers each request on <topic>_reply
//       after the delay with its id, success and its lists; never answers
//       with a negative delay; "delay D" -> "delay D" sets the delay
//   flood <domain> <topic>: writes replies as fast as it can, each with the
//       integer n, the text "flood <n>" and 4096 raw bytes n mod 256
//   echo and flood: "count" -> "count N", the requests taken so far
#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "middleware/default_node.h"
#include "middleware/endpoint_match.h"
#include "middleware/fast_dds_publisher.h"
#include "middleware/fast_dds_subscriber.h"
#include "middleware/qos_profiles.h"
#include "middleware/rpc_deadline.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"

namespace {

namespace mw = quiral::middleware2;
using vek_msgs::msg::RPCReply;
using vek_msgs::msg::RPCRequest;

const std::vector<std::string> kLoopback = {"127.0.0.1"};

void Say(const std::string& line) { std::cout << line << std::endl; }

// Runs `on_command` for every input line until the input ends or "quit".
template <class OnCommand>
void ServeCommands(const OnCommand& on_command) {
  std::string line;
  while (std::getline(std::cin, line) && line != "quit") {
    on_command(line);
  }
}

int Publish(uint32_t domain, const std::string& topic) {
  mw::DefaultNode node("peer_publisher", 0, domain, kLoopback);
  auto publisher = std::make_shared<mw::FastDDSPublisher<vek_msgs::msg::RPCRequestPubSubType>>(
      node.participant, topic);
  publisher->InitializeDefaultProfile(mw::kDefaultQosDepth);
  Say("ready");
  ServeCommands([&](const std::string& line) {
    if (line == "wait-match") {
      Say(mw::WaitForMatchedReader(publisher->writer(), mw::RpcDeadline(10.0)) ? "matched"
                                                                               : "no-match");
    } else if (line.rfind("send ", 0) == 0) {
      const int count = std::stoi(line.substr(5));
      for (int id = 1; id <= count; ++id) {
        RPCRequest sample;
        sample.procedure_id(static_cast<uint16_t>(id));
        sample.string_args({"sample " + std::to_string(id)});
        publisher->Publish(sample);
      }
      Say("sent " + std::to_string(count));
    }
  });
  return 0;
}

int Serve(uint32_t domain, const std::string& topic, int initial_delay_ms, bool flood) {
  std::atomic<int> delay_ms{initial_delay_ms};
  mw::DefaultNode node("peer_server", 0, domain, kLoopback);
  auto replies = std::make_shared<mw::FastDDSPublisher<vek_msgs::msg::RPCReplyPubSubType>>(
      node.participant, topic + "_reply");
  replies->InitializeDefaultProfile(mw::kDefaultQosDepth);
  // Waits (2 s at most) for the client's reader, then writes.
  const auto write = [&](const RPCReply& reply) {
    mw::WaitForMatchedReader(replies->writer(), mw::RpcDeadline(2.0));
    replies->Publish(reply);
  };
  RPCRequest request;
  std::atomic<uint64_t> count{0};
  auto requests = std::make_shared<mw::FastDDSSubscriber<vek_msgs::msg::RPCRequestPubSubType>>(
      node.participant, topic + "_request",
      [&] {
        ++count;
        if (flood || delay_ms < 0) {
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms.load()));
        RPCReply reply;
        reply.procedure_id(request.procedure_id());
        reply.success(true);
        reply.int_container(request.int_args());
        reply.float_container(request.float_args());
        reply.string_container(request.string_args());
        reply.raw_bytes_container(request.raw_bytes_arg());
        reply.tool_params(request.tool_params());
        write(reply);
      },
      &request, 1);
  requests->InitializeDefaultProfile(mw::kDefaultQosDepth);

  std::atomic<bool> stop{false};
  std::thread flooder([&] {
    RPCReply reply;
    for (int32_t n = 1; flood && !stop.load(); ++n) {
      reply.int_container({n});
      reply.string_container({"flood " + std::to_string(n)});
      reply.raw_bytes_container().assign(4096, static_cast<uint8_t>(n & 0xff));
      write(reply);
    }
  });
  Say("ready");
  ServeCommands([&](const std::string& line) {
    if (line == "count") {
      Say("count " + std::to_string(count.load()));
    } else if (line.rfind("delay ", 0) == 0) {
      delay_ms.store(std::stoi(line.substr(6)));
      Say(line);
    }
  });
  stop.store(true);
  flooder.join();
  requests.reset();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 3) {
    std::cerr << "usage: middleware_peer ROLE DOMAIN TOPIC [ARG]\n";
    return 2;
  }
  const std::string& role = args[0];
  const uint32_t domain = static_cast<uint32_t>(std::stoul(args[1]));
  if (role == "publish") {
    return Publish(domain, args[2]);
  }
  if (role == "echo" && args.size() == 4) {
    return Serve(domain, args[2], std::stoi(args[3]), false);
  }
  if (role == "flood") {
    return Serve(domain, args[2], 0, true);
  }
  std::cerr << "middleware_peer: unknown role or arguments\n";
  return 2;
}
