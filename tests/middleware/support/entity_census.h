// Records the DDS entities of endpoints so a test can tell, after the
// endpoints are gone, whether any of them is still in the participant.
#pragma once

#include <vector>

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/publisher/Publisher.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/topic/Topic.hpp>

#include "middleware/fast_dds_publisher.h"
#include "middleware/fast_dds_subscriber.h"

namespace quiral_test {

class EntityCensus {
 public:
  template <class T>
  void Add(const quiral::middleware2::FastDDSPublisher<T>& endpoint) {
    AddEntity(endpoint.publisher());
    AddEntity(endpoint.topic());
    AddEntity(endpoint.writer());
  }

  template <class T>
  void Add(const quiral::middleware2::FastDDSSubscriber<T>& endpoint) {
    AddEntity(endpoint.subscriber());
    AddEntity(endpoint.topic());
    AddEntity(endpoint.reader());
  }

  size_t recorded() const { return handles_.size(); }

  // How many recorded entities the participant still contains.
  size_t RemainingIn(eprosima::fastdds::dds::DomainParticipant* participant) const {
    size_t remaining = 0;
    for (const auto& handle : handles_) {
      remaining += participant->contains_entity(handle) ? 1 : 0;
    }
    return remaining;
  }

 private:
  template <class Entity>
  void AddEntity(const Entity* entity) {
    if (entity != nullptr) {
      handles_.push_back(entity->get_instance_handle());
    }
  }

  std::vector<eprosima::fastrtps::rtps::InstanceHandle_t> handles_;
};

}  // namespace quiral_test
