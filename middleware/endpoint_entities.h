// The DDS entities behind one typed endpoint, independent of the message
// type: a DDS publisher, topic and data writer for FastDDSPublisher, or a
// DDS subscriber, topic and data reader for FastDDSSubscriber. One profile
// operation creates them; they are deleted in reverse order.
#pragma once

#include <cstdint>
#include <string>

#include <fastdds/dds/topic/TypeSupport.hpp>
#include <fastdds/rtps/common/SampleIdentity.h>

namespace eprosima {
namespace fastdds {
namespace dds {
class DataReader;
class DataReaderListener;
class DataWriter;
class DataWriterListener;
class DomainParticipant;
class Publisher;
class Subscriber;
class Topic;
}  // namespace dds
}  // namespace fastdds
}  // namespace eprosima

namespace quiral {
namespace middleware2 {
namespace detail {

// The two sides differ only in their DDS entity types and error texts;
// the library calls that differ are overloads in endpoint_entities.cpp.
struct WriterSide {
  using Container = eprosima::fastdds::dds::Publisher;
  using Endpoint = eprosima::fastdds::dds::DataWriter;
  using Listener = eprosima::fastdds::dds::DataWriterListener;
  static constexpr const char* kOwner = "quiral::middleware2::FastDDSPublisher";
  static constexpr const char* kContainerError = "Failed to create DDS publisher";
  static constexpr const char* kTopicError = "Failed to create DDS publisher topic";
  static constexpr const char* kEndpointError = "Failed to create DDS data writer";
};

struct ReaderSide {
  using Container = eprosima::fastdds::dds::Subscriber;
  using Endpoint = eprosima::fastdds::dds::DataReader;
  using Listener = eprosima::fastdds::dds::DataReaderListener;
  static constexpr const char* kOwner = "quiral::middleware2::FastDDSSubscriber";
  static constexpr const char* kContainerError = "Failed to create DDS subscriber";
  static constexpr const char* kTopicError = "Failed to create DDS subscriber topic";
  static constexpr const char* kEndpointError = "Failed to create DDS reader";
};

// Side is WriterSide or ReaderSide; both instantiations are made in
// endpoint_entities.cpp.
template <class Side>
class EndpointEntities {
 public:
  using Container = typename Side::Container;
  using Endpoint = typename Side::Endpoint;
  using Listener = typename Side::Listener;

  // Creates no DDS entity and registers nothing yet.
  EndpointEntities(eprosima::fastdds::dds::DomainParticipant* participant,
                   eprosima::fastdds::dds::TypeSupport type);
  // Deletes whatever DeleteEntities has not deleted yet.
  ~EndpointEntities();

  EndpointEntities(const EndpointEntities&) = delete;
  EndpointEntities& operator=(const EndpointEntities&) = delete;

  // Registers the type with the participant and sets the topic name to
  // "rt/" + topic.
  void Register(const std::string& topic);

  // Create the container, the topic and the endpoint with one profile, the
  // endpoint calling `listener` (may be null). Throw std::runtime_error
  // Side::kContainerError, kTopicError or kEndpointError; the entities made
  // before a failure stay recorded. One profile operation per object: a
  // second one throws std::logic_error. A default-profile depth above
  // kMaxQosDepth throws std::invalid_argument before anything is created.
  // `sync` (writers only; a reader has no publish mode) makes the writer
  // publish on the caller's thread.
  void InitializeDefaultProfile(int32_t depth, Listener* listener);
  void InitializeRealtimeSocketProfile(bool sync, Listener* listener);

  // Deletes the endpoint, then the container, then the topic, each only
  // when it exists. After it returns the library calls the listener no
  // more.
  void DeleteEntities() noexcept;

  const std::string& topic_name() const { return topic_name_; }
  eprosima::fastdds::dds::DomainParticipant* participant() const { return participant_; }
  Container* container() const { return container_; }
  eprosima::fastdds::dds::Topic* topic() const { return topic_; }
  Endpoint* endpoint() const { return endpoint_; }

 private:
  template <class ApplyProfile>
  void Create(const ApplyProfile& apply_profile, Listener* listener);

  std::string topic_name_;
  eprosima::fastdds::dds::DomainParticipant* participant_;
  Container* container_ = nullptr;
  eprosima::fastdds::dds::Topic* topic_ = nullptr;
  Endpoint* endpoint_ = nullptr;
  eprosima::fastdds::dds::TypeSupport type_;
  // False when the participant already knows a different type under the
  // same name; a topic is then never created for this type.
  bool type_registered_ = false;
};

using WriterEntities = EndpointEntities<WriterSide>;
using ReaderEntities = EndpointEntities<ReaderSide>;

// Writes one sample with `writer`; false when the writer refuses it or is
// null.
bool WriteSample(eprosima::fastdds::dds::DataWriter* writer, const void* sample);
// The same, handing back the identity the library gave the sample (its
// writer and sequence number); `identity` is written only on success.
bool WriteSample(eprosima::fastdds::dds::DataWriter* writer, const void* sample,
                 eprosima::fastrtps::rtps::SampleIdentity& identity);

}  // namespace detail
}  // namespace middleware2
}  // namespace quiral
