// The other end of the request/reply client's destruction test: a separate
// process with its own participant that takes requests and, answering none
// in particular, writes replies as fast as it can, each with the integer n,
// the text "flood <n>" and 4096 raw bytes n mod 256, until its input ends
// or reads "quit". Prints "ready" once its endpoints exist.
//   usage: middleware_peer flood <domain> <topic>
#include <atomic>
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

namespace mw = quiral::middleware2;

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() != 3 || args[0] != "flood") {
    std::cerr << "usage: middleware_peer flood DOMAIN TOPIC\n";
    return 2;
  }
  mw::DefaultNode node("peer_server", 0, static_cast<uint32_t>(std::stoul(args[1])), {"127.0.0.1"});
  auto replies = std::make_shared<mw::FastDDSPublisher<vek_msgs::msg::RPCReplyPubSubType>>(
      node.participant, args[2] + "_reply");
  replies->InitializeDefaultProfile(mw::kDefaultQosDepth);
  vek_msgs::msg::RPCRequest request;
  auto requests = std::make_shared<mw::FastDDSSubscriber<vek_msgs::msg::RPCRequestPubSubType>>(
      node.participant, args[2] + "_request", [] {}, &request, 1);
  requests->InitializeDefaultProfile(mw::kDefaultQosDepth);
  std::atomic<bool> stop{false};
  std::thread flooder([&] {
    vek_msgs::msg::RPCReply reply;
    for (int32_t n = 1; !stop.load(); ++n) {
      reply.int_container({n});
      reply.string_container({"flood " + std::to_string(n)});
      reply.raw_bytes_container().assign(4096, static_cast<uint8_t>(n & 0xff));
      // Waits (2 s at most) for the client's reader, then writes.
      mw::WaitForMatchedReader(replies->writer(), mw::RpcDeadline(2.0));
      replies->Publish(reply);
    }
  });
  std::cout << "ready" << std::endl;
  std::string line;
  while (std::getline(std::cin, line) && line != "quit") {
  }
  stop.store(true);
  flooder.join();
  requests.reset();
  return 0;
}
