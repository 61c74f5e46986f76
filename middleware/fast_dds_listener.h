// Data-reader listener of a typed subscriber: takes each arriving sample
// into the user's buffer and runs the user's callback for every n-th valid
// sample.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>

#include <fastdds/dds/core/status/SubscriptionMatchedStatus.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/DataReaderListener.hpp>
#include <fastdds/dds/subscriber/SampleInfo.hpp>

namespace quiral {
namespace middleware2 {

// T is a type support whose message type is T::type.
//
// The library calls on_data_available on its own threads. The take into the
// buffer and the callback run under the listener's mutex, so notifications
// never overlap and Close() can wait for the one in progress. The buffer
// belongs to the listener thread: a user reads it only inside its callback
// (or after its callback has handed the sample over under a lock of the
// user's own).
template <class T>
class FastDDSListener : public eprosima::fastdds::dds::DataReaderListener {
 public:
  using Message = typename T::type;

  FastDDSListener() = default;
  ~FastDDSListener() override = default;

  FastDDSListener(const FastDDSListener&) = delete;
  FastDDSListener& operator=(const FastDDSListener&) = delete;

  // Set once, before the data reader exists.
  void Configure(std::function<void()> callback, Message* message, uint32_t filtering_factor) {
    callback_ = std::move(callback);
    message_ = message;
    filtering_factor_ = filtering_factor;
  }

  void on_data_available(eprosima::fastdds::dds::DataReader* reader) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) {
      return;
    }
    if (reader->take_next_sample(message_, &info_) !=
        eprosima::fastrtps::types::ReturnCode_t::RETCODE_OK) {
      return;
    }
    if (!info_.valid_data || !callback_) {
      return;
    }
    ++sample_count_;
    if (sample_count_ % filtering_factor_ == 0) {
      callback_();
    }
  }

  void on_subscription_matched(
      eprosima::fastdds::dds::DataReader* /*reader*/,
      const eprosima::fastdds::dds::SubscriptionMatchedStatus& info) override {
    if (info.current_count_change == 1) {
      matched_.store(true);
    } else if (info.current_count_change == -1) {
      matched_.store(false);
    }
  }

  // Waits for a notification in progress to end; afterwards no notification
  // touches the buffer or runs the callback. Must not be called from the
  // callback, nor while holding a lock that the callback takes.
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }

  // True while a writer is matched, as far as the +1/-1 changes tell.
  bool matched() const { return matched_.load(); }

  // The sample information of the sample just taken (for example the
  // request a reply names); read it only inside the callback.
  const eprosima::fastdds::dds::SampleInfo& info() const { return info_; }

 private:
  Message* message_ = nullptr;
  eprosima::fastdds::dds::SampleInfo info_;
  std::function<void()> callback_;
  uint32_t filtering_factor_ = 1;
  uint64_t sample_count_ = 0;
  std::atomic<bool> matched_{false};
  std::mutex mutex_;
  bool closed_ = false;
};

}  // namespace middleware2
}  // namespace quiral
