// The DDS entities behind one typed subscriber, independent of the message
// type: a DDS subscriber, a topic and a data reader with its listener,
// created by one profile operation and deleted in reverse order.
#pragma once

#include <cstdint>
#include <string>

#include <fastdds/dds/topic/TypeSupport.hpp>

namespace eprosima {
namespace fastdds {
namespace dds {
class DataReader;
class DataReaderListener;
class DomainParticipant;
class Subscriber;
class Topic;
}  // namespace dds
}  // namespace fastdds
}  // namespace eprosima

namespace quiral {
namespace middleware2 {
namespace detail {

class ReaderEntities {
 public:
  // Creates no DDS entity and registers nothing yet.
  ReaderEntities(eprosima::fastdds::dds::DomainParticipant* participant,
                 eprosima::fastdds::dds::TypeSupport type);
  // Deletes whatever DeleteEntities has not deleted yet.
  ~ReaderEntities();

  ReaderEntities(const ReaderEntities&) = delete;
  ReaderEntities& operator=(const ReaderEntities&) = delete;

  // Registers the type with the participant and sets the topic name to
  // "rt/" + topic.
  void Register(const std::string& topic);

  // Create the subscriber, the topic and the data reader with one profile,
  // the reader calling `listener`. Throw std::runtime_error "Failed to
  // create DDS subscriber", "... subscriber topic" or "... reader"; the
  // entities made before a failure stay recorded. One profile operation per
  // object: a second one throws std::logic_error.
  void InitializeDefaultProfile(int32_t depth, eprosima::fastdds::dds::DataReaderListener* listener);
  void InitializeRealtimeSocketProfile(eprosima::fastdds::dds::DataReaderListener* listener);

  // Deletes the data reader, then the subscriber, then the topic, each only
  // when it exists. After it returns the library calls the listener no more.
  void DeleteEntities() noexcept;

  const std::string& topic_name() const { return topic_name_; }
  eprosima::fastdds::dds::DomainParticipant* participant() const { return participant_; }
  eprosima::fastdds::dds::Subscriber* subscriber() const { return subscriber_; }
  eprosima::fastdds::dds::Topic* topic() const { return topic_; }
  eprosima::fastdds::dds::DataReader* reader() const { return reader_; }

 private:
  template <class ApplyProfile>
  void Create(const ApplyProfile& apply_profile,
              eprosima::fastdds::dds::DataReaderListener* listener);

  std::string topic_name_;
  eprosima::fastdds::dds::DomainParticipant* participant_;
  eprosima::fastdds::dds::Subscriber* subscriber_ = nullptr;
  eprosima::fastdds::dds::Topic* topic_ = nullptr;
  eprosima::fastdds::dds::DataReader* reader_ = nullptr;
  eprosima::fastdds::dds::TypeSupport type_;
  // False when the participant already knows a different type under the
  // same name; a topic is then never created for this type.
  bool type_registered_ = false;
};

}  // namespace detail
}  // namespace middleware2
}  // namespace quiral
