#include "bench/support/raw_dds.h"

#include <stdexcept>
#include <type_traits>

#include <fastdds/dds/core/condition/StatusCondition.hpp>

#include "middleware/endpoint_match.h"
#include "middleware/qos_profiles.h"
#include "middleware/rpc_deadline.h"

namespace quiral::bench {
namespace {

namespace dds = eprosima::fastdds::dds;

dds::Topic* FindOrCreateTopic(dds::DomainParticipant* participant, dds::TypeSupport& type,
                              const std::string& name) {
  type.register_type(participant);
  dds::Topic* topic = participant->create_topic(name, type.get_type_name(), dds::TOPIC_QOS_DEFAULT);
  if (topic == nullptr) throw std::runtime_error("bench: no topic " + name);
  return topic;
}

template <class Qos>
void Apply(Qos& qos, RawProfile profile) {
  if (profile == RawProfile::kReliable) {
    middleware2::ApplyDefaultProfile(qos, middleware2::kDefaultQosDepth, "bench");
  } else if constexpr (std::is_same_v<Qos, dds::DataWriterQos>) {
    middleware2::ApplyRealtimeSocketProfile(qos, profile == RawProfile::kRealtimeSync);
  } else {
    middleware2::ApplyRealtimeSocketProfile(qos);
  }
}

eprosima::fastrtps::Duration_t Left(std::chrono::steady_clock::time_point deadline) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
  if (ns <= 0) return eprosima::fastrtps::Duration_t(0, 0);
  return eprosima::fastrtps::Duration_t(static_cast<int32_t>(ns / 1000000000),
                                        static_cast<uint32_t>(ns % 1000000000));
}

}  // namespace

RawWriter::RawWriter(dds::DomainParticipant* participant, dds::TypeSupport type,
                     const std::string& topic, RawProfile profile)
    : participant_(participant) {
  topic_ = FindOrCreateTopic(participant, type, topic);
  publisher_ = participant->create_publisher(dds::PUBLISHER_QOS_DEFAULT);
  dds::DataWriterQos qos = publisher_->get_default_datawriter_qos();
  Apply(qos, profile);
  writer_ = publisher_->create_datawriter(topic_, qos);
  if (writer_ == nullptr) throw std::runtime_error("bench: no writer on " + topic);
}

RawWriter::~RawWriter() {
  publisher_->delete_datawriter(writer_);
  participant_->delete_publisher(publisher_);
  participant_->delete_topic(topic_);
}

bool RawWriter::WaitMatched(std::chrono::milliseconds timeout) const {
  return middleware2::WaitForMatchedReader(
      writer_, middleware2::RpcDeadline(std::chrono::duration<double>(timeout).count()));
}

RawReader::RawReader(dds::DomainParticipant* participant, dds::TypeSupport type,
                     const std::string& topic, RawProfile profile,
                     std::function<void(dds::DataReader*)> on_data)
    : participant_(participant), on_data_(std::move(on_data)) {
  topic_ = FindOrCreateTopic(participant, type, topic);
  subscriber_ = participant->create_subscriber(dds::SUBSCRIBER_QOS_DEFAULT);
  dds::DataReaderQos qos = subscriber_->get_default_datareader_qos();
  Apply(qos, profile);
  reader_ = subscriber_->create_datareader(topic_, qos, on_data_ ? this : nullptr);
  if (reader_ == nullptr) throw std::runtime_error("bench: no reader on " + topic);
  if (!on_data_) {
    reader_->get_statuscondition().set_enabled_statuses(dds::StatusMask::data_available());
    wait_set_.attach_condition(reader_->get_statuscondition());
  }
}

RawReader::~RawReader() {
  if (!on_data_) wait_set_.detach_condition(reader_->get_statuscondition());
  subscriber_->delete_datareader(reader_);
  participant_->delete_subscriber(subscriber_);
  participant_->delete_topic(topic_);
}

bool RawReader::Take(dds::DataReader* reader, void* sample) {
  dds::SampleInfo info;
  while (reader->take_next_sample(sample, &info) == ReturnCode_t::RETCODE_OK) {
    if (info.valid_data) return true;
  }
  return false;
}

bool RawReader::Wait(std::chrono::steady_clock::time_point deadline) {
  dds::ConditionSeq active;
  return wait_set_.wait(active, Left(deadline)) == ReturnCode_t::RETCODE_OK;
}

}  // namespace quiral::bench
