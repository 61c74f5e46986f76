// The other end of the middleware tests, run as a separate process with its
// own participant. Reads commands from standard input, one per line, and
// answers on standard output; exits when its input ends or on "quit". All
// traffic uses the operations service's messages.
//
//   middleware_peer publish <domain> <topic> <default|realtime-sync|realtime-async>
//       "wait-match" -> "matched" or "no-match" (10 s at most)
//       "send N"     -> publishes requests with procedure ids 1..N, each
//                       with the one string argument "sample <id>", then
//                       "sent N"
//   middleware_peer echo <domain> <topic> <delay_ms>
//       answers every request on <topic>_request on <topic>_reply after
//       <delay_ms> milliseconds: the request's procedure id, success, and
//       each argument list back in the matching container
//   middleware_peer silent <domain> <topic>
//       takes requests and never answers (its reply writer exists);
//       "count" -> "count N"
//   middleware_peer flood <domain> <topic>
//       writes replies on <topic>_reply as fast as it can: the one integer
//       n counts up, the one string is "flood <n>" and every one of 4096
//       raw bytes is n mod 256; requests are taken and never answered
//
// Every role prints "ready" once its endpoints exist.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/publisher/Publisher.hpp>
#include <fastdds/dds/topic/Topic.hpp>

#include "middleware/default_node.h"
#include "middleware/fast_dds_publisher.h"
#include "middleware/fast_dds_subscriber.h"
#include "middleware/qos_profiles.h"
#include "middleware/realtime_udp_node.h"
#include "middleware/rpc_deadline.h"
#include "middleware/endpoint_match.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"

namespace {

namespace dds = eprosima::fastdds::dds;
namespace mw = quiral::middleware2;
using vek_msgs::msg::RPCReply;
using vek_msgs::msg::RPCReplyPubSubType;
using vek_msgs::msg::RPCRequest;
using vek_msgs::msg::RPCRequestPubSubType;

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

// The servers' reply writer: the link's default profile, but publishing
// synchronously. The library's asynchronous reliable writer can deadlock
// when a reader goes away while the writer is busy, and the servers here see
// many clients come and go.
class ReplyWriter {
 public:
  ReplyWriter(dds::DomainParticipant* participant, const std::string& topic)
      : participant_(participant) {
    dds::TypeSupport type(new RPCReplyPubSubType());
    type.register_type(participant_);
    publisher_ = participant_->create_publisher(dds::PUBLISHER_QOS_DEFAULT);
    topic_ = participant_->create_topic("rt/" + topic, type.get_type_name(), dds::TOPIC_QOS_DEFAULT);
    dds::DataWriterQos qos = publisher_->get_default_datawriter_qos();
    mw::ApplyDefaultProfile(qos, mw::kDefaultQosDepth, "middleware_peer");
    qos.publish_mode().kind = dds::SYNCHRONOUS_PUBLISH_MODE;
    writer_ = publisher_->create_datawriter(topic_, qos);
    if (writer_ == nullptr) {
      throw std::runtime_error("middleware_peer: no reply writer");
    }
  }
  ~ReplyWriter() {
    publisher_->delete_datawriter(writer_);
    participant_->delete_publisher(publisher_);
    participant_->delete_topic(topic_);
  }

  // Waits (2 s at most) for the client's reader, then writes.
  bool Write(RPCReply& reply) {
    mw::WaitForMatchedReader(writer_, mw::RpcDeadline(2.0));
    return writer_->write(&reply);
  }

