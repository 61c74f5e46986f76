// The simulator as a separate process, seen from a peer that plays the
// client's side of the link through the DDS layer: periodic states, both
// services, fault rules, heartbeats, motion commands, and two controllers
// in one process.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <numeric>
#include <thread>

#include "middleware/default_node.h"
#include "middleware/endpoint_match.h"
#include "middleware/fast_dds_publisher.h"
#include "middleware/fast_dds_subscriber.h"
#include "middleware/qos_profiles.h"
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
#include "tests/support/sim_process.h"

namespace quiral::test {
namespace {

namespace dds = eprosima::fastdds::dds;
namespace mw = quiral::middleware2;
namespace lumo = quiral_lumo_msgs::msg;
namespace vek = vek_msgs::msg;
using namespace std::chrono_literals;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

// Unique to this test process: tests run in parallel on one domain.
const std::string kSerial = UniqueSerial("Varno4");
const std::string kSerial2 = UniqueSerial("Varno10");

template <class Message>
struct Received {
  Clock::time_point t;
  Message msg;
};

// A reader with the client's profile that keeps every sample it takes.
template <class Support>
class Inbox {
 public:
  using Message = typename Support::type;

  Inbox(dds::DomainParticipant* participant, const std::string& topic, bool reliable)
      : reader_(std::make_shared<mw::FastDDSSubscriber<Support>>(
            participant, topic,
            [this] {
              std::lock_guard<std::mutex> lock(mutex_);
              items_.push_back({Clock::now(), buffer_});
            },
            &buffer_, 1)) {
    reliable ? reader_->InitializeDefaultProfile(mw::kDefaultQosDepth)
             : reader_->InitializeRealtimeSocketProfile();
  }

  std::vector<Received<Message>> Copy() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {items_.begin(), items_.end()};
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_.size();
  }
  Message Last() { return Copy().back().msg; }
  dds::DataReader* reader() const { return reader_->reader(); }

 private:
  Message buffer_;
  std::mutex mutex_;
  std::deque<Received<Message>> items_;
  std::shared_ptr<mw::FastDDSSubscriber<Support>> reader_;  // goes first
};

template <class Support>
using Outbox = std::shared_ptr<mw::FastDDSPublisher<Support>>;

// 0: reliable; 1: best effort, written on the caller's thread; 2: best
// effort, written by the library's thread.
template <class Support>
Outbox<Support> MakeOutbox(dds::DomainParticipant* participant, const std::string& topic, int profile) {
  auto writer = std::make_shared<mw::FastDDSPublisher<Support>>(participant, topic);
  profile == 0 ? writer->InitializeDefaultProfile(mw::kDefaultQosDepth)
               : writer->InitializeRealtimeSocketProfile(profile == 1);
  return writer;
}

// The client's side of one serial number: its two participants on domain
// 10, its topics and its profiles.
class Peer {
 public:
  explicit Peer(const std::string& serial) : s_(Suffix(serial)) {}

  bool WaitMatched(std::chrono::milliseconds timeout) {
    const mw::RpcDeadline deadline(std::chrono::duration<double>(timeout).count());
    for (dds::DataWriter* w : {heartbeat->writer(), motion->writer(), ops->writer(), data->writer()}) {
      if (!mw::WaitForMatchedReader(w, deadline)) return false;
    }
    for (dds::DataReader* r : {rt_states.reader(), ops_replies.reader(), basic.reader(), extra.reader(),
                               events.reader(), data_replies.reader()}) {
      if (!mw::WaitForMatchedWriter(r, deadline)) return false;
    }
    return true;
  }

  // Sends a request and waits for the first reply that arrives after it,
  // whatever id it carries; false at the deadline.
  template <class Request, class Reply>
  static bool Call(Outbox<Request>& out, Inbox<Reply>& in, const typename Request::type& request,
                   typename Reply::type& reply, std::chrono::milliseconds timeout = 5s) {
    const size_t before = in.Count();
    if (!out->Publish(request) || !WaitUntil([&] { return in.Count() > before; }, timeout)) return false;
    reply = in.Copy()[before].msg;
    return true;
  }
  bool CallOps(const vek::RPCRequest& request, vek::RPCReply& reply, std::chrono::milliseconds timeout = 5s) {
    return Call(ops, ops_replies, request, reply, timeout);
  }

