// Blocking request/reply over two DDS topics: a request written on
// "rt/" + topic + "_request", the reply awaited on "rt/" + topic + "_reply".
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "middleware/dds_timing.h"
#include "middleware/fast_dds_publisher.h"
#include "middleware/fast_dds_subscriber.h"
#include "middleware/qos_profiles.h"
#include "middleware/rpc_call.h"
#include "middleware/rpc_deadline.h"
#include "middleware/endpoint_match.h"

namespace quiral {
namespace middleware2 {

// Req and Rep are the type supports of the request and the reply. A call
// takes the first reply that answers it (see RpcCall) and drops every
// other reply that arrives while it waits: a late answer to an earlier
// call, or a reply meant for another client on the same topic.
// Calls are serialised; created with std::make_shared and never copied.
template <class Req, class Rep>
class FastDDSRpcClient {
 public:
  using Request = typename Req::type;
  using Reply = typename Rep::type;
  using Call = RpcCall<Reply>;

  // Creates both endpoints on `participant` (reliable, depth 10), pausing
  // 100 ms after each so that the server discovers them. Throws what the
  // endpoints throw.
  FastDDSRpcClient(eprosima::fastdds::dds::DomainParticipant* participant,
                   const std::string& topic) {
    request_publisher_ = std::make_shared<FastDDSPublisher<Req>>(participant, topic + "_request");
    request_publisher_->InitializeDefaultProfile(kDefaultQosDepth);
    std::this_thread::sleep_for(kEndpointSettleDelay);
    reply_subscriber_ = std::make_shared<FastDDSSubscriber<Rep>>(
        participant, topic + "_reply", [this] { OnServerReply(); }, &reply_buffer_, 1);
    reply_listener_ = &reply_subscriber_->listener();
    reply_subscriber_->InitializeDefaultProfile(kDefaultQosDepth);
    std::this_thread::sleep_for(kEndpointSettleDelay);
  }

  // Deletes the reply reader first, so that no reply is handled while the
  // rest of the client goes away.
  virtual ~FastDDSRpcClient() {
    reply_subscriber_.reset();
    request_publisher_.reset();
  }

  FastDDSRpcClient(const FastDDSRpcClient&) = delete;
  FastDDSRpcClient& operator=(const FastDDSRpcClient&) = delete;

  // One attempt of `call`: writes `request` once its writer has matched a
  // reader and the reply reader a writer, notes it in `call`, and waits for
  // a reply that answers `call`, all within `timeout_sec` (an infinite
  // time-out waits for ever; one below 1 ms takes only a reply that has
  // already arrived). True when such a reply arrived and was moved into
  // `reply`; false when the request could not be written or no such reply
  // came in time, and `reply` is then untouched. Throws
  // std::invalid_argument for a time-out that is not positive, NaN or too
  // large (see RpcDeadline), before anything is written.
  bool SendRequestAndGetReply(const Request& request, Reply& reply, double timeout_sec,
                              Call& call) {
    std::lock_guard<std::mutex> call_lock(call_mutex_);
    const RpcDeadline deadline(timeout_sec);
    // Armed before the write: a reply that comes back at once is kept.
    Arm();
    // Both directions must be known to the server before the request goes
    // out: a request or a reply sent before its reader is matched is lost.
    typename Call::Identity sent;
    const bool written = WaitForMatchedReader(request_publisher_->writer(), deadline) &&
                         WaitForMatchedWriter(reply_subscriber_->reader(), deadline) &&
                         request_publisher_->Publish(request, sent);
    if (written) {
      call.Sent(sent);
    }
    return AwaitReply(written ? &call : nullptr, deadline, reply);
  }

  // The same for a call of one attempt: it takes the reply that names this
  // request, or the first that names none.
  bool SendRequestAndGetReply(const Request& request, Reply& reply, double timeout_sec) {
    Call call;
    return SendRequestAndGetReply(request, reply, timeout_sec, call);
  }

 private:
  struct ArrivedReply {
    typename Call::Identity related;
    Reply reply;
  };

  void Arm() {
    std::lock_guard<std::mutex> lock(reply_mutex_);
    arrived_.clear();
    awaiting_.store(true);
  }

  // Waits until a reply that answers `call` has arrived (none is awaited
  // when `call` is null) or the deadline passes, drops the others, and
  // ends the waiting of the call.
  bool AwaitReply(const Call* call, const RpcDeadline& deadline, Reply& reply) {
    std::unique_lock<std::mutex> lock(reply_mutex_);
    bool answered = false;
    while (call != nullptr && !(answered = TakeAnswer(*call, reply)) && !deadline.expired()) {
      if (deadline.infinite()) {
        arrival_.wait(lock);
      } else {
        arrival_.wait_until(lock, deadline.when());
      }
    }
    awaiting_.store(false);
    arrived_.clear();
    return answered;
  }

  // Moves the first arrived reply that answers `call` into `reply`,
  // dropping those before it; reply_mutex_ is held.
  bool TakeAnswer(const Call& call, Reply& reply) {
    while (!arrived_.empty()) {
      ArrivedReply next = std::move(arrived_.front());
      arrived_.pop_front();
      if (call.Answered(next.related, next.reply)) {
        reply = std::move(next.reply);
        return true;
      }
    }
    return false;
  }

  // Runs on the reply reader's listener thread right after a valid reply was
  // taken into the reply buffer, before the next one can be taken. While a
  // call waits, the whole reply moves to the waiting side, with the request
  // it names, under reply_mutex_: the caller never sees half a sample.
  void OnServerReply() {
    if (!awaiting_.load()) {
      return;
    }
    {
      std::lock_guard<std::mutex> lock(reply_mutex_);
      if (!awaiting_.load()) {
        return;  // the call ended
      }
      arrived_.push_back({reply_listener_->info().related_sample_identity, Reply()});
      using std::swap;
      swap(arrived_.back().reply, reply_buffer_);
    }
    arrival_.notify_one();
  }

  // Written only by the listener thread.
  Reply reply_buffer_;
  // Set before the reply reader exists; gives the request a reply names.
  const FastDDSListener<Rep>* reply_listener_ = nullptr;
  // Replies that arrived while the call in progress waits, in order;
  // guarded by reply_mutex_.
  std::deque<ArrivedReply> arrived_;
  std::atomic<bool> awaiting_{false};
  std::mutex reply_mutex_;
  std::condition_variable arrival_;
  std::mutex call_mutex_;
  // Declared last so that, also when construction fails half-way, the reply
  // reader goes before the state its callback uses.
  std::shared_ptr<FastDDSPublisher<Req>> request_publisher_;
  std::shared_ptr<FastDDSSubscriber<Rep>> reply_subscriber_;
};

}  // namespace middleware2
}  // namespace quiral
