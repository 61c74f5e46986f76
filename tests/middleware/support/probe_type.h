// A small wire type used only by the middleware tests and benchmarks: a
// request-like message with an id, a text and an octet payload, and its DDS
// type support.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <fastdds/dds/topic/TopicDataType.hpp>

namespace eprosima {
namespace fastcdr {
class Cdr;
}  // namespace fastcdr
}  // namespace eprosima

namespace quiral_test {
namespace msg {

class Probe {
 public:
  // Largest payload the type support accepts, in bytes.
  static constexpr uint32_t kMaxPayload = 65536;

  uint32_t id = 0;
  uint64_t seq = 0;
  std::string text;
  std::vector<uint8_t> payload;

  bool operator==(const Probe& other) const {
    return id == other.id && seq == other.seq && text == other.text && payload == other.payload;
  }
  bool operator!=(const Probe& other) const { return !(*this == other); }

  static size_t getMaxCdrSerializedSize(size_t current_alignment = 0);
  void serialize(eprosima::fastcdr::Cdr& cdr) const;
  void deserialize(eprosima::fastcdr::Cdr& cdr);
};

class ProbePubSubType : public eprosima::fastdds::dds::TopicDataType {
 public:
  using type = Probe;

  // The DDS type name can be changed to provoke a type-name clash.
  explicit ProbePubSubType(const char* name = "quiral_test::msg::dds_::Probe_");
  ~ProbePubSubType() override = default;

  bool serialize(void* data, eprosima::fastrtps::rtps::SerializedPayload_t* payload) override;
  bool deserialize(eprosima::fastrtps::rtps::SerializedPayload_t* payload, void* data) override;
  std::function<uint32_t()> getSerializedSizeProvider(void* data) override;
  void* createData() override;
  void deleteData(void* data) override;
  bool getKey(void* data, eprosima::fastrtps::rtps::InstanceHandle_t* handle,
              bool force_md5 = false) override;
};

// Same wire name as ProbePubSubType but a different, fixed-size layout: the
// two must never share a topic.
class OtherProbe {
 public:
  uint64_t value = 0;
};

class OtherProbePubSubType : public eprosima::fastdds::dds::TopicDataType {
 public:
  using type = OtherProbe;

  OtherProbePubSubType();
  bool serialize(void* data, eprosima::fastrtps::rtps::SerializedPayload_t* payload) override;
  bool deserialize(eprosima::fastrtps::rtps::SerializedPayload_t* payload, void* data) override;
  std::function<uint32_t()> getSerializedSizeProvider(void* data) override;
  void* createData() override;
  void deleteData(void* data) override;
  bool getKey(void* data, eprosima::fastrtps::rtps::InstanceHandle_t* handle,
              bool force_md5 = false) override;
};

}  // namespace msg
}  // namespace quiral_test