 private:
  static std::string Suffix(std::string serial) {
    std::replace(serial.begin(), serial.end(), '-', '_');
    return serial;
  }

  const std::string s_;
  mw::DefaultNode def_{"quiral_vek_default_node", 0, 10, {"127.0.0.1"}};
  mw::RealtimeUdpNode rt_{"quiral_vek_rt_udp_node", 10, {"127.0.0.1"}};

 public:
  Outbox<std_msgs::msg::BoolPubSubType> heartbeat = MakeOutbox<std_msgs::msg::BoolPubSubType>(
      rt_.participant, "quiral_vek/heartbeat/" + s_, 2);
  Outbox<vek::MotionCommandsPubSubType> motion = MakeOutbox<vek::MotionCommandsPubSubType>(
      rt_.participant, "quiral_vek/motion_commands/" + s_, 1);
  Inbox<vek::RealtimeStatesPubSubType> rt_states{rt_.participant, "quiral_vek/rt_states/" + s_, false};
  Outbox<vek::RPCRequestPubSubType> ops =
      MakeOutbox<vek::RPCRequestPubSubType>(def_.participant, "quiral_vek/RPC/" + s_ + "_request", 0);
  Inbox<vek::RPCReplyPubSubType> ops_replies{def_.participant, "quiral_vek/RPC/" + s_ + "_reply", true};
  Inbox<lumo::AllBasicStreamDataPubSubType> basic{rt_.participant, "quiral_lumo/basic_stream_data/" + s_,
                                                  false};
  Inbox<lumo::AllExtraStreamDataPubSubType> extra{rt_.participant, "quiral_lumo/extra_stream_data/" + s_,
                                                  false};
  Inbox<lumo::EventLogPubSubType> events{def_.participant, "quiral_lumo/robot_log/" + s_, true};
  Outbox<lumo::RPCRequestPubSubType> data = MakeOutbox<lumo::RPCRequestPubSubType>(
      def_.participant, "quiral_lumo/non_stream_rpc/" + s_ + "_request", 0);
  Inbox<lumo::RPCReplyPubSubType> data_replies{def_.participant,
                                               "quiral_lumo/non_stream_rpc/" + s_ + "_reply", true};
};

vek::RPCRequest OpsRequest(uint16_t id, std::vector<int32_t> ints = {}, const std::string& text = "") {
  vek::RPCRequest r;
  r.procedure_id(id);
  r.int_args(ints);
  r.long_string_arg(text);
  return r;
}

// Streams motion commands with the given sequence numbers at 1 kHz.
void StreamMotion(Peer& peer, uint64_t first, uint64_t last, vek::MotionCommands cmd = {}) {
  auto next = Clock::now();
  for (uint64_t seq = first; seq <= last; ++seq) {
    cmd.sequence_num(seq);
    EXPECT_TRUE(peer.motion->Publish(cmd));
    next += 1ms;
    std::this_thread::sleep_until(next);
  }
}

class SimDdsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer_.WaitMatched(15s)) << "the peer did not discover the simulator";
    ASSERT_TRUE(sim_.WaitMatched(kSerial, 15s)) << "the simulator did not discover the peer";
  }

  SimProcess sim_{std::vector<std::string>{kSerial}};
  Peer peer_{kSerial};
};

