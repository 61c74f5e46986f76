#include "msgs/detail/type_support.h"

#include <fastcdr/Cdr.h>
#include <fastcdr/FastBuffer.h>
#include <fastdds/rtps/common/SerializedPayload.h>

#include <cstring>
#include <exception>

namespace quiral {
namespace msgs {

namespace {

using eprosima::fastcdr::Cdr;
using eprosima::fastcdr::FastBuffer;
using eprosima::fastrtps::rtps::SerializedPayload_t;

constexpr uint32_t kPayloadHeaderSize = 4;
constexpr size_t kKeyBufferSize = 16;

uint16_t EncapsulationOf(const Cdr& cdr) {
  return cdr.endianness() == Cdr::BIG_ENDIANNESS ? CDR_BE : CDR_LE;
}

// Only plain CDR in either byte order is accepted: the first two header
// bytes are 0x00 0x00 (big-endian) or 0x00 0x01 (little-endian). Parameter
// lists and the XCDR2 encodings are refused. The two option bytes carry
// nothing for these types.
bool IsPlainCdrHeader(const unsigned char* data) {
  return data[0] == 0x00 && (data[1] == 0x00 || data[1] == 0x01);
}

}  // namespace

MessageTypeSupport::MessageTypeSupport(const MessageOps& ops) : ops_(ops), m_keyBuffer(nullptr) {
  setName(ops_.dds_type_name);
  const size_t body = ops_.max_body_size;
  m_typeSize = static_cast<uint32_t>(body + ((4 - (body % 4)) & 3) + kPayloadHeaderSize);
  m_isGetKeyDefined = false;
  m_keyBuffer = new unsigned char[kKeyBufferSize];
  std::memset(m_keyBuffer, 0, kKeyBufferSize);
}

MessageTypeSupport::~MessageTypeSupport() { delete[] m_keyBuffer; }

bool MessageTypeSupport::serialize(void* data, SerializedPayload_t* payload) {
  if (data == nullptr || payload == nullptr || payload->data == nullptr) {
    return false;
  }
  try {
    FastBuffer buffer(reinterpret_cast<char*>(payload->data), payload->max_size);
    Cdr cdr(buffer, Cdr::DEFAULT_ENDIAN, Cdr::DDS_CDR);
    payload->encapsulation = EncapsulationOf(cdr);
    cdr.serialize_encapsulation();
    ops_.write(data, cdr);
    payload->length = static_cast<uint32_t>(cdr.getSerializedDataLength());
    return true;
  } catch (...) {
    // Mostly a message larger than the payload's capacity.
    return false;
  }
}

bool MessageTypeSupport::deserialize(SerializedPayload_t* payload, void* data) {
  if (data == nullptr || payload == nullptr || payload->data == nullptr ||
      payload->length < kPayloadHeaderSize || !IsPlainCdrHeader(payload->data)) {
    return false;
  }
  try {
    FastBuffer buffer(reinterpret_cast<char*>(payload->data), payload->length);
    Cdr cdr(buffer, Cdr::DEFAULT_ENDIAN, Cdr::DDS_CDR);
    cdr.read_encapsulation();
    payload->encapsulation = EncapsulationOf(cdr);
    ops_.read(data, cdr, payload->length);
    return true;
  } catch (...) {
    // A truncated payload, a count beyond the bytes left, a boolean byte
    // other than 0 or 1, or memory exhausted: the sample may hold a mix of
    // new and old field values.
    return false;
  }
}

std::function<uint32_t()> MessageTypeSupport::getSerializedSizeProvider(void* data) {
  const auto body_size = ops_.body_size;
  return [body_size, data]() -> uint32_t {
    return static_cast<uint32_t>(body_size(data) + kPayloadHeaderSize);
  };
}

void* MessageTypeSupport::createData() { return ops_.create(); }

void MessageTypeSupport::deleteData(void* data) {
  if (data != nullptr) {
    ops_.destroy(data);
  }
}

bool MessageTypeSupport::getKey(void* /*data*/, eprosima::fastrtps::rtps::InstanceHandle_t* /*handle*/,
                                bool /*force_md5*/) {
  // No message type has a key.
  return false;
}

bool MessageTypeSupport::is_bounded() const { return ops_.fixed_size; }

bool MessageTypeSupport::is_plain() const { return ops_.fixed_size; }

bool MessageTypeSupport::construct_sample(void* memory) const {
  if (!ops_.fixed_size || memory == nullptr) {
    return false;
  }
  ops_.construct_at(memory);
  return true;
}

}  // namespace msgs
}  // namespace quiral
