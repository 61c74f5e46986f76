// A subscriber to the real-time states that a simulated controller in a
// process of its own publishes without pause.
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "middleware/fast_dds_subscriber.h"
#include "middleware/realtime_udp_node.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "tests/middleware/middleware_test_util.h"
#include "tests/support/sim_process.h"

namespace {

using Sample = vek_msgs::msg::RealtimeStates;
using Subscriber = quiral::middleware2::FastDDSSubscriber<vek_msgs::msg::RealtimeStatesPubSubType>;
using namespace std::chrono_literals;

// A subscriber destroyed while samples keep arriving calls back no more
// once destroyed, so its buffer may go right after.
TEST(PublishSubscribe, DestructionWaitsForTheCallbackInProgress) {
  quiral::test::SimProcess sim;
  std::string topic = "quiral_vek/rt_states/" + sim.serials().at(0);
  std::replace(topic.begin(), topic.end(), '-', '_');
  quiral::middleware2::RealtimeUdpNode node("pubsub_reader", 10, quiral_test::kLoopbackOnly);
  std::mutex mutex;
  std::condition_variable changed;
  for (int round = 0; round < 3; ++round) {
    auto buffer = std::make_unique<Sample>();
    bool called = false, destroyed = false, late_call = false;
    auto subscriber = std::make_shared<Subscriber>(
        node.participant, topic,
        [&] {
          std::this_thread::sleep_for(2ms);  // a slow user, to widen the window
          std::lock_guard<std::mutex> lock(mutex);
          late_call = late_call || destroyed;
          called = true;
          changed.notify_all();
        },
        buffer.get(), 1);
    subscriber->InitializeRealtimeSocketProfile();
    {
      std::unique_lock<std::mutex> lock(mutex);
      ASSERT_TRUE(changed.wait_for(lock, 15s, [&] { return called; }));
    }
    subscriber.reset();
    {
      std::lock_guard<std::mutex> lock(mutex);
      destroyed = true;
    }
    buffer.reset();
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_FALSE(late_call);
  }
}

}  // namespace
