// Publisher in a child process, subscriber here: samples cross two
// participants in two processes.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "middleware/default_node.h"
#include "middleware/fast_dds_subscriber.h"
#include "tests/middleware/middleware_test_util.h"
#include "tests/support/wait_until.h"

namespace {

using quiral::test::WaitUntil;
using quiral_test::ChildProcess;
using quiral_test::TestDomain;
using quiral_test::UniqueTopic;
using Sample = vek_msgs::msg::RPCRequest;
using Subscriber = quiral::middleware2::FastDDSSubscriber<vek_msgs::msg::RPCRequestPubSubType>;
using namespace std::chrono_literals;

// What the callbacks saw, copied out of the buffer inside the callback as
// the subscriber's users do.
class Received {
 public:
  struct Seen {
    uint64_t id;
    std::string text;
    std::thread::id thread;
  };

  std::function<void()> Callback(const Sample* buffer) {
    return [this, buffer] {
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back({buffer->procedure_id(), buffer->string_args().empty() ? "" : buffer->string_args()[0],
                       std::this_thread::get_id()});
      changed_.notify_all();
    };
  }

  // Waits until `count` callbacks have run; false at the deadline.
  bool WaitFor(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return seen_.size() >= count; });
  }

  std::vector<Seen> seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Seen> seen_;
};

void SendAfterMatch(ChildProcess& publisher, int count) {
  ASSERT_TRUE(publisher.WriteLine("wait-match"));
  ASSERT_EQ(publisher.ReadLine(15s).value_or("(timeout)"), "matched");
  ASSERT_TRUE(publisher.WriteLine("send " + std::to_string(count)));
  ASSERT_EQ(publisher.ReadLine(15s).value_or("(timeout)"), "sent " + std::to_string(count));
}

TEST(PublishSubscribe, FilteringFactorRunsEveryThirdSampleOnTheListenerThread) {
  quiral::middleware2::DefaultNode node("pubsub_reader", 0, TestDomain(), quiral_test::kLoopbackOnly);
  const std::string topic = UniqueTopic("filtered");
  Sample buffer;
  Received received;
  auto subscriber =
      std::make_shared<Subscriber>(node.participant, topic, received.Callback(&buffer), &buffer, 3);
  subscriber->InitializeDefaultProfile(10);

  auto publisher = quiral_test::StartPeer("publish", {topic});
  SendAfterMatch(*publisher, 10);
  // Reliable delivery: samples 3, 6 and 9 call back, 10 is the first of the
  // next round.
  ASSERT_TRUE(received.WaitFor(3, 10s));
  std::vector<Received::Seen> seen = received.seen();
  ASSERT_EQ(seen.size(), 3u);
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].id, 3 * (i + 1));
    EXPECT_EQ(seen[i].text, "sample " + std::to_string(3 * (i + 1)));
    EXPECT_NE(seen[i].thread, std::this_thread::get_id());
  }
  EXPECT_TRUE(subscriber->listener().matched());

  // Two more make twelve: one more callback, for the 12th.
  SendAfterMatch(*publisher, 2);
  ASSERT_TRUE(received.WaitFor(4, 10s));
  EXPECT_EQ(received.seen().back().id, 2u);

  // The writer's participant leaving unmatches the reader.
  publisher.reset();
  EXPECT_TRUE(WaitUntil([&] { return !subscriber->listener().matched(); }, 20s, 10ms));
}

// A subscriber destroyed while samples keep arriving calls back no more
// once destroyed, so its buffer may go right after.
TEST(PublishSubscribe, DestructionWaitsForTheCallbackInProgress) {
  quiral::middleware2::DefaultNode node("pubsub_destroy", 0, TestDomain(), quiral_test::kLoopbackOnly);
  for (int round = 0; round < 3; ++round) {
    const std::string topic = UniqueTopic("destroy");
    auto buffer = std::make_unique<Sample>();
    std::mutex mutex;
    std::condition_variable first;
    bool called = false;
    bool destroyed = false;
    bool late_call = false;
    auto subscriber = std::make_shared<Subscriber>(
        node.participant, topic,
        [&] {
          std::this_thread::sleep_for(2ms);  // a slow user, to widen the window
          std::lock_guard<std::mutex> lock(mutex);
          late_call = late_call || destroyed;
          called = true;
          first.notify_all();
        },
        buffer.get(), 1);
    subscriber->InitializeDefaultProfile(10);
    auto publisher = quiral_test::StartPeer("publish", {topic});
    SendAfterMatch(*publisher, 200);
    {
      std::unique_lock<std::mutex> lock(mutex);
      ASSERT_TRUE(first.wait_for(lock, 10s, [&] { return called; }));
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
