// Round trip of one operations request through FastDDSRpcClient, beside the
// same round trip written directly against the DDS library (write, echo,
// take) with the same QoS, both against one echo server in another process.
// Prints the two mean round-trip times as figures (bench/support/figures.h).
//
// Run inside the network namespace:
//   scripts/netns-run build/bin/middleware_rpc_round_trip_bench
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fastdds/dds/core/condition/StatusCondition.hpp>
#include <fastdds/dds/core/condition/WaitSet.hpp>
#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/publisher/Publisher.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/SampleInfo.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/topic/Topic.hpp>

#include "bench/support/figure_reporter.h"
#include "bench/support/figures.h"
#include "middleware/default_node.h"
#include "middleware/fast_dds_rpc_client.h"
#include "middleware/fast_dds_subscriber.h"
#include "middleware/qos_profiles.h"
#include "middleware/rpc_deadline.h"
#include "middleware/endpoint_match.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "tests/middleware/support/child_process.h"
#include "tests/middleware/support/test_domain.h"

namespace {

namespace dds = eprosima::fastdds::dds;
namespace mw = quiral::middleware2;
using ReqType = vek_msgs::msg::RPCRequestPubSubType;
using RepType = vek_msgs::msg::RPCReplyPubSubType;
using Request = vek_msgs::msg::RPCRequest;
using Reply = vek_msgs::msg::RPCReply;

constexpr double kTimeoutSec = 2.0;

// A writer or reader of one topic with the link's default profile (the
// writer may publish synchronously).
dds::DataWriter* MakeWriter(dds::DomainParticipant* participant, dds::TypeSupport type,
                            const std::string& topic_name, bool sync, dds::Publisher** publisher,
                            dds::Topic** topic) {
  type.register_type(participant);
  *publisher = participant->create_publisher(dds::PUBLISHER_QOS_DEFAULT);
  *topic = participant->create_topic(topic_name, type.get_type_name(), dds::TOPIC_QOS_DEFAULT);
  dds::DataWriterQos qos = (*publisher)->get_default_datawriter_qos();
  mw::ApplyDefaultProfile(qos, mw::kDefaultQosDepth, "bench");
  if (sync) {
    qos.publish_mode().kind = dds::SYNCHRONOUS_PUBLISH_MODE;
  }
  dds::DataWriter* writer = (*publisher)->create_datawriter(*topic, qos);
  if (writer == nullptr) {
    throw std::runtime_error("bench: no writer");
  }
  return writer;
}

dds::DataReader* MakeReader(dds::DomainParticipant* participant, dds::TypeSupport type,
                            const std::string& topic_name, dds::Subscriber** subscriber,
                            dds::Topic** topic) {
  type.register_type(participant);
  *subscriber = participant->create_subscriber(dds::SUBSCRIBER_QOS_DEFAULT);
  *topic = participant->create_topic(topic_name, type.get_type_name(), dds::TOPIC_QOS_DEFAULT);
  dds::DataReaderQos qos = (*subscriber)->get_default_datareader_qos();
  mw::ApplyDefaultProfile(qos, mw::kDefaultQosDepth, "bench");
  dds::DataReader* reader = (*subscriber)->create_datareader(*topic, qos);
  if (reader == nullptr) {
    throw std::runtime_error("bench: no reader");
  }
  return reader;
}

// The server side: answers each request on the listener thread with a
// synchronous reliable writer.
class EchoService {
 public:
  EchoService(dds::DomainParticipant* participant, const std::string& topic)
      : participant_(participant) {
    writer_ = MakeWriter(participant, dds::TypeSupport(new RepType()), "rt/" + topic + "_reply",
                         true, &publisher_, &topic_);
    requests_ = std::make_shared<mw::FastDDSSubscriber<ReqType>>(
        participant, topic + "_request", [this] { Answer(); }, &request_, 1);
    requests_->InitializeDefaultProfile(mw::kDefaultQosDepth);
  }
  ~EchoService() {
    requests_.reset();
    publisher_->delete_datawriter(writer_);
    participant_->delete_publisher(publisher_);
    participant_->delete_topic(topic_);
  }

 private:
  void Answer() {
    reply_.procedure_id(request_.procedure_id());
    reply_.success(true);
    reply_.int_container(request_.int_args());
    reply_.float_container(request_.float_args());
    reply_.string_container(request_.string_args());
    mw::WaitForMatchedReader(writer_, mw::RpcDeadline(kTimeoutSec));
    writer_->write(&reply_);
  }