TEST_F(SimDdsTest, StatesHeartbeatsAndMotionCommands) {
  sim_.Set(kSerial, {{"mode", 5}, {"timeliness_failures", 42}, {"safety_board_state", 12},
                     {"system_state", 4}, {"estop", false}, {"program_running", true},
                     {"gripper", {{"width", 0.04}, {"force", 12.5}, {"is_moving", true}}}});
  const auto set_at = Clock::now();
  ASSERT_TRUE(WaitUntil(
      [&] {
        const auto rt = peer_.rt_states.Copy();
        return !rt.empty() && rt.back().t > set_at + 20ms && rt.back().msg.system_status().ctrl_mode() == 5;
      },
      5s));
  // The samples of one second.
  const size_t before = peer_.rt_states.Count();
  const auto start = Clock::now();
  ASSERT_TRUE(WaitUntil([&] { return Clock::now() - start >= 1s; }, 3s, 50ms));
  EXPECT_GE(peer_.rt_states.Count() - before, 100u);
  const vek::RealtimeStates rt = peer_.rt_states.Last();
  EXPECT_EQ(rt.system_status().timeliness_failures(), 42u);
  EXPECT_TRUE(rt.system_status().program_running());
  EXPECT_FLOAT_EQ(rt.gripper_states().width(), 0.04f);
  EXPECT_FLOAT_EQ(rt.gripper_states().force(), 12.5f);
  EXPECT_TRUE(rt.gripper_states().is_moving());
  const lumo::AllBasicStreamData basic = peer_.basic.Last();
  EXPECT_EQ(basic.system_status().safety_state(), 12);
  EXPECT_EQ(basic.system_status().system_state(), 4);
  EXPECT_FALSE(basic.system_status().safety_inputs()[7]);
  EXPECT_EQ(basic.joint().link_position().size(), 7u);
  EXPECT_NE(basic.server_time().sec(), 0);

  // The simulator may have matched the peer's writer before the writer has
  // matched the simulator's reader; best-effort samples sent before that are
  // dropped. Send until one is counted, then let the ones still on their
  // way arrive before counting.
  const auto heartbeats = [&] { return sim_.State(kSerial)["heartbeats"]["count"].get<int>(); };
  ASSERT_TRUE(WaitUntil([&] { return peer_.heartbeat->Publish(std_msgs::msg::Bool()) && heartbeats() > 0; },
                        5s, 10ms));
  int first = heartbeats();
  ASSERT_TRUE(WaitUntil(
      [&] {
        const int now = heartbeats();
        return std::exchange(first, now) == now;
      },
      5s, 100ms));
  for (int i = 0; i < 30; ++i) {
    ASSERT_TRUE(peer_.heartbeat->Publish(std_msgs::msg::Bool()));
    std::this_thread::sleep_for(10ms);  // paced like the client's heartbeat
  }
  // Best effort: on a loaded machine one may be lost, never counted twice.
  WaitUntil([&] { return heartbeats() == first + 30; }, 2s);
  const int counted = heartbeats();
  EXPECT_GE(counted, first + 27);
  EXPECT_LE(counted, first + 30);
  const auto times = sim_.Command("heartbeats", {{"serial", kSerial}})["t_ns"].get<std::vector<uint64_t>>();
  EXPECT_EQ(times.size(), static_cast<size_t>(counted));
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));

  // Motion commands in a ready robot are recorded, and the joint follows.
  vek::MotionCommands cmd;
  cmd.joint_commands().position({0.1f, -0.7f, 0.0f, 1.57f, 0.0f, 0.7f, 0.0f});
  cmd.joint_commands().velocity(std::vector<float>(7, 0.0f));
  StreamMotion(peer_, 1, 500, cmd);
  ASSERT_TRUE(sim_.WaitForState(kSerial, [](const json& s) { return s["motion_commands"] == 500; }, 5s));
  std::vector<uint64_t> expected(500);
  std::iota(expected.begin(), expected.end(), 1);
  const json compact = sim_.MotionCommands(kSerial, 0, true);
  EXPECT_EQ(compact["seqs"].get<std::vector<uint64_t>>(), expected);
  EXPECT_EQ(compact["applied"], 500);
  const json full = sim_.Command("motion_commands", {{"serial", kSerial}, {"since", 499}});
  ASSERT_EQ(full["items"].size(), 1u);
  EXPECT_EQ(full["items"][0]["sequence_num"], 500);
  EXPECT_FLOAT_EQ(full["items"][0]["joint"]["position"][0].get<float>(), 0.1f);
  EXPECT_TRUE(sim_.WaitForState(
      kSerial, [](const json& s) { return std::abs(s["joints"]["position"][0].get<double>() - 0.1) < 1e-3; },
      5s));
}

