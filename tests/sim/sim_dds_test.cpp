// The simulator as a separate process, seen from a raw DDS peer that plays
// the client: periodic states, both services, fault rules, heartbeats,
// motion commands, and two controllers in one process.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <thread>

#include "tests/sim/dds_peer.h"
#include "tests/support/sim_process.h"

namespace quiral::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// Unique to this test process: tests run in parallel on one domain.
const std::string kSerial = UniqueSerial("Varno4");
const std::string kSerial2 = UniqueSerial("Varno10");

// Bit by bit, independent of the simulator's table-driven CRC-32.
uint32_t BitwiseCrc32(const std::vector<uint8_t>& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

vek_msgs::msg::RPCRequest OpsRequest(uint16_t id) {
  vek_msgs::msg::RPCRequest r;
  r.procedure_id(id);
  return r;
}

class SimDdsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = std::make_unique<SimProcess>(std::vector<std::string>{kSerial});
    peer_ = std::make_unique<DdsPeer>(kSerial);
    ASSERT_TRUE(peer_->WaitMatched(15s)) << "the peer did not discover the simulator";
    ASSERT_TRUE(sim_->WaitMatched(kSerial, 15s)) << "the simulator did not discover the peer";
  }

  std::unique_ptr<SimProcess> sim_;
  std::unique_ptr<DdsPeer> peer_;
};

TEST_F(SimDdsTest, RealtimeStatesArriveAtLeastAt100HzWithTheStateSet) {
  sim_->Set(kSerial, {{"mode", 5}, {"timeliness_failures", 42}, {"safety_board_state", 12},
                      {"system_state", 4}, {"estop", false}, {"enabling_button", true},
                      {"program_running", true},
                      {"gripper", {{"width", 0.04}, {"force", 12.5}, {"is_moving", true}}}});
  const auto set_at = PeerClock::now();
  ASSERT_TRUE(WaitUntil(
      [&] {
        auto rt = peer_->RtStates();
        return !rt.empty() && rt.back().t > set_at + 20ms && rt.back().msg.system_status().ctrl_mode() == 5;
      },
      5s));
  // Count the samples of one second.
  const size_t before = peer_->RtCount();
  const auto start = PeerClock::now();
  ASSERT_TRUE(WaitUntil([&] { return PeerClock::now() - start >= 1s; }, 3s, 50ms));
  const size_t in_one_second = peer_->RtCount() - before;
  EXPECT_GE(in_one_second, 100u);

  const auto rt = peer_->RtStates().back().msg;
  EXPECT_EQ(rt.system_status().ctrl_mode(), 5);
  EXPECT_EQ(rt.system_status().timeliness_failures(), 42u);
  EXPECT_TRUE(rt.system_status().program_running());
  EXPECT_FLOAT_EQ(rt.gripper_states().width(), 0.04f);
  EXPECT_FLOAT_EQ(rt.gripper_states().force(), 12.5f);
  EXPECT_TRUE(rt.gripper_states().is_moving());

  const auto basic = peer_->BasicStream().back().msg;
  EXPECT_EQ(basic.system_status().safety_state(), 12);
  EXPECT_EQ(basic.system_status().system_state(), 4);
  EXPECT_FALSE(basic.system_status().safety_inputs()[7]);
  EXPECT_TRUE(basic.system_status().safety_inputs()[5]);
  EXPECT_EQ(basic.joint().motor_velocity().size(), 7u);
  EXPECT_EQ(basic.joint().link_position().size(), 7u);
  EXPECT_NE(basic.server_time().sec(), 0);
}

