// Blocking request/reply over two DDS topics: a request written on
// "rt/" + topic + "_request", the reply awaited on "rt/" + topic + "_reply".
#pragma once

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "middleware/dds_timing.h"
#include "middleware/fast_dds_publisher.h"
#include "middleware/fast_dds_subscriber.h"
#include "middleware/qos_profiles.h"
#include "middleware/rpc_deadline.h"
#include "middleware/endpoint_match.h"

namespace quiral {
namespace middleware2 {

// Req and Rep are the type supports of the request and the reply. Replies
// are not matched to requests here: a call returns whichever reply arrives
// while it is awaiting, and callers compare the id the reply carries.
// Calls are serialised; created with std::make_shared and never copied.
template <class Req, class Rep>
class FastDDSRpcClient {
 public:
  using Request = typename Req::type;
  using Reply = typename Rep::type;

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

  // Writes `request` once its writer has matched a reader and the reply
  // reader a writer, and waits for a reply, all within `timeout_sec` (an
  // infinite time-out waits for ever; one below 1 ms does not wait for the
  // reply). True when a reply arrived
  // and was moved into `reply`; false when the request could not be written
  // or no reply came in time, and `reply` is then untouched. Throws
  // std::invalid_argument for a time-out that is not positive, NaN or too
  // large (see RpcDeadline), before anything is written.
  bool SendRequestAndGetReply(const Request& request, Reply& reply, double timeout_sec) {
    std::lock_guard<std::mutex> call_lock(call_mutex_);
    const RpcDeadline deadline(timeout_sec);
    // Armed before the write: a reply that comes back at once is kept.
    std::future<bool> future = Arm();
    // Both directions must be known to the server before the request goes
    // out: a request or a reply sent before its reader is matched is lost.
    const bool written = WaitForMatchedReader(request_publisher_->writer(), deadline) &&
                         WaitForMatchedWriter(reply_subscriber_->reader(), deadline) &&
                         request_publisher_->Publish(request);
    if (written) {
      if (deadline.infinite()) {
        future.wait();
      } else {
        (void)future.wait_until(deadline.when());
      }
    }
    return Disarm(written ? &reply : nullptr);
  }

 private:
  std::future<bool> Arm() {
    std::lock_guard<std::mutex> lock(reply_mutex_);
    reply_promise_ = std::promise<bool>();
    delivered_ = false;
    awaiting_.store(true);
    return reply_promise_.get_future();
  }

  // Ends the waiting of a call; hands a delivered reply to `reply`.
  bool Disarm(Reply* reply) {
    std::lock_guard<std::mutex> lock(reply_mutex_);
    awaiting_.store(false);
    const bool delivered = delivered_;
    delivered_ = false;
    if (!delivered || reply == nullptr) {
      return false;
    }
    *reply = std::move(handover_);
    return true;
  }

  // Runs on the reply reader's listener thread right after a valid reply was
  // taken into the reply buffer, before the next one can be taken.
  void OnServerReply() {
    if (!awaiting_.load()) {
      return;
    }
    std::lock_guard<std::mutex> lock(reply_mutex_);
    if (!awaiting_.load() || delivered_) {
      return;  // the call ended, or already has its reply
    }
    using std::swap;
    swap(handover_, reply_buffer_);
    delivered_ = true;
    try {
      reply_promise_.set_value(true);
    } catch (const std::future_error&) {
    }
  }

  // Written only by the listener thread.
  Reply reply_buffer_;
  // The reply of the call in progress; guarded by reply_mutex_.
  Reply handover_;
  std::promise<bool> reply_promise_;
  std::atomic<bool> awaiting_{false};
  bool delivered_ = false;
  std::mutex reply_mutex_;
  std::mutex call_mutex_;
  // Declared last so that, also when construction fails half-way, the reply
  // reader goes before the state its callback uses.
  std::shared_ptr<FastDDSPublisher<Req>> request_publisher_;
  std::shared_ptr<FastDDSSubscriber<Rep>> reply_subscriber_;
};

}  // namespace middleware2
}  // namespace quiral
