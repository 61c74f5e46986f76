// Destroying the client and its event log while the controller floods the
// event log and publishes its states at a high rate. Built with
// AddressSanitizer together with the client's, the DDS layer's and the
// messages' own sources, so that a callback running into a destroyed list,
// snapshot or buffer is reported.
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "client/lumo_log_event.h"
#include "middleware/default_node.h"
#include "tests/client/client_test_util.h"

// The DDS library frees one of its own reader objects with a sized delete
// of a smaller type when a data reader is deleted. That happens wholly
// inside the (uninstrumented) library, so the check for it is turned off;
// every other error of AddressSanitizer stays on.
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }

namespace {

using namespace std::chrono_literals;
using quiral::test::SimProcess;
using quiral::test::UniqueSerial;
using quiral::test::WaitUntil;
using quiral::vek_impl::LUMOLogEvent;
using quiral_client_test::Clock;
using quiral_client_test::Loopback;
using quiral_client_test::Seconds;
using quiral_client_test::StartClient;

size_t EventCount(LUMOLogEvent& log_event) {
  std::lock_guard<std::mutex> lock(log_event.mutex);
  return log_event.event_list.size();
}

// Sends single entries until one arrives: the controller's writer has then
// met the reader (entries written before that are lost, the log being
// volatile). Returns the number of entries received so far.
size_t WaitForEntries(SimProcess& sim, const std::string& serial, LUMOLogEvent& log_event) {
  EXPECT_TRUE(WaitUntil(
      [&] {
        sim.Command("event", {{"serial", serial}, {"level", 0}, {"event_id", 0}});
        return EventCount(log_event) > 0;
      },
      10s, 20ms));
  return EventCount(log_event);
}

// Floods the event log from its own thread (the controller answers the
// command once every entry is written): short bursts let the entries flow
// at tens of thousands per second.
class Flood {
 public:
  Flood(SimProcess& sim, const std::string& serial, int count)
      : thread_([&sim, serial, count] {
          sim.TryCommand("event",
                         {{"serial", serial}, {"level", 0}, {"event_id", 1}, {"count", count},
                          {"burst", 10}, {"interval_us", 100}},
                         std::chrono::milliseconds(60000));
        }) {}
  ~Flood() { thread_.join(); }

 private:
  std::thread thread_;
};

TEST(ClientDestruction, EventLogDestroyedWhileEntriesKeepArriving) {
  const std::string serial = UniqueSerial("Varno4");
  SimProcess sim({serial});
  quiral::middleware2::DefaultNode node("quiral_vek_default_node", 0, 10, Loopback());
  const std::string suffix = quiral::vek_impl::TopicSuffix(serial);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    auto log_event = std::make_unique<LUMOLogEvent>();
    ASSERT_EQ(log_event->Init(node, suffix).code, 100000);
    const size_t before = WaitForEntries(sim, serial, *log_event);
    Flood flood(sim, serial, 4000);
    ASSERT_TRUE(WaitUntil([&] { return EventCount(*log_event) > before + 200; }, 10s, 1ms));
    log_event.reset();  // mid-flood
  }
}

TEST(ClientDestruction, ClientDestroyedWhileStatesAndEventsKeepArriving) {
  const std::string serial = UniqueSerial("Varno4");
  SimProcess sim({serial}, {"--rate-hz", "5000"});
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    auto client = StartClient(serial);
    const size_t before = WaitForEntries(sim, serial, client->lumo_log_event);
    Flood flood(sim, serial, 8000);
    ASSERT_TRUE(
        WaitUntil([&] { return EventCount(client->lumo_log_event) > before + 200; }, 10s, 1ms));
    const auto t0 = Clock::now();
    client.reset();
    EXPECT_LT(Seconds(Clock::now() - t0), 5.0);
  }
}

}  // namespace
