// The DDS entities behind one typed publisher, independent of the message
// type: a DDS publisher, a topic and a data writer, created by one profile
// operation and deleted in reverse order.
#pragma once

#include <cstdint>
#include <string>

#include <fastdds/dds/topic/TypeSupport.hpp>

namespace eprosima {
namespace fastdds {
namespace dds {
class DataWriter;
class DomainParticipant;
class Publisher;
class Topic;
}  // namespace dds
}  // namespace fastdds
}  // namespace eprosima

namespace quiral {
namespace middleware2 {
namespace detail {

class WriterEntities {
 public:
  // Registers `type` with the participant; creates no DDS entity.
  WriterEntities(eprosima::fastdds::dds::DomainParticipant* participant, const std::string& topic,
                 eprosima::fastdds::dds::TypeSupport type);
  // Deletes the data writer, the publisher and the topic, each only when it
  // was created.
  ~WriterEntities();

  WriterEntities(const WriterEntities&) = delete;
  WriterEntities& operator=(const WriterEntities&) = delete;

  // Create the publisher, the topic and the data writer with one profile.
  // Throw std::runtime_error "Failed to create DDS publisher", "... publisher
  // topic" or "... data writer"; the entities made before a failure stay
  // recorded for the destructor. One profile operation per object: a second
  // one throws std::logic_error.
  void InitializeDefaultProfile(int32_t depth);
  void InitializeRealtimeSocketProfile(bool sync);

  // Writes one sample; false when the writer refuses it or does not exist.
  bool Write(const void* sample) const;

  const std::string& topic_name() const { return topic_name_; }
  eprosima::fastdds::dds::DomainParticipant* participant() const { return participant_; }
  eprosima::fastdds::dds::Publisher* publisher() const { return publisher_; }
  eprosima::fastdds::dds::Topic* topic() const { return topic_; }
  eprosima::fastdds::dds::DataWriter* writer() const { return writer_; }

 private:
  template <class ApplyProfile>
  void Create(const ApplyProfile& apply_profile);

  std::string topic_name_;
  eprosima::fastdds::dds::DomainParticipant* participant_;
  eprosima::fastdds::dds::Publisher* publisher_ = nullptr;
  eprosima::fastdds::dds::Topic* topic_ = nullptr;
  eprosima::fastdds::dds::DataWriter* writer_ = nullptr;
  eprosima::fastdds::dds::TypeSupport type_;
  // False when the participant already knows a different type under the
  // same name; a topic is then never created for this type.
  bool type_registered_ = false;
};

}  // namespace detail
}  // namespace middleware2
}  // namespace quiral
