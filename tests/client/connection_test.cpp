// Start-up, connection and heartbeat of the per-robot client against a
// simulated controller in its own process.
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/topic/TopicDataType.hpp>
#include <fastdds/dds/topic/TypeSupport.hpp>
#include <gtest/gtest.h>

#include "tests/client/client_test_util.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using quiral::test::SimProcess;
using quiral::test::UniqueSerial;
using quiral::test::WaitUntil;
using quiral::vek_impl::VEKClient;
using quiral_client_test::Clock;
using quiral_client_test::LogCapture;
using quiral_client_test::Loopback;
using quiral_client_test::Seconds;
using quiral_client_test::StartClient;

// Another type under the name of the real-time states' type: once it is
// registered on the participant, the states subscriber cannot be created.
class ImpostorType : public eprosima::fastdds::dds::TopicDataType {
 public:
  ImpostorType() {
    setName("vek_msgs::msg::dds_::RealtimeStates_");
    m_typeSize = 8;
    m_isGetKeyDefined = false;
  }
  bool serialize(void*, eprosima::fastrtps::rtps::SerializedPayload_t*) override { return false; }
  bool deserialize(eprosima::fastrtps::rtps::SerializedPayload_t*, void*) override { return false; }
  std::function<uint32_t()> getSerializedSizeProvider(void*) override {
    return [] { return 8u; };
  }
  void* createData() override { return new char[8]; }
  void deleteData(void* data) override { delete[] static_cast<char*>(data); }
  bool getKey(void*, eprosima::fastrtps::rtps::InstanceHandle_t*, bool) override { return false; }
};

std::string ConnectFailureText(const std::string& serial) {
  return "[quiral::vek::Robot] Failed to connect to [" + serial +
         "]. Please check that: a) Remote mode (Ethernet) is enabled on the target robot; b) "
         "Ethernet connection with the target robot is established; c) The specified serial "
         "number of the target robot is correct; d) No firewall is active or this VEK program "
         "is whitelisted; e) VEK version is compatible with the target robot's software version";
}

TEST(TopicSuffix, ReplacesEveryDashOnly) {
  EXPECT_EQ(quiral::vek_impl::TopicSuffix("Varno4-AB-12"), "Varno4_AB_12");
  EXPECT_EQ(quiral::vek_impl::TopicSuffix("Varno4_AB"), "Varno4_AB");
  EXPECT_EQ(quiral::vek_impl::TopicSuffix(""), "");
}

TEST(ClientConnection, ConnectsWithinTheStartupWaitAndCreatesEveryEndpoint) {
  LogCapture log;
  const std::string serial = UniqueSerial("Varno4");
  SimProcess sim({serial});
  const auto t0 = Clock::now();
  auto client = StartClient(serial, /*lite=*/false, /*verbose=*/true);
  const auto init_time = Clock::now() - t0;
  EXPECT_TRUE(client->connected.load());
  EXPECT_FALSE(client->timeliness_limit_reached.load());
  // Six endpoint pauses, two request/reply clients and the first sample.
  EXPECT_GE(Seconds(init_time), 0.95);
  EXPECT_LT(Seconds(init_time), 3.5);

  // Every endpoint of the client is seen by the controller.
  EXPECT_TRUE(sim.WaitMatched(serial, 5s));
  EXPECT_EQ(log.Count("[quiral::vek::Robot] Searching for [" + serial + "] ...",
                      spdlog::level::info), 1u);
  // Logged by the monitor right after it raised the flag.
  ASSERT_TRUE(log.WaitFor("[quiral::vek::Robot] Connected to the robot", 1s));
  EXPECT_EQ(log.Count("[quiral::vek::Robot] Connected to the robot", spdlog::level::info), 1u);
  EXPECT_EQ(log.Count("[quiral::vek::Robot] Middleware topic suffix: [" +
                      quiral::vek_impl::TopicSuffix(serial) + "]", spdlog::level::debug), 1u);
  EXPECT_EQ(log.Count("[quiral::vek::Robot] Communication services started"), 1u);
  const std::string suffix = quiral::vek_impl::TopicSuffix(serial);
  for (const std::string topic :
       {"quiral_vek/rt_states/", "quiral_lumo/basic_stream_data/",
        "quiral_lumo/extra_stream_data/", "quiral_lumo/robot_log/"}) {
    EXPECT_EQ(log.Count("[quiral::vek::Robot] Creating subscriber on topic: " + topic + suffix), 1u)
        << topic;
  }
  EXPECT_EQ(log.Count("[quiral::vek::Robot] Creating publisher on topic: quiral_vek/motion_commands/" +
                      suffix), 1u);
  for (const std::string topic : {"quiral_vek/RPC/", "quiral_lumo/non_stream_rpc/"}) {
    EXPECT_EQ(log.Count("[quiral::vek::Robot] Creating RPC client on topic: " + topic + suffix), 1u)
        << topic;
  }

  // A second start is refused rather than crashing on a running monitor.
  EXPECT_THROW(client->Init(serial, false), std::logic_error);

  // Destruction wakes both monitors at once.
  const auto t1 = Clock::now();
  client.reset();
  EXPECT_LT(Seconds(Clock::now() - t1), 1.5);
  EXPECT_EQ(log.Count("Connection monitor thread exited", spdlog::level::debug), 1u);
  EXPECT_EQ(log.Count("Timeliness monitor thread exited", spdlog::level::debug), 1u);
  EXPECT_EQ(log.Count(">>>>> Quiral VEK exited <<<<<", spdlog::level::info), 1u);
}

