// Common base of the type-support classes through which Fast-DDS handles the
// message types that travel alone on a topic.
//
// Each `<Type>PubSubType` derives from `MessageTypeSupport` and only hands it
// the operations of its message class (built by `detail::MakeMessageOps` in
// msgs/detail/codec.h). Everything Fast-DDS calls lives here once:
//   - the DDS type name, the type size (largest body rounded up to a
//     multiple of 4, plus the 4-byte payload header) and no key;
//   - payload (de)serialisation in the DDS flavour of CDR, written in the
//     host's byte order, read in the byte order the payload header names;
//   - is_bounded and is_plain, both true exactly when the type holds no
//     string and no sequence.
// None of the operations throws: a message that does not fit the payload,
// a truncated or malformed payload or any other encoding failure makes
// serialize or deserialize return false.
#pragma once

#include <fastdds/dds/topic/TopicDataType.hpp>
#include <fastrtps/utils/md5.h>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace eprosima {
namespace fastcdr {
class Cdr;
}  // namespace fastcdr
}  // namespace eprosima

namespace quiral {
namespace msgs {

// What the common base needs to know about one message class.
struct MessageOps {
  const char* dds_type_name;
  size_t max_body_size;  // largest body from offset 0
  bool fixed_size;       // no string and no sequence
  void (*write)(const void* sample, eprosima::fastcdr::Cdr& cdr);
  // Reads from `cdr` over a buffer of `buffer_length` bytes (header included).
  void (*read)(void* sample, eprosima::fastcdr::Cdr& cdr, size_t buffer_length);
  size_t (*body_size)(const void* sample);
  void* (*create)();
  void (*destroy)(void* sample);
  void (*construct_at)(void* memory);
};

class MessageTypeSupport : public eprosima::fastdds::dds::TopicDataType {
 public:
  ~MessageTypeSupport() override;

  MessageTypeSupport(const MessageTypeSupport&) = delete;
  MessageTypeSupport& operator=(const MessageTypeSupport&) = delete;

  bool serialize(void* data, eprosima::fastrtps::rtps::SerializedPayload_t* payload) override;
  bool deserialize(eprosima::fastrtps::rtps::SerializedPayload_t* payload, void* data) override;
  std::function<uint32_t()> getSerializedSizeProvider(void* data) override;
  void* createData() override;
  void deleteData(void* data) override;
  bool getKey(void* data, eprosima::fastrtps::rtps::InstanceHandle_t* handle,
              bool force_md5 = false) override;
  bool is_bounded() const override;
  bool is_plain() const override;
  bool construct_sample(void* memory) const override;

 protected:
  explicit MessageTypeSupport(const MessageOps& ops);

 private:
  MessageOps ops_;
  MD5 m_md5;  // unused: no type has a key
  unsigned char* m_keyBuffer;
};

}  // namespace msgs
}  // namespace quiral
