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

using quiral_test::ChildProcess;
using quiral_test::UniqueTopic;
using Sample = vek_msgs::msg::RPCRequest;
using Subscriber = quiral::middleware2::FastDDSSubscriber<vek_msgs::msg::RPCRequestPubSubType>;
using namespace std::chrono_literals;

class PublishSubscribe : public ::testing::Test {
 protected:
  // Has the peer publish `count` samples once it has met the subscriber.
  static void Send(ChildProcess& publisher, int count) {
    ASSERT_TRUE(publisher.WriteLine("wait-match"));
    ASSERT_EQ(publisher.ReadLine(15s).value_or("(timeout)"), "matched");
    ASSERT_TRUE(publisher.WriteLine("send " + std::to_string(count)));
    ASSERT_EQ(publisher.ReadLine(15s).value_or("(timeout)"), "sent " + std::to_string(count));
  }
  // Waits until `done` holds, under `mutex_`.
  template <class Done>
  bool WaitFor(const Done& done) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 10s, done);
  }

  quiral::middleware2::DefaultNode node_{"pubsub_reader", 0, quiral_test::TestDomain(),
                                         quiral_test::kLoopbackOnly};
  std::mutex mutex_;
  std::condition_variable changed_;
};

TEST_F(PublishSubscribe, FilteringFactorRunsEveryThirdSampleOnTheListenerThread) {
  Sample buffer;
  std::vector<std::pair<uint16_t, std::string>> seen;  // id, text; copied inside the callback
  bool foreign_thread = true;
  const auto test_thread = std::this_thread::get_id();
  auto subscriber = std::make_shared<Subscriber>(
      node_.participant, UniqueTopic("filtered"),
      [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        seen.emplace_back(buffer.procedure_id(), buffer.string_args().at(0));
        foreign_thread = foreign_thread && std::this_thread::get_id() != test_thread;
        changed_.notify_all();
      },
      &buffer, 3);
  subscriber->InitializeDefaultProfile(10);
  auto publisher = quiral_test::StartPeer("publish", {subscriber->topic_name().substr(3)});
  // Reliable delivery: samples 3, 6 and 9 call back, 10 is the first of the
  // next round; two more make twelve, which calls back.
  Send(*publisher, 10);
  ASSERT_TRUE(WaitFor([&] { return seen.size() >= 3; }));
  Send(*publisher, 2);
  ASSERT_TRUE(WaitFor([&] { return seen.size() >= 4; }));
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_EQ(seen, (std::vector<std::pair<uint16_t, std::string>>{
                      {3, "sample 3"}, {6, "sample 6"}, {9, "sample 9"}, {2, "sample 2"}}));
  EXPECT_TRUE(foreign_thread);
  EXPECT_TRUE(subscriber->listener().matched());
  // The writer's participant leaving unmatches the reader.
  publisher.reset();
  EXPECT_TRUE(
      quiral::test::WaitUntil([&] { return !subscriber->listener().matched(); }, 20s, 10ms));
}

// A subscriber destroyed while samples keep arriving calls back no more
// once destroyed, so its buffer may go right after.
TEST_F(PublishSubscribe, DestructionWaitsForTheCallbackInProgress) {
  for (int round = 0; round < 3; ++round) {
    auto buffer = std::make_unique<Sample>();
    bool called = false, destroyed = false, late_call = false;
    auto subscriber = std::make_shared<Subscriber>(
        node_.participant, UniqueTopic("destroy"),
        [&] {
          std::this_thread::sleep_for(2ms);  // a slow user, to widen the window
          std::lock_guard<std::mutex> lock(mutex_);
          late_call = late_call || destroyed;
          called = true;
          changed_.notify_all();
        },
        buffer.get(), 1);
    subscriber->InitializeDefaultProfile(10);
    auto publisher = quiral_test::StartPeer("publish", {subscriber->topic_name().substr(3)});
    Send(*publisher, 200);
    ASSERT_TRUE(WaitFor([&] { return called; }));
    subscriber.reset();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      destroyed = true;
    }
    buffer.reset();
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_FALSE(late_call);
  }
}

}  // namespace
