// Typed DDS publisher: one data writer on one topic.
#pragma once

#include <cstdint>
#include <string>

#include <fastdds/dds/topic/TypeSupport.hpp>

#include "middleware/endpoint_entities.h"

namespace quiral {
namespace middleware2 {

// T is a type support (derived from TopicDataType, default-constructible)
// whose message type is T::type. Held in shared ownership; never copied.
// Must be destroyed before the node whose participant it uses.
template <class T>
class FastDDSPublisher {
 public:
  using Message = typename T::type;

  // The DDS topic is named "rt/" + topic. Registers the type; creates no DDS
  // entity and reports no error.
  FastDDSPublisher(eprosima::fastdds::dds::DomainParticipant* participant, const std::string& topic)
      : entities_(participant, eprosima::fastdds::dds::TypeSupport(new T())) {
    entities_.Register(topic);
  }

  virtual ~FastDDSPublisher() = default;

  FastDDSPublisher(const FastDDSPublisher&) = delete;
  FastDDSPublisher& operator=(const FastDDSPublisher&) = delete;

  // Reliable profile, written synchronously, keeping the last max(depth, 1) samples.
  void InitializeDefaultProfile(int32_t depth) {
    entities_.InitializeDefaultProfile(depth, nullptr);
  }

  // Best-effort profile for periodic samples; `sync` sends on the caller's
  // thread inside Publish, otherwise on the library's sending thread.
  void InitializeRealtimeSocketProfile(bool sync) {
    entities_.InitializeRealtimeSocketProfile(sync, nullptr);
  }

  // Writes one sample; the data writer's result, false when no profile
  // operation has succeeded.
  bool Publish(const Message& sample) { return detail::WriteSample(entities_.endpoint(), &sample); }
  // The same, handing back the sample's identity, by which a peer can name
  // the sample it answers; `identity` is written only on success.
  bool Publish(const Message& sample, eprosima::fastrtps::rtps::SampleIdentity& identity) {
    return detail::WriteSample(entities_.endpoint(), &sample, identity);
  }

  const std::string& topic_name() const { return entities_.topic_name(); }
  eprosima::fastdds::dds::DomainParticipant* participant() const {
    return entities_.participant();
  }
  eprosima::fastdds::dds::Publisher* publisher() const { return entities_.container(); }
  eprosima::fastdds::dds::Topic* topic() const { return entities_.topic(); }
  eprosima::fastdds::dds::DataWriter* writer() const { return entities_.endpoint(); }

 private:
  detail::WriterEntities entities_;
};

}  // namespace middleware2
}  // namespace quiral
