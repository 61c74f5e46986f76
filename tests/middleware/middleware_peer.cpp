// The other end of the middleware tests, run as a separate process with its
// own participant. Reads commands from standard input, one per line, and
// answers on standard output; exits when its input ends or on "quit".
//
//   middleware_peer publish <domain> <topic> <default|realtime-sync|realtime-async>
//       "wait-match" -> "matched" or "no-match" (10 s at most)
//       "send N"     -> publishes probes with seq 1..N, then "sent N"
//   middleware_peer echo <domain> <topic> <delay_ms>
//       answers every request on <topic>_request with the same probe on
//       <topic>_reply, after <delay_ms> milliseconds
//   middleware_peer vek-echo <domain> <topic> <delay_ms>
//       the same with the operations service's messages: the reply carries
//       the request's procedure id, success, and each argument list back
//   middleware_peer silent <domain> <topic>
//       takes requests and never answers; "count" -> "count N"
//   middleware_peer flood <domain> <topic>
//       writes replies on <topic>_reply as fast as it can: seq counts up,
//       the text is "flood <seq>" and every payload byte is seq mod 256;
//       requests on <topic>_request are taken and never answered
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
#include "middleware/writer_match.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "tests/middleware/support/probe_type.h"

namespace {

namespace dds = eprosima::fastdds::dds;
namespace mw = quiral::middleware2;
using quiral_test::msg::Probe;
using quiral_test::msg::ProbePubSubType;

const std::vector<std::string> kLoopback = {"127.0.0.1"};

void Say(const std::string& line) { std::cout << line << std::endl; }

// The servers' reply writer: the link's default profile, but publishing
// synchronously. The library's asynchronous reliable writer can deadlock
// when a reader goes away while the writer is busy, and the servers here see
// many clients come and go.
template <class T>
class ReplyWriter {
 public:
  ReplyWriter(dds::DomainParticipant* participant, const std::string& topic)
      : participant_(participant) {
    dds::TypeSupport type(new T());
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
  bool Write(const typename T::type& reply) {
    mw::WaitForMatchedReader(writer_, mw::RpcDeadline(2.0));
    return writer_->write(const_cast<typename T::type*>(&reply));
  }

 private:
  dds::DomainParticipant* participant_;
  dds::Publisher* publisher_ = nullptr;
  dds::Topic* topic_ = nullptr;
  dds::DataWriter* writer_ = nullptr;
};

// Runs `on_command` for every input line until the input ends or "quit".
template <class OnCommand>
void ServeCommands(const OnCommand& on_command) {
  std::string line;
  while (std::getline(std::cin, line) && line != "quit") {
    on_command(line);
  }
}

int Publish(uint32_t domain, const std::string& topic, const std::string& profile) {
  std::unique_ptr<mw::DefaultNode> default_node;
  std::unique_ptr<mw::RealtimeUdpNode> realtime_node;
  eprosima::fastdds::dds::DomainParticipant* participant = nullptr;
  if (profile == "default") {
    default_node = std::make_unique<mw::DefaultNode>("peer_default", 0, domain, kLoopback);
    participant = default_node->participant;
  } else {
    realtime_node = std::make_unique<mw::RealtimeUdpNode>("peer_realtime", domain, kLoopback);
    participant = realtime_node->participant;
  }
  {
    auto publisher = std::make_shared<mw::FastDDSPublisher<ProbePubSubType>>(participant, topic);
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
        const uint64_t count = std::stoull(line.substr(5));
        for (uint64_t seq = 1; seq <= count; ++seq) {
          Probe probe;
          probe.id = static_cast<uint32_t>(seq);
          probe.seq = seq;
          probe.text = "sample " + std::to_string(seq);
          publisher->Publish(probe);
        }
        Say("sent " + std::to_string(count));
      }
    });
  }
  return 0;
}

// The operations service's answer to a request: every argument list comes
// back in the matching container.
vek_msgs::msg::RPCReply AnswerOf(const vek_msgs::msg::RPCRequest& request) {
  vek_msgs::msg::RPCReply reply;
  reply.procedure_id(request.procedure_id());
  reply.success(true);
  reply.int_container(request.int_args());
  reply.float_container(request.float_args());
  reply.string_container(request.string_args());
  reply.raw_bytes_container(request.raw_bytes_arg());
  reply.tool_params(request.tool_params());
  return reply;
}

Probe AnswerOf(const Probe& request) { return request; }

template <class ReqT, class RepT>
int Echo(uint32_t domain, const std::string& topic, int delay_ms) {
  mw::DefaultNode node("peer_echo", 0, domain, kLoopback);
  ReplyWriter<RepT> replies(node.participant, topic + "_reply");
  typename ReqT::type request;
  auto on_request = [&] {
    if (delay_ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    }
    replies.Write(AnswerOf(request));
  };
  {
    auto requests = std::make_shared<mw::FastDDSSubscriber<ReqT>>(
        node.participant, topic + "_request", on_request, &request, 1);
    requests->InitializeDefaultProfile(mw::kDefaultQosDepth);
    Say("ready");
    ServeCommands([](const std::string&) {});
  }
  return 0;
}

int Silent(uint32_t domain, const std::string& topic) {
  mw::DefaultNode node("peer_silent", 0, domain, kLoopback);
  Probe request;
  std::atomic<uint64_t> count{0};
  {
    auto requests = std::make_shared<mw::FastDDSSubscriber<ProbePubSubType>>(
        node.participant, topic + "_request", [&] { ++count; }, &request, 1);
    requests->InitializeDefaultProfile(mw::kDefaultQosDepth);
    Say("ready");
    ServeCommands([&](const std::string& line) {
      if (line == "count") {
        Say("count " + std::to_string(count.load()));
      }
    });
  }
  return 0;
}

int Flood(uint32_t domain, const std::string& topic) {
  mw::DefaultNode node("peer_flood", 0, domain, kLoopback);
  ReplyWriter<ProbePubSubType> replies(node.participant, topic + "_reply");
  // Requests are taken and ignored; the reader lets clients' requests match.
  Probe request;
  auto requests = std::make_shared<mw::FastDDSSubscriber<ProbePubSubType>>(
      node.participant, topic + "_request", nullptr, &request, 1);
  requests->InitializeDefaultProfile(mw::kDefaultQosDepth);
  std::atomic<bool> stop{false};
  std::thread flooder([&] {
    Probe reply;
    for (uint64_t seq = 1; !stop.load(); ++seq) {
      reply.id = static_cast<uint32_t>(seq);
      reply.seq = seq;
      reply.text = "flood " + std::to_string(seq);
      reply.payload.assign(4096, static_cast<uint8_t>(seq & 0xff));
      replies.Write(reply);
    }
  });
  Say("ready");
  ServeCommands([](const std::string&) {});
  stop.store(true);
  flooder.join();
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
    return Echo<ProbePubSubType, ProbePubSubType>(domain, topic, std::stoi(args[3]));
  }
  if (role == "vek-echo" && args.size() == 4) {
    return Echo<vek_msgs::msg::RPCRequestPubSubType, vek_msgs::msg::RPCReplyPubSubType>(
        domain, topic, std::stoi(args[3]));
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