TEST_F(SimDdsTest, OperationsAndDataServicesAnswerVersionsAndRobotInfo) {
  vek_msgs::msg::RPCReply reply;
  ASSERT_TRUE(peer_->CallOps(OpsRequest(3), reply, 5s));
  EXPECT_EQ(reply.procedure_id(), 3u);
  EXPECT_TRUE(reply.success());
  ASSERT_EQ(reply.string_container().size(), 1u);
  EXPECT_EQ(reply.string_container()[0], "v1.9.3");

  ASSERT_TRUE(peer_->CallOps(OpsRequest(6), reply, 5s));
  EXPECT_EQ(reply.procedure_id(), 6u);
  EXPECT_TRUE(reply.success());
  ASSERT_EQ(reply.int_container().size(), 4u);
  EXPECT_EQ(reply.int_container()[0], 0);  // DoF_e
  EXPECT_EQ(reply.int_container()[1], 7);  // DoF_m
  EXPECT_EQ(reply.int_container()[2], 7);  // DoF
  ASSERT_EQ(reply.float_container().size(), 28u);
  for (size_t i = 0; i < 7; ++i) {
    const float q_max = reply.float_container()[i];
    const float q_min = reply.float_container()[7 + i];
    EXPECT_GT(q_max, q_min) << "joint " << i;
    EXPECT_NE(q_min, 0.0f);
    EXPECT_NE(reply.float_container()[14 + i], 0.0f);  // joint_limit_3
    EXPECT_GT(reply.float_container()[21 + i], 0.0f);  // tau_max
  }
  ASSERT_EQ(reply.string_container().size(), 1u);

  quiral_lumo_msgs::msg::RPCRequest data;
  data.request_id(1);
  quiral_lumo_msgs::msg::RPCReply data_reply;
  ASSERT_TRUE(peer_->CallData(data, data_reply, 5s));
  EXPECT_EQ(data_reply.request_id(), 1);
  EXPECT_TRUE(data_reply.success());
  ASSERT_EQ(data_reply.string_container().size(), 1u);
  const std::string version = data_reply.string_container()[0];
  EXPECT_EQ(version.substr(version.find(':') + 1), "v1.4");

  // Every request is recorded with what it carried.
  vek_msgs::msg::RPCRequest mode = OpsRequest(7);
  mode.int_args({5});
  ASSERT_TRUE(peer_->CallOps(mode, reply, 5s));
  EXPECT_FALSE(reply.success()) << "a disabled robot refuses a non-idle mode";
  const json recorded = sim_->Requests(kSerial);
  ASSERT_EQ(recorded["total"], 3);
  EXPECT_EQ(recorded["items"][2]["procedure_id"], 7);
  EXPECT_EQ(recorded["items"][2]["int_args"], json::array({5}));
  EXPECT_EQ(sim_->DataRequests(kSerial)["items"][0]["request_id"], 1);
}

TEST_F(SimDdsTest, FaultRulesDropDelayAndMislabelReplies) {
  vek_msgs::msg::RPCReply reply;
  // No reply, once.
  sim_->Fault(kSerial, {{"service", "ops"}, {"procedure_id", 3}, {"kind", "no_reply"}});
  EXPECT_FALSE(peer_->CallOps(OpsRequest(3), reply, 700ms));
  ASSERT_TRUE(peer_->CallOps(OpsRequest(3), reply, 5s));
  EXPECT_EQ(reply.procedure_id(), 3u);
  EXPECT_EQ(sim_->Requests(kSerial)["total"], 2);

  // Wrong id: equal in the low 16 bits only.
  sim_->Fault(kSerial, {{"procedure_id", 3}, {"kind", "wrong_id"}, {"reply_id", 3 + 65536}});
  ASSERT_TRUE(peer_->CallOps(OpsRequest(3), reply, 5s));
  EXPECT_EQ(reply.procedure_id(), 3u + 65536u);

  // Late reply.
  sim_->Fault(kSerial, {{"procedure_id", "all"}, {"kind", "late_reply"}, {"delay_ms", 600}});
  const size_t before = peer_->OpsReplyCount();
  const auto sent = PeerClock::now();
  ASSERT_TRUE(peer_->SendOps(OpsRequest(3)));
  ASSERT_TRUE(WaitUntil([&] { return peer_->OpsReplyCount() > before; }, 5s));
  EXPECT_GE(peer_->OpsReplies()[before].t - sent, 600ms);

  // Refused: success false, and the robot does not act on it.
  sim_->Fault(kSerial, {{"procedure_id", 1}, {"kind", "fail"}});
  ASSERT_TRUE(peer_->CallOps(OpsRequest(1), reply, 5s));
  EXPECT_FALSE(reply.success());
  EXPECT_EQ(sim_->State(kSerial)["safety_board_state"], 72);

  // Two copies of one reply; the data service too.
  sim_->Fault(kSerial, {{"service", "data"}, {"kind", "duplicate_reply"}, {"copies", 2}});
  quiral_lumo_msgs::msg::RPCRequest data;
  data.request_id(1);
  ASSERT_TRUE(peer_->SendData(data));
  EXPECT_TRUE(WaitUntil([&] { return peer_->DataReplies().size() == 2; }, 5s));
  EXPECT_TRUE(sim_->State(kSerial)["faults"].empty()) << "count-limited rules are used up";
}

