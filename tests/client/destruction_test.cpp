// Destroying the event log, and the whole client, while the controller
// floods the event log and publishes its states at a high rate: a callback
// running into a destroyed list, snapshot or buffer is caught by the
// sanitizer builds (scripts/run-sanitizers.sh).
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "middleware/default_node.h"
#include "tests/client/client_test_util.h"

namespace quiral_client_test {
namespace {

using quiral::vek_impl::LUMOLogEvent;

// Sends single entries until one arrives (the log is volatile: entries
// written before the writer met the reader are lost), then floods the log
// from another thread and waits until 200 more have arrived. The flood
// goes on until the Flood is destroyed; short bursts let the entries flow
// at tens of thousands per second.
class Flood {
 public:
  Flood(SimProcess& sim, const std::string& serial, LUMOLogEvent& log_event, int count) {
    EXPECT_TRUE(WaitUntil(
        [&] {
          sim.Command("event", {{"serial", serial}, {"level", 0}, {"event_id", 0}});
          return log_event.events().size() > 0;
        },
        10s, 20ms));
    const size_t before = log_event.events().size();
    thread_ = std::thread([&sim, serial, count] {
      sim.TryCommand("event",
                     {{"serial", serial},
                      {"level", 0},
                      {"event_id", 1},
                      {"count", count},
                      {"burst", 10},
                      {"interval_us", 100}},
                     60000ms);
    });
    EXPECT_TRUE(WaitUntil([&] { return log_event.events().size() > before + 200; }, 10s, 1ms));
  }
  ~Flood() { thread_.join(); }

 private:
  std::thread thread_;
};

TEST(ClientDestruction, EventLogDestroyedWhileEntriesKeepArriving) {
  const std::string serial = UniqueSerial();
  SimProcess sim({serial});
  quiral::middleware2::DefaultNode node("quiral_vek_default_node", 0, 10, kLoopback);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    auto log_event = std::make_unique<LUMOLogEvent>();
    ASSERT_EQ(log_event->Init(node, quiral::vek_impl::TopicSuffix(serial)).code, kOk);
    Flood flood(sim, serial, *log_event, 4000);
    log_event.reset();  // mid-flood
  }
}

TEST(ClientDestruction, ClientDestroyedWhileStatesAndEventsKeepArriving) {
  const std::string serial = UniqueSerial();
  SimProcess sim({serial}, {"--rate-hz", "5000"});
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    auto client = StartClient(serial);
    Flood flood(sim, serial, client->lumo_log_event, 8000);
    const auto t0 = Clock::now();
    client.reset();
    EXPECT_LT(SecondsSince(t0), 5.0);
  }
}

}  // namespace
}  // namespace quiral_client_test