 private:
  dds::DomainParticipant* participant_;
  dds::Publisher* publisher_ = nullptr;
  dds::Topic* topic_ = nullptr;
  dds::DataWriter* writer_ = nullptr;
};

// A reader of requests; `on_request` runs on the listener thread and may
// read *request.
std::shared_ptr<mw::FastDDSSubscriber<RPCRequestPubSubType>> MakeRequestReader(
    dds::DomainParticipant* participant, const std::string& topic, RPCRequest* request,
    std::function<void()> on_request) {
  auto reader = std::make_shared<mw::FastDDSSubscriber<RPCRequestPubSubType>>(
      participant, topic + "_request", std::move(on_request), request, 1);
  reader->InitializeDefaultProfile(mw::kDefaultQosDepth);
  return reader;
}

int Publish(uint32_t domain, const std::string& topic, const std::string& profile) {
  std::unique_ptr<mw::DefaultNode> default_node;
  std::unique_ptr<mw::RealtimeUdpNode> realtime_node;
  dds::DomainParticipant* participant = nullptr;
  if (profile == "default") {
    default_node = std::make_unique<mw::DefaultNode>("peer_default", 0, domain, kLoopback);
    participant = default_node->participant;
  } else {
    realtime_node = std::make_unique<mw::RealtimeUdpNode>("peer_realtime", domain, kLoopback);
    participant = realtime_node->participant;
  }
  auto publisher = std::make_shared<mw::FastDDSPublisher<RPCRequestPubSubType>>(participant, topic);
  if (profile == "default") {
    publisher->InitializeDefaultProfile(mw::kDefaultQosDepth);
  } else {
    publisher->InitializeRealtimeSocketProfile(profile == "realtime-sync");
  }
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

int Echo(uint32_t domain, const std::string& topic, int delay_ms) {
  mw::DefaultNode node("peer_echo", 0, domain, kLoopback);
  ReplyWriter replies(node.participant, topic + "_reply");
  RPCRequest request;
  RPCReply reply;
  auto requests = MakeRequestReader(node.participant, topic, &request, [&] {
    if (delay_ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    }
    reply.procedure_id(request.procedure_id());
    reply.success(true);
    reply.int_container(request.int_args());
    reply.float_container(request.float_args());
    reply.string_container(request.string_args());
    reply.raw_bytes_container(request.raw_bytes_arg());
    reply.tool_params(request.tool_params());
    replies.Write(reply);
  });
  Say("ready");
  ServeCommands([](const std::string&) {});
  requests.reset();
  return 0;
}

int Silent(uint32_t domain, const std::string& topic) {
  mw::DefaultNode node("peer_silent", 0, domain, kLoopback);
  // A server that could answer but does not: its reply writer exists.
  ReplyWriter replies(node.participant, topic + "_reply");
  RPCRequest request;
  std::atomic<uint64_t> count{0};
  auto requests = MakeRequestReader(node.participant, topic, &request, [&] { ++count; });
  Say("ready");
  ServeCommands([&](const std::string& line) {
    if (line == "count") {
      Say("count " + std::to_string(count.load()));
    }
  });
  requests.reset();
  return 0;
}

int Flood(uint32_t domain, const std::string& topic) {
  mw::DefaultNode node("peer_flood", 0, domain, kLoopback);
  ReplyWriter replies(node.participant, topic + "_reply");
  // Requests are taken and ignored; the reader lets clients' requests match.
  RPCRequest request;
  auto requests = MakeRequestReader(node.participant, topic, &request, nullptr);
  std::atomic<bool> stop{false};
  std::thread flooder([&] {
    RPCReply reply;
    for (int32_t n = 1; !stop.load(); ++n) {
      reply.int_container({n});
      reply.string_container({"flood " + std::to_string(n)});
      reply.raw_bytes_container().assign(4096, static_cast<uint8_t>(n & 0xff));
      replies.Write(reply);
    }
  });
  Say("ready");
  ServeCommands([](const std::string&) {});
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
  const std::string& topic = args[2];
  if (role == "publish" && args.size() == 4) {
    return Publish(domain, topic, args[3]);
  }
  if (role == "echo" && args.size() == 4) {
    return Echo(domain, topic, std::stoi(args[3]));
  }
  if (role == "silent") {
    return Silent(domain, topic);
  }
  if (role == "flood") {
    return Flood(domain, topic);
  }
  std::cerr << "middleware_peer: unknown role or arguments\n";
  return 2;
}
