// Member functions of SnapshotSubscriber that need the DDS layer. Included
// only by the sources that instantiate a SnapshotSubscriber.
#pragma once

#include <thread>

#include <spdlog/spdlog.h>

#include "client/snapshot_subscriber.h"
#include "middleware/dds_timing.h"
#include "middleware/fast_dds_subscriber.h"
#include "middleware/qos_profiles.h"

namespace quiral {
namespace vek_impl {

template <class Support, class Keep>
SnapshotSubscriber<Support, Keep>::~SnapshotSubscriber() {
  subscriber_.reset();
}

template <class Support, class Keep>
void SnapshotSubscriber<Support, Keep>::Init(eprosima::fastdds::dds::DomainParticipant* participant,
                                             const std::string& topic, SubscriberProfile profile,
                                             AfterStore after_store) {
  spdlog::debug("[quiral::vek::Robot] Creating subscriber on topic: {}", topic);
  // A previous subscriber stops writing into the buffer before a new one
  // may start.
  subscriber_.reset();
  after_store_ = std::move(after_store);
  auto subscriber = std::make_shared<middleware2::FastDDSSubscriber<Support>>(
      participant, topic, [this] { OnSample(); }, &buffer_, 1);
  if (profile == SubscriberProfile::kRealtime) {
    subscriber->InitializeRealtimeSocketProfile();
  } else {
    subscriber->InitializeDefaultProfile(middleware2::kDefaultQosDepth);
  }
  std::this_thread::sleep_for(middleware2::kEndpointSettleDelay);
  subscriber_ = std::move(subscriber);
}

template <class Support, class Keep>
void SnapshotSubscriber<Support, Keep>::OnSample() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Keep::Store(state_, buffer_);
  }
  sample_count_.fetch_add(1);
  if (after_store_) {
    after_store_(buffer_);
  }
}

}  // namespace vek_impl
}  // namespace quiral
