#include "middleware/writer_entities.h"

#include <stdexcept>
#include <string>

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/publisher/Publisher.hpp>
#include <fastdds/dds/topic/Topic.hpp>

#include "middleware/qos_profiles.h"

namespace quiral {
namespace middleware2 {
namespace detail {

namespace dds = eprosima::fastdds::dds;

namespace {
constexpr const char* kOwner = "quiral::middleware2::FastDDSPublisher";
}  // namespace

WriterEntities::WriterEntities(dds::DomainParticipant* participant, const std::string& topic,
                               dds::TypeSupport type)
    : topic_name_("rt/" + topic), participant_(participant), type_(std::move(type)) {
  type_registered_ = type_.register_type(participant_) ==
                     eprosima::fastrtps::types::ReturnCode_t::RETCODE_OK;
}

WriterEntities::~WriterEntities() {
  if (writer_ != nullptr) {
    (void)publisher_->delete_datawriter(writer_);
  }
  if (publisher_ != nullptr) {
    (void)participant_->delete_publisher(publisher_);
  }
  if (topic_ != nullptr) {
    (void)participant_->delete_topic(topic_);
  }
}

template <class ApplyProfile>
void WriterEntities::Create(const ApplyProfile& apply_profile) {
  if (publisher_ != nullptr) {
    throw std::logic_error(std::string("[") + kOwner + "] A QoS profile was already applied");
  }
  publisher_ = participant_->create_publisher(dds::PUBLISHER_QOS_DEFAULT, nullptr,
                                              dds::StatusMask::all());
  if (publisher_ == nullptr) {
    throw std::runtime_error("Failed to create DDS publisher");
  }
  // A topic made while another type holds this type's name would carry
  // samples through that other type's serialiser.
  if (type_registered_) {
    topic_ = participant_->create_topic(topic_name_, type_.get_type_name(), dds::TOPIC_QOS_DEFAULT,
                                        nullptr, dds::StatusMask::all());
  }
  if (topic_ == nullptr) {
    throw std::runtime_error("Failed to create DDS publisher topic");
  }
  dds::DataWriterQos qos = publisher_->get_default_datawriter_qos();
  apply_profile(qos);
  writer_ = publisher_->create_datawriter(topic_, qos, nullptr, dds::StatusMask::all());
  if (writer_ == nullptr) {
    throw std::runtime_error("Failed to create DDS data writer");
  }
}

void WriterEntities::InitializeDefaultProfile(int32_t depth) {
  CheckQosDepth(depth, kOwner);
  Create([depth](dds::DataWriterQos& qos) { ApplyDefaultProfile(qos, depth, kOwner); });
}

void WriterEntities::InitializeRealtimeSocketProfile(bool sync) {
  Create([sync](dds::DataWriterQos& qos) { ApplyRealtimeSocketProfile(qos, sync); });
}

bool WriterEntities::Write(const void* sample) const {
  if (writer_ == nullptr) {
    return false;
  }
  // The writer only reads the sample; its interface takes a mutable pointer.
  return writer_->write(const_cast<void*>(sample));
}

}  // namespace detail
}  // namespace middleware2
}  // namespace quiral
