// Start-up, connection monitor, heartbeat and the lite client against a
// simulated controller in its own process.
#include <gtest/gtest.h>

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/topic/TopicDataType.hpp>
#include <fastdds/dds/topic/TypeSupport.hpp>
#include <stdexcept>
#include <string>

#include "tests/client/client_test_util.h"

namespace quiral_client_test {
namespace {

const std::string kConnected = "[quiral::vek::Robot] Connected to the robot";
const std::string kLost =
    "[quiral::vek::Robot] Disconnected from the robot, waiting for reconnection ...";

// What Init threw ("" when it returned).
std::string InitError(VEKClient& client, const std::string& serial) {
  try {
    client.Init(serial, false);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// Destroys the client and expects both monitors to end at once.
void ExpectQuickDestruction(std::unique_ptr<VEKClient>& client, const LogCapture& log,
                            int monitors) {
  const auto start = Clock::now();
  client.reset();
  EXPECT_LT(SecondsSince(start), 1.5);
  EXPECT_EQ(log.Count("Connection monitor thread exited"), monitors);
  EXPECT_EQ(log.Count("Timeliness monitor thread exited"), monitors);
}

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

TEST(ClientConnection, ConnectsBeatsAtAbout100HzAndFollowsTheStates) {
  LogCapture log;
  const std::string serial = UniqueSerial();
  SimProcess sim({serial});
  const auto t0 = Clock::now();
  auto client = StartClient(serial, /*lite=*/false, /*verbose=*/true);
  // Six endpoint pauses, two request/reply clients and the first sample.
  const double init = SecondsSince(t0);
  EXPECT_GE(init, 0.95);
  EXPECT_LT(init, 3.5);
  EXPECT_TRUE(client->connected.load());
  EXPECT_FALSE(client->timeliness_limit_reached.load());
  // Every endpoint is seen by the controller, on its own topic.
  EXPECT_TRUE(sim.WaitMatched(serial, 5s));
  ASSERT_TRUE(log.WaitFor(kConnected, 1s));

  // Heartbeats over two seconds: a 10 ms period without compensation is a
  // little under 100 per second (fewer on a loaded machine), but well above
  // a 20 ms period's 50.
  json beats;
  ASSERT_TRUE(WaitUntil(
      [&] {
        beats = sim.Command("heartbeats", {{"serial", serial}})["t_ns"];
        return beats.size() > 2 &&
               beats.back().get<int64_t>() - beats.front().get<int64_t>() > 2500000000;
      },
      10s, 50ms));
  const int64_t from = beats.front().get<int64_t>() + 250000000;
  int in_window = 0;
  for (const auto& t : beats) in_window += t >= from && t < from + 2000000000;
  EXPECT_GE(in_window, 2 * 65);
  EXPECT_LE(in_window, 2 * 101);

  // Silent states: disconnected after one second; the next sample
  // reconnects at once. Twice, so the monitor is seen to re-arm.
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    const auto stopped = Clock::now();
    sim.Command("stop_states", {{"serial", serial}});
    // The last sample left the controller before the command was answered.
    ASSERT_TRUE(WaitUntil([&] { return !client->connected.load(); }, 3s, 1ms));
    const double silent = SecondsSince(stopped);
    EXPECT_GE(silent, 0.98);
    EXPECT_LT(silent, 1.5);
    EXPECT_TRUE(log.WaitFor(kLost, 1s, round));
    EXPECT_EQ(log.Count(spdlog::level::warn, kLost), round);
    const auto started = Clock::now();
    sim.Command("start_states", {{"serial", serial}});
    ASSERT_TRUE(WaitUntil([&] { return client->connected.load(); }, 2s, 1ms));
    EXPECT_LT(SecondsSince(started), 0.3);
    EXPECT_TRUE(log.WaitFor(kConnected, 1s, round + 1));
  }

  // A second start is refused rather than crashing on a running monitor.
  EXPECT_THROW(client->Init(serial, false), std::logic_error);
  ExpectQuickDestruction(client, log, 1);
  EXPECT_EQ(log.Count(spdlog::level::info, ">>>>> Quiral VEK exited <<<<<"), 1);
}

TEST(ClientConnection, NoControllerFailsAfterTheStartupWaitAndStaysDestructible) {
  LogCapture log;
  const std::string serial = UniqueSerial() + "-X";  // nobody serves it
  auto client = std::make_unique<VEKClient>(Loopback(), /*verbose=*/true);
  const std::string error = InitError(*client, serial);
  const auto failed_at = Clock::now();
  EXPECT_EQ(error,
            "[quiral::vek::Robot] Failed to connect to [" + serial +
                "]. Please check that: a) Remote mode (Ethernet) is enabled on the target robot; "
                "b) Ethernet connection with the target robot is established; c) The specified "
                "serial number of the target robot is correct; d) No firewall is active or this "
                "VEK program is whitelisted; e) VEK version is compatible with the target "
                "robot's software version");
  // The wait starts right after the search is announced and lasts 10 × 200 ms.
  const auto searching = log.FirstTime("[quiral::vek::Robot] Searching for [" + serial + "] ...");
  ASSERT_NE(searching, Clock::time_point{});
  const double waited = std::chrono::duration<double>(failed_at - searching).count();
  EXPECT_GE(waited, 1.99);
  EXPECT_LT(waited, 2.5);
  EXPECT_FALSE(client->connected.load());
  // The caller destroys a client whose Init threw: both monitors join.
  ExpectQuickDestruction(client, log, 1);
  EXPECT_EQ(log.Count(kConnected), 0);
}

TEST(ClientConnection, AnEndpointThatCannotBeCreatedFailsInitAndLeavesADestructibleClient) {
  LogCapture log;
  auto client = std::make_unique<VEKClient>(Loopback(), /*verbose=*/true);
  eprosima::fastdds::dds::TypeSupport(new ImpostorType())
      .register_type(client->rt_udp_node.participant);
  EXPECT_EQ(InitError(*client, UniqueSerial()), "Failed to create DDS subscriber topic");
  // The publishers before it exist; nothing after it, and no monitor.
  EXPECT_NE(client->heartbeat_pub, nullptr);
  EXPECT_FALSE(client->connection_monitor.joinable());
  EXPECT_EQ(log.CountContaining("Creating RPC client"), 0);
  ExpectQuickDestruction(client, log, 0);
}

TEST(ClientConnection, LiteCreatesOnlyItsEndpointsAndNeverConnects) {
  LogCapture log;
  const std::string serial = UniqueSerial();
  SimProcess sim({serial});
  const auto t0 = Clock::now();
  auto client = StartClient(serial, /*lite=*/true, /*verbose=*/true);
  // One endpoint pause and two request/reply clients, no wait for the robot.
  EXPECT_LT(SecondsSince(t0), 1.5);

  // The lite endpoints work: a call on each service round-trips, and
  // real-time states arrive.
  ASSERT_TRUE(sim.WaitMatched(
      serial, 5s, {"rt_states", "ops_requests", "ops_replies", "data_requests", "data_replies"}));
  std::string version;
  EXPECT_EQ(client->operations_rpc.RequestServerVersion(version).code, kOk);
  EXPECT_EQ(client->lumo_data_rpc.RequestLUMOVersion(version).code, kOk);
  ASSERT_TRUE(WaitUntil([&] { return client->rt_states_sub.SampleCount() > 25; }, 5s));

  // Nothing else exists: no heartbeat, motion commands, streams, event log
  // or monitor.
  const json state = sim.State(serial);
  for (const std::string name :
       {"heartbeat", "motion_commands", "basic_stream", "extra_stream", "event_log"}) {
    EXPECT_EQ(state["matched"][name].get<int>(), 0) << name;
  }
  EXPECT_EQ(state["heartbeats"]["count"].get<int>(), 0);
  EXPECT_EQ(client->heartbeat_pub, nullptr);
  EXPECT_FALSE(client->connected.load());
  EXPECT_FALSE(client->connection_monitor.joinable());
  EXPECT_FALSE(client->timeliness_monitor.joinable());
  EXPECT_EQ(log.CountContaining("Searching for"), 0);
  EXPECT_EQ(client->motion_commands_pub.Publish().code, kFault);
  ExpectQuickDestruction(client, log, 0);
}

}  // namespace
}  // namespace quiral_client_test