TEST_F(SimDdsTest, ServicesRepliesRecordsEventsAndFaultRules) {
  vek::RPCReply reply;
  ASSERT_TRUE(peer_.CallOps(OpsRequest(3), reply));
  EXPECT_EQ(reply.procedure_id(), 3u);
  EXPECT_TRUE(reply.success());
  EXPECT_EQ(reply.string_container(), std::vector<std::string>{"v1.9.3"});
  ASSERT_TRUE(peer_.CallOps(OpsRequest(6), reply));
  EXPECT_EQ(reply.int_container(), (std::vector<int32_t>{0, 7, 7, 1}));  // DoF_e, DoF_m, DoF
  ASSERT_EQ(reply.float_container().size(), 28u);
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_GT(reply.float_container()[i], reply.float_container()[7 + i]) << "q_max > q_min, joint " << i;
    EXPECT_GT(reply.float_container()[21 + i], 0.0f) << "tau_max, joint " << i;
  }
  lumo::RPCRequest data;
  data.request_id(1);
  lumo::RPCReply data_reply;
  ASSERT_TRUE(Peer::Call(peer_.data, peer_.data_replies, data, data_reply));
  EXPECT_EQ(data_reply.request_id(), 1);
  EXPECT_EQ(data_reply.string_container(), std::vector<std::string>{"LUMO:v1.4"});
  // Every request is recorded with what it carried.
  ASSERT_TRUE(peer_.CallOps(OpsRequest(7, {5}), reply));
  EXPECT_FALSE(reply.success()) << "a disabled robot refuses a non-idle mode";
  const json recorded = sim_.Requests(kSerial);
  ASSERT_EQ(recorded["total"], 3);
  EXPECT_EQ(recorded["items"][2]["procedure_id"], 7);
  EXPECT_EQ(recorded["items"][2]["int_args"], json::array({5}));
  EXPECT_EQ(sim_.DataRequests(kSerial)["items"][0]["request_id"], 1);

  sim_.Command("event", {{"serial", kSerial}, {"level", 3}, {"event_id", 1234},
                         {"description", "Joint 3 overheated"}, {"consequences", "stop"}});
  ASSERT_TRUE(WaitUntil([&] { return peer_.events.Count() > 0; }, 5s));
  const lumo::EventLog event = peer_.events.Last();
  EXPECT_EQ(event.level(), 3);
  EXPECT_EQ(event.id(), 1234);
  EXPECT_EQ(event.description(), "Joint 3 overheated");
  EXPECT_EQ(event.consequences(), "stop");

  // A stored file comes with its CRC-32.
  ASSERT_TRUE(peer_.CallOps(OpsRequest(62, {}, "sample.traj"), reply));
  ASSERT_TRUE(reply.success());
  const uint32_t crc = sim_.Command("files", {{"serial", kSerial}, {"store", "trajectory"}})["files"][0]["crc32"];
  EXPECT_EQ(reply.int_container(), std::vector<int32_t>{static_cast<int32_t>(crc)});

  // Fault rules: no reply once, a wrong id (equal in the low 16 bits), a
  // late reply, a refusal the robot does not act on, a bad CRC-32, and two
  // copies of a data-service reply.
  sim_.Fault(kSerial, {{"service", "ops"}, {"procedure_id", 3}, {"kind", "no_reply"}});
  EXPECT_FALSE(peer_.CallOps(OpsRequest(3), reply, 700ms));
  ASSERT_TRUE(peer_.CallOps(OpsRequest(3), reply));
  EXPECT_EQ(reply.procedure_id(), 3u);
  sim_.Fault(kSerial, {{"procedure_id", 3}, {"kind", "wrong_id"}, {"reply_id", 3 + 65536}});
  ASSERT_TRUE(peer_.CallOps(OpsRequest(3), reply));
  EXPECT_EQ(reply.procedure_id(), 3u + 65536u);
  sim_.Fault(kSerial, {{"procedure_id", 1}, {"kind", "fail"}});
  ASSERT_TRUE(peer_.CallOps(OpsRequest(1), reply));
  EXPECT_FALSE(reply.success());
  EXPECT_EQ(sim_.State(kSerial)["safety_board_state"], 72);
  sim_.Fault(kSerial, {{"procedure_id", 62}, {"kind", "bad_crc"}});
  ASSERT_TRUE(peer_.CallOps(OpsRequest(62, {}, "sample.traj"), reply));
  EXPECT_EQ(reply.int_container(), std::vector<int32_t>{static_cast<int32_t>(~crc)});
  sim_.Fault(kSerial, {{"procedure_id", "all"}, {"kind", "late_reply"}, {"delay_ms", 600}});
  const size_t replies = peer_.ops_replies.Count();
  const auto sent = Clock::now();
  ASSERT_TRUE(peer_.ops->Publish(OpsRequest(3)));
  ASSERT_TRUE(WaitUntil([&] { return peer_.ops_replies.Count() > replies; }, 5s));
  EXPECT_GE(peer_.ops_replies.Copy()[replies].t - sent, 600ms);
  sim_.Fault(kSerial, {{"service", "data"}, {"kind", "duplicate_reply"}, {"copies", 2}});
  ASSERT_TRUE(peer_.data->Publish(data));
  EXPECT_TRUE(WaitUntil([&] { return peer_.data_replies.Count() == 3; }, 5s));
  EXPECT_TRUE(sim_.State(kSerial)["faults"].empty()) << "count-limited rules are used up";
}

