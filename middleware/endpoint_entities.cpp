#include "middleware/endpoint_entities.h"

#include <stdexcept>
#include <string>
#include <utility>

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/publisher/Publisher.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/topic/Topic.hpp>
#include <fastdds/rtps/common/WriteParams.h>

#include "middleware/qos_profiles.h"

namespace quiral {
namespace middleware2 {
namespace detail {

namespace dds = eprosima::fastdds::dds;
using eprosima::fastrtps::types::ReturnCode_t;

namespace {

// The library calls in which the two sides differ.

dds::Publisher* CreateContainer(dds::DomainParticipant* participant, WriterSide) {
  return participant->create_publisher(dds::PUBLISHER_QOS_DEFAULT, nullptr,
                                       dds::StatusMask::all());
}
dds::Subscriber* CreateContainer(dds::DomainParticipant* participant, ReaderSide) {
  return participant->create_subscriber(dds::SUBSCRIBER_QOS_DEFAULT, nullptr,
                                        dds::StatusMask::all());
}

dds::DataWriterQos DefaultQos(dds::Publisher* publisher) {
  return publisher->get_default_datawriter_qos();
}
dds::DataReaderQos DefaultQos(dds::Subscriber* subscriber) {
  return subscriber->get_default_datareader_qos();
}

void ApplyRealtime(dds::DataWriterQos& qos, bool sync) { ApplyRealtimeSocketProfile(qos, sync); }
void ApplyRealtime(dds::DataReaderQos& qos, bool /*sync*/) { ApplyRealtimeSocketProfile(qos); }

dds::DataWriter* CreateEndpoint(dds::Publisher* publisher, dds::Topic* topic,
                                const dds::DataWriterQos& qos, dds::DataWriterListener* listener) {
  return publisher->create_datawriter(topic, qos, listener, dds::StatusMask::all());
}
dds::DataReader* CreateEndpoint(dds::Subscriber* subscriber, dds::Topic* topic,
                                const dds::DataReaderQos& qos, dds::DataReaderListener* listener) {
  return subscriber->create_datareader(topic, qos, listener, dds::StatusMask::all());
}

ReturnCode_t DeleteEndpoint(dds::Publisher* publisher, dds::DataWriter* writer) {
  return publisher->delete_datawriter(writer);
}
ReturnCode_t DeleteEndpoint(dds::Subscriber* subscriber, dds::DataReader* reader) {
  return subscriber->delete_datareader(reader);
}

ReturnCode_t DeleteContainer(dds::DomainParticipant* participant, dds::Publisher* publisher) {
  return participant->delete_publisher(publisher);
}
ReturnCode_t DeleteContainer(dds::DomainParticipant* participant, dds::Subscriber* subscriber) {
  return participant->delete_subscriber(subscriber);
}

}  // namespace

template <class Side>
EndpointEntities<Side>::EndpointEntities(dds::DomainParticipant* participant,
                                         dds::TypeSupport type)
    : participant_(participant), type_(std::move(type)) {}

template <class Side>
EndpointEntities<Side>::~EndpointEntities() {
  DeleteEntities();
}

template <class Side>
void EndpointEntities<Side>::Register(const std::string& topic) {
  type_registered_ = type_.register_type(participant_) == ReturnCode_t::RETCODE_OK;
  topic_name_ = "rt/" + topic;
}

template <class Side>
template <class ApplyProfile>
void EndpointEntities<Side>::Create(const ApplyProfile& apply_profile, Listener* listener) {
  if (container_ != nullptr) {
    throw std::logic_error(std::string("[") + Side::kOwner + "] A QoS profile was already applied");
  }
  container_ = CreateContainer(participant_, Side());
  if (container_ == nullptr) {
    throw std::runtime_error(Side::kContainerError);
  }
  // A topic made while another type holds this type's name would carry
  // samples through that other type's serialiser.
  if (type_registered_) {
    topic_ = participant_->create_topic(topic_name_, type_.get_type_name(), dds::TOPIC_QOS_DEFAULT,
                                        nullptr, dds::StatusMask::all());
  }
  if (topic_ == nullptr) {
    throw std::runtime_error(Side::kTopicError);
  }
  auto qos = DefaultQos(container_);
  apply_profile(qos);
  endpoint_ = CreateEndpoint(container_, topic_, qos, listener);
  if (endpoint_ == nullptr) {
    throw std::runtime_error(Side::kEndpointError);
  }
}

template <class Side>
void EndpointEntities<Side>::InitializeDefaultProfile(int32_t depth, Listener* listener) {
  CheckQosDepth(depth, Side::kOwner);
  Create([depth](auto& qos) { ApplyDefaultProfile(qos, depth, Side::kOwner); }, listener);
}

template <class Side>
void EndpointEntities<Side>::InitializeRealtimeSocketProfile(bool sync, Listener* listener) {
  Create([sync](auto& qos) { ApplyRealtime(qos, sync); }, listener);
}

template <class Side>
void EndpointEntities<Side>::DeleteEntities() noexcept {
  if (endpoint_ != nullptr) {
    if (DeleteEndpoint(container_, endpoint_) != ReturnCode_t::RETCODE_OK) {
      // An endpoint the library keeps must not call a listener that is
      // about to be destroyed.
      (void)endpoint_->set_listener(nullptr, dds::StatusMask::none());
    }
    endpoint_ = nullptr;
  }
  if (container_ != nullptr) {
    (void)DeleteContainer(participant_, container_);
    container_ = nullptr;
  }
  if (topic_ != nullptr) {
    (void)participant_->delete_topic(topic_);
    topic_ = nullptr;
  }
}

template class EndpointEntities<WriterSide>;
template class EndpointEntities<ReaderSide>;

bool WriteSample(dds::DataWriter* writer, const void* sample) {
  // The writer only reads the sample; its interface takes a mutable pointer.
  return writer != nullptr && writer->write(const_cast<void*>(sample));
}

bool WriteSample(dds::DataWriter* writer, const void* sample,
                 eprosima::fastrtps::rtps::SampleIdentity& identity) {
  eprosima::fastrtps::rtps::WriteParams params;
  if (writer == nullptr || !writer->write(const_cast<void*>(sample), params)) {
    return false;
  }
  identity = params.sample_identity();
  return true;
}

}  // namespace detail
}  // namespace middleware2
}  // namespace quiral