TEST_F(SimDdsTest, HeartbeatsAndMotionCommandsAreRecorded) {
  for (int i = 0; i < 30; ++i) {
    ASSERT_TRUE(peer_->SendHeartbeat());
    std::this_thread::sleep_for(10ms);  // the client's heartbeat period
  }
  ASSERT_TRUE(sim_->WaitForState(
      kSerial, [](const json& s) { return s["heartbeats"]["count"] == 30; }, 5s));
  const json hb = sim_->Command("heartbeats", {{"serial", kSerial}});
  ASSERT_EQ(hb["t_ns"].size(), 30u);
  const auto times = hb["t_ns"].get<std::vector<uint64_t>>();
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));

  // Motion commands in a ready robot, streamed at 1 kHz.
  sim_->Set(kSerial, {{"safety_board_state", 12}, {"system_state", 4}, {"mode", 5}});
  vek_msgs::msg::MotionCommands cmd;
  cmd.joint_commands().position({0.1f, -0.7f, 0.0f, 1.57f, 0.0f, 0.7f, 0.0f});
  cmd.joint_commands().velocity(std::vector<float>(7, 0.0f));
  auto next = PeerClock::now();
  for (uint64_t seq = 1; seq <= 500; ++seq) {
    cmd.sequence_num(seq);
    ASSERT_TRUE(peer_->SendMotion(cmd));
    next += 1ms;
    std::this_thread::sleep_until(next);
  }
  ASSERT_TRUE(sim_->WaitForState(
      kSerial, [](const json& s) { return s["motion_commands"] == 500; }, 5s));
  const json compact = sim_->MotionCommands(kSerial, 0, true);
  std::vector<uint64_t> expected(500);
  std::iota(expected.begin(), expected.end(), 1);
  EXPECT_EQ(compact["seqs"].get<std::vector<uint64_t>>(), expected);
  EXPECT_EQ(compact["applied"], 500);
  const json full = sim_->Command("motion_commands", {{"serial", kSerial}, {"since", 499}});
  ASSERT_EQ(full["items"].size(), 1u);
  EXPECT_EQ(full["items"][0]["sequence_num"], 500);
  EXPECT_FLOAT_EQ(full["items"][0]["joint"]["position"][0].get<float>(), 0.1f);
  // The joint follows the streamed target.
  EXPECT_TRUE(sim_->WaitForState(
      kSerial, [](const json& s) { return std::abs(s["joints"]["position"][0].get<double>() - 0.1) < 1e-3; },
      5s));
}

TEST_F(SimDdsTest, EventsAndStoppedStates) {
  sim_->Command("event", {{"serial", kSerial}, {"level", 3}, {"event_id", 1234},
                          {"description", "Joint 3 overheated"}, {"consequences", "stop"}});
  ASSERT_TRUE(WaitUntil([&] { return !peer_->Events().empty(); }, 5s));
  const auto event = peer_->Events()[0].msg;
  EXPECT_EQ(event.level(), 3);
  EXPECT_EQ(event.id(), 1234);
  EXPECT_EQ(event.description(), "Joint 3 overheated");
  EXPECT_EQ(event.consequences(), "stop");

  ASSERT_TRUE(WaitUntil([&] { return peer_->RtCount() > 0; }, 5s));
  sim_->Command("stop_states", {{"serial", kSerial}});
  const size_t stopped_at = peer_->RtCount();
  const auto t0 = PeerClock::now();
  ASSERT_TRUE(WaitUntil([&] { return PeerClock::now() - t0 > 300ms; }, 1s, 20ms));
  // At most a sample that was already on its way.
  EXPECT_LE(peer_->RtCount(), stopped_at + 1);
  sim_->Command("start_states", {{"serial", kSerial}});
  EXPECT_TRUE(WaitUntil([&] { return peer_->RtCount() > stopped_at + 10; }, 5s));
}

