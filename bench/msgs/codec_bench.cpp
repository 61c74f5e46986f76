// Encode and decode through the type-support classes, as Fast-DDS calls
// them on its threads: the real-time states (1 kHz per robot), a typical
// and a file-carrying operations request, and every message that carries
// lists. Prints the figures (see bench/support/figures.h) of the two
// largest messages, anchored on a plain copy of their encoded bytes, and
// of each message with lists encoded and decoded, its decoding anchored on
// its encoding.
#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"
#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/vek_msgs/joint_commands.h"
#include "msgs/vek_msgs/motion_commands.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "msgs/vek_msgs/rpc_reply.h"
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

// One value per joint of a 7-joint arm.
const std::vector<float> kSeven = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f};

quiral_lumo_msgs::msg::AllBasicStreamData BasicStream() {
  quiral_lumo_msgs::msg::AllBasicStreamData sample;
  auto& j = sample.joint();
  for (std::vector<float>* seq :
       {&j.link_position(), &j.motor_position(), &j.link_velocity(), &j.motor_velocity(),
        &j.torque(), &j.torque_dot(), &j.torque_ext(), &j.torque_interact(), &j.torque_des(),
        &j.temperature(), &j.link_contact_force(), &j.link_contact_pos()}) {
    *seq = kSeven;
  }
  sample.cartesian().tcp_pose()[3] = 1.0f;
  sample.server_time().sec(1700000000);
  return sample;
}

quiral_lumo_msgs::msg::AllExtraStreamData ExtraStream() {
  quiral_lumo_msgs::msg::AllExtraStreamData sample;
  sample.joint().position_des(kSeven);
  sample.joint().velocity_des(kSeven);
  sample.cartesian().tcp_pose_des()[3] = 1.0f;
  return sample;
}

vek_msgs::msg::JointCommands JointCommands() {
  vek_msgs::msg::JointCommands commands;
  for (std::vector<float>* seq :
       {&commands.torque(), &commands.position(), &commands.velocity(), &commands.acceleration(),
        &commands.max_vel(), &commands.max_acc()}) {
    *seq = kSeven;
  }
  commands.friction_comp_scale(1.0f);
  return commands;
}

vek_msgs::msg::CartesianCommands Waypoint(float x) {
  vek_msgs::msg::CartesianCommands waypoint;
  waypoint.pose() = {x, 0.2f, 0.3f, 1.0f, 0.0f, 0.0f, 0.0f};
  waypoint.max_linear_vel(0.5f);
  waypoint.max_angular_vel(1.0f);
  return waypoint;
}

// Joint commands and three Cartesian waypoints with their joint positions.
vek_msgs::msg::MotionCommands MotionCommands() {
  vek_msgs::msg::MotionCommands commands;
  commands.sequence_num(123456);
  commands.joint_commands(JointCommands());
  commands.cartesian_commands(Waypoint(0.4f));
  commands.cartesian_multi_commands({Waypoint(0.1f), Waypoint(0.2f), Waypoint(0.3f)});
  commands.joint_multi_positions({kSeven, kSeven, kSeven});
  return commands;
}

// The operations reply that lists a tool's numbers and names.
vek_msgs::msg::RPCReply OperationsReply() {
  vek_msgs::msg::RPCReply reply;
  reply.procedure_id(27);
  reply.success(true);
  reply.int_container({1, 0, 3});
  reply.float_container(kSeven);
  reply.string_container({"PLAN-MoveJ", "default"});
  reply.tool_params().name("flange");
  return reply;
}

