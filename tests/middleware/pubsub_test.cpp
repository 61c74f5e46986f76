// Publisher in a child process, subscriber here: samples cross two
// participants in two processes.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "middleware/default_node.h"
#include "middleware/fast_dds_subscriber.h"
#include "middleware/realtime_udp_node.h"
#include "tests/middleware/support/child_process.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "tests/middleware/support/test_domain.h"

namespace {

namespace mw = quiral::middleware2;
using quiral_test::ChildProcess;
using quiral_test::TestDomain;
using quiral_test::UniqueTopic;
using Sample = vek_msgs::msg::RPCRequest;
using Subscriber = mw::FastDDSSubscriber<vek_msgs::msg::RPCRequestPubSubType>;
using namespace std::chrono_literals;

// What the callbacks saw, copied out of the buffer inside the callback as
// the subscriber's users do.
class Received {
 public:
  explicit Received(const Sample* buffer) : buffer_(buffer) {}

  void OnSample() {
    std::lock_guard<std::mutex> lock(mutex_);
    seqs_.push_back(buffer_->procedure_id());
    texts_.push_back(buffer_->string_args().empty() ? "" : buffer_->string_args().front());
    threads_.push_back(std::this_thread::get_id());
    changed_.notify_all();
  }

  // Waits until `count` callbacks have run; false at the deadline.
  bool WaitFor(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return seqs_.size() >= count; });
  }

  std::vector<uint64_t> seqs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seqs_;
  }
  std::vector<std::string> texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }
  std::vector<std::thread::id> threads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
  }

 private:
  const Sample* buffer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint64_t> seqs_;
  std::vector<std::string> texts_;
  std::vector<std::thread::id> threads_;
};

std::unique_ptr<ChildProcess> StartPublisher(const std::string& topic, const std::string& profile) {
  auto child = std::make_unique<ChildProcess>(
      QUIRAL_MIDDLEWARE_PEER,
      std::vector<std::string>{"publish", std::to_string(TestDomain()), topic, profile});
  EXPECT_TRUE(child->ExpectLine("ready", 10s));
  return child;
}

void SendAfterMatch(ChildProcess& child, int count) {
  ASSERT_TRUE(child.WriteLine("wait-match"));
  ASSERT_EQ(child.ReadLine(15s).value_or("(timeout)"), "matched");
  ASSERT_TRUE(child.WriteLine("send " + std::to_string(count)));
  ASSERT_EQ(child.ReadLine(15s).value_or("(timeout)"), "sent " + std::to_string(count));
}

TEST(PublishSubscribe, FilteringFactorRunsEveryThirdSampleOnTheListenerThread) {
  mw::DefaultNode node("pubsub_reader", 0, TestDomain(), quiral_test::kLoopbackOnly);
  const std::string topic = UniqueTopic("filtered");
  Sample buffer;
  Received received(&buffer);
  auto subscriber = std::make_shared<Subscriber>(
      node.participant, topic, [&] { received.OnSample(); }, &buffer, 3);
  subscriber->InitializeDefaultProfile(10);

  auto child = StartPublisher(topic, "default");
  SendAfterMatch(*child, 10);
  // Reliable delivery: samples 3, 6 and 9 call back, 10 is the first of the
  // next round.
  ASSERT_TRUE(received.WaitFor(3, 10s));
  EXPECT_THAT(received.seqs(), ::testing::ElementsAre(3u, 6u, 9u));
  EXPECT_THAT(received.texts(), ::testing::ElementsAre("sample 3", "sample 6", "sample 9"));
  for (const std::thread::id& thread : received.threads()) {
    EXPECT_NE(thread, std::this_thread::get_id());
  }
  EXPECT_TRUE(subscriber->listener().matched());

  // Two more make twelve: one more callback, for the 12th.
  SendAfterMatch(*child, 2);
  ASSERT_TRUE(received.WaitFor(4, 10s));
  EXPECT_EQ(received.seqs().back(), 2u);

  // The writer's participant leaving unmatches the reader.
  child.reset();
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (subscriber->listener().matched() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(subscriber->listener().matched());
}

TEST(PublishSubscribe, RealtimeProfileDeliversAcrossProcesses) {
  mw::RealtimeUdpNode node("pubsub_rt_reader", TestDomain(), quiral_test::kLoopbackOnly);
  const std::string topic = UniqueTopic("realtime");
  Sample buffer;
  Received received(&buffer);
  auto subscriber = std::make_shared<Subscriber>(
      node.participant, topic, [&] { received.OnSample(); }, &buffer, 1);
  subscriber->InitializeRealtimeSocketProfile();

  const auto writers_met = [&] {
    eprosima::fastdds::dds::SubscriptionMatchedStatus status;
    subscriber->reader()->get_subscription_matched_status(status);
    return status.total_count;
  };
  for (const std::string profile : {"realtime-sync", "realtime-async"}) {
    const int32_t met_before = writers_met();
    auto child = StartPublisher(topic, profile);
    const size_t before = received.seqs().size();
    // A best-effort reader drops samples of a writer it has not matched yet,
    // even when the writer has matched it.
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (writers_met() == met_before && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_GT(writers_met(), met_before) << profile;
    // Best effort may drop a sample; a burst reaches the reader.
    SendAfterMatch(*child, 20);
    ASSERT_TRUE(received.WaitFor(before + 1, 10s)) << profile;
    const std::vector<uint64_t> seqs = received.seqs();
    const std::vector<std::string> texts = received.texts();
    for (size_t i = before; i < seqs.size(); ++i) {
      EXPECT_GE(seqs[i], 1u);
      EXPECT_LE(seqs[i], 20u);
      EXPECT_EQ(texts[i], "sample " + std::to_string(seqs[i]));
    }
  }
}

// A subscriber destroyed while samples keep arriving stops calling back
// once destroyed, and its buffer may go right after.
TEST(PublishSubscribe, DestructionWaitsForTheCallbackInProgress) {
  mw::DefaultNode node("pubsub_destroy", 0, TestDomain(), quiral_test::kLoopbackOnly);
  for (int round = 0; round < 5; ++round) {
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
    auto child = StartPublisher(topic, "default");
    SendAfterMatch(*child, 200);
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