TEST(ClientConnection, NoControllerFailsAfterTheStartupWaitAndStaysDestructible) {
  LogCapture log;
  const std::string serial = UniqueSerial("Varno4") + "-X";  // nobody serves it
  auto client = std::make_unique<VEKClient>(Loopback(), /*verbose=*/true);
  std::string error;
  try {
    client->Init(serial, false);
  } catch (const std::runtime_error& e) {
    error = e.what();
  }
  const auto failed_at = Clock::now();
  EXPECT_EQ(error, ConnectFailureText(serial));
  // The wait starts right after the search is announced and lasts 10 × 200 ms.
  const auto searching = log.FirstTime("[quiral::vek::Robot] Searching for [" + serial + "] ...");
  ASSERT_NE(searching, Clock::time_point{});
  const double waited = Seconds(failed_at - searching);
  EXPECT_GE(waited, 1.99);
  EXPECT_LT(waited, 2.5);
  EXPECT_FALSE(client->connected.load());

  // The caller destroys a client whose Init threw: both monitors join.
  const auto t1 = Clock::now();
  client.reset();
  EXPECT_LT(Seconds(Clock::now() - t1), 1.5);
  EXPECT_EQ(log.Count("Connection monitor thread exited"), 1u);
  EXPECT_EQ(log.Count("Timeliness monitor thread exited"), 1u);
  EXPECT_EQ(log.Count("[quiral::vek::Robot] Connected to the robot"), 0u);
}

TEST(ClientConnection, AnEndpointThatCannotBeCreatedFailsInitAndLeavesADestructibleClient) {
  LogCapture log;
  const std::string serial = UniqueSerial("Varno4");
  auto client = std::make_unique<VEKClient>(Loopback(), /*verbose=*/true);
  eprosima::fastdds::dds::TypeSupport(new ImpostorType()).register_type(client->rt_udp_node.participant);
  std::string error;
  try {
    client->Init(serial, false);
  } catch (const std::runtime_error& e) {
    error = e.what();
  }
  EXPECT_EQ(error, "Failed to create DDS subscriber topic");
  // The publishers before it exist; nothing after it, and no monitor.
  EXPECT_NE(client->heartbeat_pub, nullptr);
  EXPECT_FALSE(client->connection_monitor.joinable());
  EXPECT_EQ(log.CountContaining("Creating RPC client"), 0u);
  client.reset();
  EXPECT_EQ(log.Count("Connection monitor thread exited"), 0u);
  EXPECT_EQ(log.Count("Timeliness monitor thread exited"), 0u);
}

TEST(ClientConnection, SilenceDisconnectsAfterOneSecondAndTheNextSampleReconnects) {
  LogCapture log;
  const std::string serial = UniqueSerial("Varno4");
  SimProcess sim({serial});
  auto client = StartClient(serial, false, /*verbose=*/true);
  ASSERT_TRUE(client->connected.load());
  const std::string lost = "[quiral::vek::Robot] Disconnected from the robot, waiting for reconnection ...";
  const std::string found = "[quiral::vek::Robot] Connected to the robot";

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const auto t_stop = Clock::now();
    sim.Command("stop_states", {{"serial", serial}});
    // The last sample left the controller before the command was answered.
    ASSERT_TRUE(WaitUntil([&] { return !client->connected.load(); }, 3s, 1ms));
    const double silent = Seconds(Clock::now() - t_stop);
    EXPECT_GE(silent, 0.98);
    EXPECT_LT(silent, 1.5);
    EXPECT_TRUE(log.WaitFor(lost, 1s, round + 1));
    EXPECT_EQ(log.Count(lost, spdlog::level::warn), static_cast<size_t>(round + 1));

    const auto t_start = Clock::now();
    sim.Command("start_states", {{"serial", serial}});
    ASSERT_TRUE(WaitUntil([&] { return client->connected.load(); }, 2s, 1ms));
    EXPECT_LT(Seconds(Clock::now() - t_start), 0.3);
    EXPECT_TRUE(log.WaitFor(found, 1s, round + 2));
  }
  EXPECT_EQ(log.Count(lost), 2u);
  EXPECT_EQ(log.Count(found), 3u);
}