  dds::DomainParticipant* participant_;
  dds::Publisher* publisher_ = nullptr;
  dds::Topic* topic_ = nullptr;
  dds::DataWriter* writer_ = nullptr;
  Request request_;
  Reply reply_;
  std::shared_ptr<mw::FastDDSSubscriber<ReqType>> requests_;
};

int RunEchoServer(uint32_t domain, const std::string& rpc_topic, const std::string& raw_topic) {
  mw::DefaultNode node("bench_echo_server", 0, domain, quiral_test::kLoopbackOnly);
  {
    EchoService rpc(node.participant, rpc_topic);
    EchoService raw(node.participant, raw_topic);
    std::cout << "ready" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
  }
  return 0;
}

// The same round trip written directly against the library: write the
// request, wait on the reader's data-available condition, take the reply.
class RawRoundTrip {
 public:
  RawRoundTrip(dds::DomainParticipant* participant, const std::string& topic)
      : participant_(participant) {
    writer_ = MakeWriter(participant, dds::TypeSupport(new ReqType()), "rt/" + topic + "_request",
                         false, &publisher_, &request_topic_);
    reader_ = MakeReader(participant, dds::TypeSupport(new RepType()), "rt/" + topic + "_reply",
                         &subscriber_, &reply_topic_);
    reader_->get_statuscondition().set_enabled_statuses(dds::StatusMask::data_available());
    wait_set_.attach_condition(reader_->get_statuscondition());
  }
  ~RawRoundTrip() {
    wait_set_.detach_condition(reader_->get_statuscondition());
    subscriber_->delete_datareader(reader_);
    publisher_->delete_datawriter(writer_);
    participant_->delete_subscriber(subscriber_);
    participant_->delete_publisher(publisher_);
    participant_->delete_topic(request_topic_);
    participant_->delete_topic(reply_topic_);
  }

  bool Call(const Request& request, Reply& reply) {
    if (!writer_->write(const_cast<Request*>(&request))) {
      return false;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(kTimeoutSec);
    dds::SampleInfo info;
    for (;;) {
      if (reader_->take_next_sample(&reply, &info) == ReturnCode_t::RETCODE_OK &&
          info.valid_data) {
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        return false;
      }
      dds::ConditionSeq active;
      wait_set_.wait(active, eprosima::fastrtps::Duration_t(
                                 static_cast<int32_t>(left.count() / 1000000000),
                                 static_cast<uint32_t>(left.count() % 1000000000)));
    }
  }

 private:
  dds::DomainParticipant* participant_;
  dds::Publisher* publisher_ = nullptr;
  dds::Topic* request_topic_ = nullptr;
  dds::DataWriter* writer_ = nullptr;
  dds::Subscriber* subscriber_ = nullptr;
  dds::Topic* reply_topic_ = nullptr;
  dds::DataReader* reader_ = nullptr;
  dds::WaitSet wait_set_;
};

Request TypicalRequest() {
  Request request;
  request.procedure_id(7);
  request.int_args({2});
  request.float_args({0.25f, 0.5f});
  request.string_args({"IDLE"});
  return request;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--echo-server") {
    return RunEchoServer(static_cast<uint32_t>(std::stoul(argv[2])), argv[3], argv[4]);
  }
  benchmark::Initialize(&argc, argv);

  const uint32_t domain = quiral_test::TestDomain();
  const std::string rpc_topic = quiral_test::UniqueTopic("bench_rpc");
  const std::string raw_topic = quiral_test::UniqueTopic("bench_raw");
  quiral_test::ChildProcess server(
      "/proc/self/exe", {"--echo-server", std::to_string(domain), rpc_topic, raw_topic});
  if (!server.ExpectLine("ready", std::chrono::seconds(20))) {
    std::cerr << "echo server did not start\n";
    return 1;
  }

  int status = 0;
  {
    mw::DefaultNode node("bench_client", 0, domain, quiral_test::kLoopbackOnly);
    mw::FastDDSRpcClient<ReqType, RepType> rpc(node.participant, rpc_topic);
    RawRoundTrip raw(node.participant, raw_topic);
    const Request request = TypicalRequest();

    // Both paths answer before measuring starts (first calls also wait for
    // discovery).
    Reply reply;
    bool rpc_ready = false;
    bool raw_ready = false;
    for (int attempt = 0; attempt < 10 && !(rpc_ready && raw_ready); ++attempt) {
      rpc_ready = rpc_ready || rpc.SendRequestAndGetReply(request, reply, kTimeoutSec);
      raw_ready = raw_ready || raw.Call(request, reply);
    }
    if (!rpc_ready || !raw_ready) {
      std::cerr << "no answer from the echo server\n";
      return 1;
    }

    // The two alternate, a few times each, so that a slow spell of the
    // machine weighs on both alike.
    constexpr int kRounds = 4;
    for (int round = 0; round < kRounds; ++round) {
      benchmark::RegisterBenchmark("RpcClientRoundTrip", [&](benchmark::State& state) {
        Reply answer;
        for (auto _ : state) {
          if (!rpc.SendRequestAndGetReply(request, answer, kTimeoutSec)) {
            state.SkipWithError("call timed out");
            break;
          }
        }
      })->UseRealTime()->MinTime(1.0);
      benchmark::RegisterBenchmark("RawDdsRoundTrip", [&](benchmark::State& state) {
        Reply answer;
        for (auto _ : state) {
          if (!raw.Call(request, answer)) {
            state.SkipWithError("call timed out");
            break;
          }
        }
      })->UseRealTime()->MinTime(1.0);
    }

    quiral::bench::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double rpc_mean = reporter.RealNs("RpcClientRoundTrip");
    const double raw_mean = reporter.RealNs("RawDdsRoundTrip");
    if (rpc_mean > 0 && raw_mean > 0) {
      quiral::bench::PrintFigure("rpc.mw_client.mean", rpc_mean * 1e-3, "us");
      quiral::bench::PrintFigure("rpc.mw_raw.mean", raw_mean * 1e-3, "us");
    } else {
      std::fprintf(stderr, "round trip: a benchmark did not complete\n");
      status = 1;
    }
  }
  return status;
}
