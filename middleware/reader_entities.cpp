#include "middleware/reader_entities.h"

#include <stdexcept>
#include <string>

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/topic/Topic.hpp>

#include "middleware/qos_profiles.h"

namespace quiral {
namespace middleware2 {
namespace detail {

namespace dds = eprosima::fastdds::dds;

namespace {
constexpr const char* kOwner = "quiral::middleware2::FastDDSSubscriber";
}  // namespace

ReaderEntities::ReaderEntities(dds::DomainParticipant* participant, dds::TypeSupport type)
    : participant_(participant), type_(std::move(type)) {}

ReaderEntities::~ReaderEntities() { DeleteEntities(); }

void ReaderEntities::Register(const std::string& topic) {
  type_registered_ = type_.register_type(participant_) ==
                     eprosima::fastrtps::types::ReturnCode_t::RETCODE_OK;
  topic_name_ = "rt/" + topic;
}

template <class ApplyProfile>
void ReaderEntities::Create(const ApplyProfile& apply_profile,
                            dds::DataReaderListener* listener) {
  if (subscriber_ != nullptr) {
    throw std::logic_error(std::string("[") + kOwner + "] A QoS profile was already applied");
  }
  subscriber_ = participant_->create_subscriber(dds::SUBSCRIBER_QOS_DEFAULT, nullptr,
                                                dds::StatusMask::all());
  if (subscriber_ == nullptr) {
    throw std::runtime_error("Failed to create DDS subscriber");
  }
  // A topic made while another type holds this type's name would read
  // samples through that other type's deserialiser.
  if (type_registered_) {
    topic_ = participant_->create_topic(topic_name_, type_.get_type_name(), dds::TOPIC_QOS_DEFAULT,
                                        nullptr, dds::StatusMask::all());
  }
  if (topic_ == nullptr) {
    throw std::runtime_error("Failed to create DDS subscriber topic");
  }
  dds::DataReaderQos qos = subscriber_->get_default_datareader_qos();
  apply_profile(qos);
  reader_ = subscriber_->create_datareader(topic_, qos, listener, dds::StatusMask::all());
  if (reader_ == nullptr) {
    throw std::runtime_error("Failed to create DDS reader");
  }
}

void ReaderEntities::InitializeDefaultProfile(int32_t depth, dds::DataReaderListener* listener) {
  CheckQosDepth(depth, kOwner);
  Create([depth](dds::DataReaderQos& qos) { ApplyDefaultProfile(qos, depth, kOwner); }, listener);
}

void ReaderEntities::InitializeRealtimeSocketProfile(dds::DataReaderListener* listener) {
  Create([](dds::DataReaderQos& qos) { ApplyRealtimeSocketProfile(qos); }, listener);
}

void ReaderEntities::DeleteEntities() noexcept {
  if (reader_ != nullptr) {
    if (subscriber_->delete_datareader(reader_) !=
        eprosima::fastrtps::types::ReturnCode_t::RETCODE_OK) {
      // A reader the library keeps must not call a listener that is about
      // to be destroyed.
      (void)reader_->set_listener(nullptr, dds::StatusMask::none());
    }
    reader_ = nullptr;
  }
  if (subscriber_ != nullptr) {
    (void)participant_->delete_subscriber(subscriber_);
    subscriber_ = nullptr;
  }
  if (topic_ != nullptr) {
    (void)participant_->delete_topic(topic_);
    topic_ = nullptr;
  }
}

}  // namespace detail
}  // namespace middleware2
}  // namespace quiral