TEST(ClientConnection, HeartbeatReachesTheControllerAtAbout100Hz) {
  const std::string serial = UniqueSerial("Varno4");
  SimProcess sim({serial});
  auto client = StartClient(serial);
  // Collect the receipt times of at least 2.5 s of heartbeats.
  json beats;
  ASSERT_TRUE(WaitUntil(
      [&] {
        beats = sim.Command("heartbeats", {{"serial", serial}})["t_ns"];
        return beats.size() > 2 &&
               beats.back().get<int64_t>() - beats.front().get<int64_t>() > 2500000000;
      },
      10s, 50ms));
  const int64_t from = beats.front().get<int64_t>() + 250000000;
  const int64_t to = from + 2000000000;
  int in_window = 0;
  for (const auto& t : beats) {
    if (t.get<int64_t>() >= from && t.get<int64_t>() < to) ++in_window;
  }
  // A 10 ms period without compensation: a little under 100 per second,
  // fewer on a loaded machine, but well above a 20 ms period's 50.
  EXPECT_GE(in_window, 2 * 65);
  EXPECT_LE(in_window, 2 * 101);
}

TEST(ClientConnection, LiteCreatesOnlyItsEndpointsAndNeverConnects) {
  LogCapture log;
  const std::string serial = UniqueSerial("Varno4");
  SimProcess sim({serial});
  const auto t0 = Clock::now();
  auto client = StartClient(serial, /*lite=*/true, /*verbose=*/true);
  // One endpoint pause and two request/reply clients, no wait for the robot.
  EXPECT_LT(Seconds(Clock::now() - t0), 1.5);
  EXPECT_FALSE(client->connected.load());
  EXPECT_EQ(client->heartbeat_pub, nullptr);

  // The lite endpoints are matched and working: a call on each service
  // round-trips, and real-time states arrive.
  ASSERT_TRUE(sim.WaitMatched(serial, 5s,
                              {"rt_states", "ops_requests", "ops_replies", "data_requests",
                               "data_replies"}));
  std::string version;
  EXPECT_EQ(client->operations_rpc.RequestServerVersion(version).code, 100000);
  EXPECT_EQ(version, "v1.9.3");
  EXPECT_EQ(client->lumo_data_rpc.RequestLUMOVersion(version).code, 100000);
  ASSERT_TRUE(WaitUntil([&] { return client->rt_states_sub.SampleCount() > 25; }, 5s));

  // Nothing else exists: no heartbeat, no motion commands, no streams, no
  // event log, no monitor.
  const json state = sim.State(serial);
  for (const std::string name :
       {"heartbeat", "motion_commands", "basic_stream", "extra_stream", "event_log"}) {
    EXPECT_EQ(state["matched"][name].get<int>(), 0) << name;
  }
  EXPECT_EQ(state["heartbeats"]["count"].get<int>(), 0);
  EXPECT_FALSE(client->connected.load());
  EXPECT_FALSE(client->timeliness_limit_reached.load());
  EXPECT_FALSE(client->connection_monitor.joinable());
  EXPECT_FALSE(client->timeliness_monitor.joinable());
  EXPECT_EQ(log.CountContaining("Searching for"), 0u);
  EXPECT_EQ(log.CountContaining("Creating subscriber on topic"), 1u);
  EXPECT_EQ(log.CountContaining("Creating publisher on topic"), 0u);
  EXPECT_EQ(log.CountContaining("Creating RPC client on topic"), 2u);
  // Publishing motion commands needs the full client.
  EXPECT_EQ(client->motion_commands_pub.Publish().code, 300000);

  client.reset();
  EXPECT_EQ(log.Count("Connection monitor thread exited"), 0u);
  EXPECT_EQ(log.Count("Timeliness monitor thread exited"), 0u);
}

}  // namespace