TEST(SimTwoControllersTest, TwoSerialNumbersDoNotCrossTalk) {
  SimProcess sim(std::vector<std::string>{kSerial, kSerial2});
  Peer a(kSerial);
  Peer b(kSerial2);
  ASSERT_TRUE(a.WaitMatched(15s) && b.WaitMatched(15s));
  ASSERT_TRUE(sim.WaitMatched(kSerial, 15s) && sim.WaitMatched(kSerial2, 15s));
  sim.Set(kSerial, {{"mode", 3}});
  sim.Set(kSerial2, {{"mode", 9}});
  ASSERT_TRUE(WaitUntil(
      [&] {
        return a.rt_states.Count() > 0 && b.rt_states.Count() > 0 &&
               a.rt_states.Last().system_status().ctrl_mode() == 3 &&
               b.rt_states.Last().system_status().ctrl_mode() == 9;
      },
      5s));

  // Both streams at 1 kHz at the same time, each to its own controller.
  std::thread second([&] { StreamMotion(b, 100001, 100500); });
  StreamMotion(a, 1, 500);
  second.join();
  for (const auto& [serial, first] : {std::pair{kSerial, 1u}, std::pair{kSerial2, 100001u}}) {
    ASSERT_TRUE(sim.WaitForState(serial, [](const json& s) { return s["motion_commands"] == 500; }, 5s))
        << sim.State(serial)["motion_commands"];
    const auto seqs = sim.MotionCommands(serial, 0, true)["seqs"].get<std::vector<uint64_t>>();
    EXPECT_EQ(seqs.front(), first);
    EXPECT_EQ(seqs.back(), first + 499);
  }
  vek::RPCReply reply;
  ASSERT_TRUE(a.CallOps(OpsRequest(11), reply));
  EXPECT_EQ(sim.Requests(kSerial)["total"], 1);
  EXPECT_EQ(sim.Requests(kSerial2)["total"], 0);
  EXPECT_EQ(b.ops_replies.Count(), 0u);
}

}  // namespace
}  // namespace quiral::test
