// A subscription that keeps what it receives under a mutex of its own (by
// default the newest sample) and counts the samples. The real-time states,
// both data streams and the event log are each one of these.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace eprosima {
namespace fastdds {
namespace dds {
class DomainParticipant;
}  // namespace dds
}  // namespace fastdds
}  // namespace eprosima

namespace quiral {
namespace middleware2 {
template <class T>
class FastDDSSubscriber;
}  // namespace middleware2

namespace vek_impl {

// Profile of the subscriber: best effort for periodic samples where only
// the newest matters, or reliable with depth 10.
enum class SubscriberProfile { kRealtime, kReliable };

// Keeps the newest sample: each one replaces the previous.
template <class Message>
struct KeepNewest {
  using State = Message;
  static void Store(State& state, const Message& sample) { state = sample; }
};

// Support is the message's type support (message type Support::type). Keep
// has a State type and a static Store(State&, const Message&) that folds
// one sample into the state; it runs on the DDS listener thread, under the
// mutex, for every valid sample. The other threads read the state only
// through Snapshot and Read, which take the same mutex.
//
// The member functions that need the DDS layer are defined in
// client/snapshot_subscriber_impl.h; each instantiation is made explicitly
// in the source of the service that uses it.
template <class Support, class Keep = KeepNewest<typename Support::type>>
class SnapshotSubscriber {
 public:
  using Message = typename Support::type;
  using State = typename Keep::State;
  // Runs on the listener thread after a sample was stored and counted,
  // outside the mutex, with the sample.
  using AfterStore = std::function<void(const Message&)>;

  SnapshotSubscriber() = default;
  // Releases the subscriber first: its destruction waits for a callback in
  // progress, and none runs afterwards, so the state is never written while
  // (or after) it goes away.
  ~SnapshotSubscriber();

  SnapshotSubscriber(const SnapshotSubscriber&) = delete;
  SnapshotSubscriber& operator=(const SnapshotSubscriber&) = delete;

  // Subscribes to "rt/" + `topic` on `participant` with `profile` and pauses
  // 100 ms; a previous subscriber is released first. Logs the topic at
  // debug level. DDS creation failures throw.
  void Init(eprosima::fastdds::dds::DomainParticipant* participant, const std::string& topic,
            SubscriberProfile profile, AfterStore after_store = {});

  // A copy of the state.
  State Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
  }

  // `read` applied to the state under the mutex: reads a few fields without
  // copying the whole state. `read` must not call back into this object.
  template <class Reader>
  auto Read(Reader&& read) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::forward<Reader>(read)(std::as_const(state_));
  }

  // Samples received since construction; never reset. Counted after the
  // sample was stored, so whoever sees a new count finds its sample stored.
  uint64_t SampleCount() const { return sample_count_.load(); }

 private:
  void OnSample();

  Message buffer_;  // the listener thread's
  State state_;
  mutable std::mutex mutex_;  // guards state_
  std::atomic<uint64_t> sample_count_{0};
  AfterStore after_store_;
  std::shared_ptr<middleware2::FastDDSSubscriber<Support>> subscriber_;
};

}  // namespace vek_impl
}  // namespace quiral