// The data service's reply with the names and values of a joint's data.
quiral_lumo_msgs::msg::RPCReply DataReply() {
  quiral_lumo_msgs::msg::RPCReply reply;
  reply.request_id(12);
  reply.success(true);
  reply.string_container({"joint_position", "joint_velocity"});
  reply.float_container(kSeven);
  return reply;
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

// Encodes `message` once into `payload`, sized for it; false, with the
// benchmark marked failed, when that fails.
template <class PubSubType>
bool EncodeOnce(benchmark::State& state, PubSubType& support, typename PubSubType::type& message,
                SerializedPayload_t& payload) {
  payload.reserve(support.getSerializedSizeProvider(&message)());
  if (support.serialize(&message, &payload)) return true;
  state.SkipWithError("encoding failed");
  return false;
}

template <class PubSubType>
void Decode(benchmark::State& state, typename PubSubType::type message) {
  PubSubType support;
  SerializedPayload_t payload;
  if (!EncodeOnce(state, support, message, payload)) return;
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
  SerializedPayload_t payload;
  if (!EncodeOnce(state, support, message, payload)) return;
  std::vector<unsigned char> copy(payload.length);
  for (auto _ : state) {
    std::memcpy(copy.data(), payload.data, payload.length);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * payload.length);
}

void EncodeRealtimeStates(benchmark::State& s) {
  Encode<vek_msgs::msg::RealtimeStatesPubSubType>(s, States());
}
void DecodeRealtimeStates(benchmark::State& s) {
  Decode<vek_msgs::msg::RealtimeStatesPubSubType>(s, States());
}
void EncodeRPCRequest(benchmark::State& s) {
  Encode<vek_msgs::msg::RPCRequestPubSubType>(s, Request(static_cast<size_t>(s.range(0))));
}
void DecodeRPCRequest(benchmark::State& s) {
  Decode<vek_msgs::msg::RPCRequestPubSubType>(s, Request(static_cast<size_t>(s.range(0))));
}
void CopyRPCRequest(benchmark::State& s) {
  Copy<vek_msgs::msg::RPCRequestPubSubType>(s, Request(static_cast<size_t>(s.range(0))));
}
void CopyAllBasicStreamData(benchmark::State& s) {
  Copy<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(s, BasicStream());
}

BENCHMARK(EncodeRealtimeStates);
BENCHMARK(DecodeRealtimeStates);
BENCHMARK(EncodeRPCRequest)->Arg(0)->Arg(1000000);
BENCHMARK(DecodeRPCRequest)->Arg(0)->Arg(1000000);
BENCHMARK(CopyRPCRequest)->Arg(1000000);
BENCHMARK(CopyAllBasicStreamData);

// A message that carries lists: benchmarks "Encode<name>" and
// "Decode<name>", figures "codec.encode.<figure>" and "codec.decode.<figure>".
struct ListMessage {
  std::string name;
  std::string figure;
};

template <class PubSubType>
ListMessage RegisterListMessage(const std::string& name, const std::string& figure,
                                typename PubSubType::type (*sample)()) {
  benchmark::RegisterBenchmark(("Encode" + name).c_str(),
                               [sample](benchmark::State& s) { Encode<PubSubType>(s, sample()); });
  benchmark::RegisterBenchmark(("Decode" + name).c_str(),
                               [sample](benchmark::State& s) { Decode<PubSubType>(s, sample()); });
  return {name, figure};
}

std::vector<ListMessage> RegisterListMessages() {
  namespace lm = quiral_lumo_msgs::msg;
  namespace vm = vek_msgs::msg;
  return {
      RegisterListMessage<lm::AllBasicStreamDataPubSubType>("AllBasicStreamData", "basic_stream",
                                                            BasicStream),
      RegisterListMessage<lm::AllExtraStreamDataPubSubType>("AllExtraStreamData", "extra_stream",
                                                            ExtraStream),
      RegisterListMessage<vm::JointCommandsPubSubType>("JointCommands", "joint_commands",
                                                       JointCommands),
      RegisterListMessage<vm::MotionCommandsPubSubType>("MotionCommands", "motion_commands",
                                                        MotionCommands),
      RegisterListMessage<vm::RPCReplyPubSubType>("OperationsReply", "operations_reply",
                                                  OperationsReply),
      RegisterListMessage<lm::RPCReplyPubSubType>("DataReply", "data_reply", DataReply),
  };
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<ListMessage> list_messages = RegisterListMessages();
  quiral::bench::FigureReporter reporter;
  if (!quiral::bench::RunBenchmarks(&argc, argv, reporter)) return 1;
  for (const auto& [step, figure] : {std::pair<std::string, std::string>{"Encode", "encode"},
                                     {"Decode", "decode"},
                                     {"Copy", "copy"}}) {
    quiral::bench::PrintFigure("codec." + figure + ".rpc_1mb",
                               reporter.CpuNs(step + "RPCRequest/1000000") * 1e-3, "us");
  }
  quiral::bench::PrintFigure("codec.copy.basic_stream", reporter.CpuNs("CopyAllBasicStreamData"),
                             "ns");
  for (const ListMessage& message : list_messages) {
    quiral::bench::PrintFigure("codec.encode." + message.figure,
                               reporter.CpuNs("Encode" + message.name), "ns");
    quiral::bench::PrintFigure("codec.decode." + message.figure,
                               reporter.CpuNs("Decode" + message.name), "ns");
  }
  return 0;
}
