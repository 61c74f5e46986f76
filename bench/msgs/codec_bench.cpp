// Encode and decode through the type-support classes, as Fast-DDS calls
// them on its threads: the real-time states (1 kHz per robot), a typical
// and a file-carrying operations request, and the basic data stream. The
// anchor of each is a plain copy of its encoded bytes. Prints the figures
// of the two largest messages (see bench/support/figures.h).
#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "msgs/vek_msgs/rpc_request.h"

#include <benchmark/benchmark.h>
#include <fastdds/rtps/common/SerializedPayload.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bench/support/figure_reporter.h"
#include "bench/support/figures.h"

namespace {

using eprosima::fastrtps::rtps::SerializedPayload_t;

vek_msgs::msg::RealtimeStates States() {
  vek_msgs::msg::RealtimeStates states;
  states.system_status().program_running(true);
  states.system_status().timeliness_failures(12);
  states.system_status().ctrl_mode(3);
  states.gripper_states().width(0.04f);
  states.gripper_states().force(10.0f);
  return states;
}

vek_msgs::msg::RPCRequest Request(size_t file_bytes) {
  vek_msgs::msg::RPCRequest request;
  request.procedure_id(27);
  request.int_args({1, 0, 3});
  request.float_args({0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f});
  request.string_args({"PLAN-MoveJ", "default"});
  request.long_string_arg("target=[0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7] vel=0.5 acc=1.0");
  request.raw_bytes_arg(std::vector<uint8_t>(file_bytes, 0x5A));
  request.tool_params().name("flange");
  return request;
}

quiral_lumo_msgs::msg::AllBasicStreamData BasicStream() {
  quiral_lumo_msgs::msg::AllBasicStreamData sample;
  const std::vector<float> seven = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f};
  auto& j = sample.joint();
  for (std::vector<float>* seq :
       {&j.link_position(), &j.motor_position(), &j.link_velocity(), &j.motor_velocity(), &j.torque(),
        &j.torque_dot(), &j.torque_ext(), &j.torque_interact(), &j.torque_des(), &j.temperature(),
        &j.link_contact_force(), &j.link_contact_pos()}) {
    *seq = seven;
  }
  sample.cartesian().tcp_pose()[3] = 1.0f;
  sample.server_time().sec(1700000000);
  return sample;
}

template <class PubSubType>
void Encode(benchmark::State& state, typename PubSubType::type message) {
  PubSubType support;
  SerializedPayload_t payload(support.getSerializedSizeProvider(&message)());
  for (auto _ : state) {
    const bool ok = support.serialize(&message, &payload);
    benchmark::DoNotOptimize(ok);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * payload.length);
}

template <class PubSubType>
void Decode(benchmark::State& state, typename PubSubType::type message) {
  PubSubType support;
  SerializedPayload_t payload(support.getSerializedSizeProvider(&message)());
  if (!support.serialize(&message, &payload)) {
    state.SkipWithError("encoding failed");
    return;
  }
  typename PubSubType::type decoded;
  for (auto _ : state) {
    const bool ok = support.deserialize(&payload, &decoded);
    benchmark::DoNotOptimize(ok);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * payload.length);
}

// A copy of the encoded bytes into a buffer of the same size.
template <class PubSubType>
void Copy(benchmark::State& state, typename PubSubType::type message) {
  PubSubType support;
  SerializedPayload_t payload(support.getSerializedSizeProvider(&message)());
  if (!support.serialize(&message, &payload)) {
    state.SkipWithError("encoding failed");
    return;
  }
  std::vector<unsigned char> copy(payload.length);
  for (auto _ : state) {
    std::memcpy(copy.data(), payload.data, payload.length);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * payload.length);
}

void EncodeRealtimeStates(benchmark::State& s) { Encode<vek_msgs::msg::RealtimeStatesPubSubType>(s, States()); }
void DecodeRealtimeStates(benchmark::State& s) { Decode<vek_msgs::msg::RealtimeStatesPubSubType>(s, States()); }
void EncodeRPCRequest(benchmark::State& s) {
  Encode<vek_msgs::msg::RPCRequestPubSubType>(s, Request(static_cast<size_t>(s.range(0))));
}
void DecodeRPCRequest(benchmark::State& s) {
  Decode<vek_msgs::msg::RPCRequestPubSubType>(s, Request(static_cast<size_t>(s.range(0))));
}
void CopyRPCRequest(benchmark::State& s) {
  Copy<vek_msgs::msg::RPCRequestPubSubType>(s, Request(static_cast<size_t>(s.range(0))));
}
void EncodeAllBasicStreamData(benchmark::State& s) {
  Encode<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(s, BasicStream());
}
void DecodeAllBasicStreamData(benchmark::State& s) {
  Decode<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(s, BasicStream());
}
void CopyAllBasicStreamData(benchmark::State& s) {
  Copy<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(s, BasicStream());
}

BENCHMARK(EncodeRealtimeStates);
BENCHMARK(DecodeRealtimeStates);
BENCHMARK(EncodeRPCRequest)->Arg(0)->Arg(1000000);
BENCHMARK(DecodeRPCRequest)->Arg(0)->Arg(1000000);
BENCHMARK(CopyRPCRequest)->Arg(1000000);
BENCHMARK(EncodeAllBasicStreamData);
BENCHMARK(DecodeAllBasicStreamData);
BENCHMARK(CopyAllBasicStreamData);

}  // namespace

int main(int argc, char** argv) {
  quiral::bench::FigureReporter reporter;
  if (!quiral::bench::RunBenchmarks(&argc, argv, reporter)) return 1;
  for (const auto& [step, figure] : {std::pair<std::string, std::string>{"Encode", "encode"},
                                     {"Decode", "decode"},
                                     {"Copy", "copy"}}) {
    quiral::bench::PrintFigure("codec." + figure + ".rpc_1mb",
                               reporter.CpuNs(step + "RPCRequest/1000000") * 1e-3, "us");
    quiral::bench::PrintFigure("codec." + figure + ".basic_stream",
                               reporter.CpuNs(step + "AllBasicStreamData"), "ns");
  }
  return 0;
}