TEST_F(SimDdsTest, FilesOfOneMegabyteTravelWithTheirCrc) {
  // Upload: the simulator keeps the bytes when their CRC-32 is right.
  std::vector<uint8_t> bytes(1000000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>((i * 7919) >> 3);
  vek_msgs::msg::RPCRequest up = OpsRequest(61);
  up.long_string_arg("big.traj");
  up.raw_bytes_arg(bytes);
  const json files_before = sim_->Command("files", {{"serial", kSerial}, {"store", "trajectory"}});
  vek_msgs::msg::RPCReply reply;
  up.int_args({0x12345678});
  ASSERT_TRUE(peer_->CallOps(up, reply, 10s));
  EXPECT_FALSE(reply.success()) << "wrong CRC-32";
  const json recorded = sim_->Requests(kSerial)["items"][0];
  EXPECT_EQ(recorded["raw_bytes"]["size"], 1000000);
  const uint32_t crc = BitwiseCrc32(bytes);
  EXPECT_EQ(recorded["raw_bytes"]["crc32"].get<uint32_t>(), crc);
  up.int_args({static_cast<int32_t>(crc)});
  ASSERT_TRUE(peer_->CallOps(up, reply, 10s));
  EXPECT_TRUE(reply.success());
  const json files = sim_->Command("files", {{"serial", kSerial}, {"store", "trajectory"}});
  EXPECT_EQ(files["files"].size(), files_before["files"].size() + 1);

  // Download: the same bytes and their CRC-32.
  vek_msgs::msg::RPCRequest down = OpsRequest(62);
  down.long_string_arg("big.traj");
  ASSERT_TRUE(peer_->CallOps(down, reply, 10s));
  ASSERT_TRUE(reply.success());
  EXPECT_EQ(reply.string_container(), std::vector<std::string>{"big.traj"});
  EXPECT_EQ(reply.raw_bytes_container(), bytes);
  ASSERT_EQ(reply.int_container().size(), 1u);
  EXPECT_EQ(static_cast<uint32_t>(reply.int_container()[0]), crc);

  sim_->Fault(kSerial, {{"procedure_id", 62}, {"kind", "bad_crc"}});
  ASSERT_TRUE(peer_->CallOps(down, reply, 10s));
  EXPECT_EQ(static_cast<uint32_t>(reply.int_container()[0]), ~crc);
}

TEST(SimTwoControllersTest, TwoSerialNumbersDoNotCrossTalk) {
  SimProcess sim(std::vector<std::string>{kSerial, kSerial2});
  DdsPeer a(kSerial);
  DdsPeer b(kSerial2);
  ASSERT_TRUE(a.WaitMatched(15s));
  ASSERT_TRUE(b.WaitMatched(15s));
  ASSERT_TRUE(sim.WaitMatched(kSerial, 15s));
  ASSERT_TRUE(sim.WaitMatched(kSerial2, 15s));
  sim.Set(kSerial, {{"mode", 3}});
  sim.Set(kSerial2, {{"mode", 9}});
  ASSERT_TRUE(WaitUntil(
      [&] {
        auto ra = a.RtStates();
        auto rb = b.RtStates();
        return !ra.empty() && !rb.empty() && ra.back().msg.system_status().ctrl_mode() == 3 &&
               rb.back().msg.system_status().ctrl_mode() == 9;
      },
      5s));

  // Both streams at 1 kHz at the same time, each to its own controller.
  std::thread second([&] {
    vek_msgs::msg::MotionCommands cmd;
    auto next = PeerClock::now();
    for (uint64_t seq = 100001; seq <= 101000; ++seq) {
      cmd.sequence_num(seq);
      b.SendMotion(cmd);
      next += 1ms;
      std::this_thread::sleep_until(next);
    }
  });
  vek_msgs::msg::MotionCommands cmd;
  auto next = PeerClock::now();
  for (uint64_t seq = 1; seq <= 1000; ++seq) {
    cmd.sequence_num(seq);
    a.SendMotion(cmd);
    next += 1ms;
    std::this_thread::sleep_until(next);
  }
  second.join();
  ASSERT_TRUE(sim.WaitForState(kSerial, [](const json& s) { return s["motion_commands"] == 1000; }, 5s))
      << sim.State(kSerial)["motion_commands"];
  ASSERT_TRUE(sim.WaitForState(kSerial2, [](const json& s) { return s["motion_commands"] == 1000; }, 5s))
      << sim.State(kSerial2)["motion_commands"];
  const auto seqs_a = sim.MotionCommands(kSerial, 0, true)["seqs"].get<std::vector<uint64_t>>();
  const auto seqs_b = sim.MotionCommands(kSerial2, 0, true)["seqs"].get<std::vector<uint64_t>>();
  EXPECT_EQ(seqs_a.front(), 1u);
  EXPECT_EQ(seqs_a.back(), 1000u);
  EXPECT_EQ(seqs_b.front(), 100001u);
  EXPECT_EQ(seqs_b.back(), 101000u);

  vek_msgs::msg::RPCReply reply;
  ASSERT_TRUE(a.CallOps(OpsRequest(11), reply, 5s));
  EXPECT_EQ(sim.Requests(kSerial)["total"], 1);
  EXPECT_EQ(sim.Requests(kSerial2)["total"], 0);
  EXPECT_EQ(b.OpsReplyCount(), 0u);
}

}  // namespace
}  // namespace quiral::test
