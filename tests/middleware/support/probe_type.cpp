#include "tests/middleware/support/probe_type.h"

#include <fastcdr/Cdr.h>
#include <fastcdr/FastBuffer.h>
#include <fastcdr/exceptions/NotEnoughMemoryException.h>

namespace quiral_test {
namespace msg {

namespace {

using eprosima::fastcdr::Cdr;
using eprosima::fastcdr::FastBuffer;
using eprosima::fastrtps::rtps::SerializedPayload_t;

constexpr size_t kMaxText = 255;

size_t Align(size_t offset, size_t size) { return (size - (offset % size)) & (size - 1); }

template <class Body>
bool WritePayload(SerializedPayload_t* payload, const Body& body) {
  FastBuffer buffer(reinterpret_cast<char*>(payload->data), payload->max_size);
  Cdr cdr(buffer, Cdr::DEFAULT_ENDIAN, Cdr::DDS_CDR);
  payload->encapsulation = cdr.endianness() == Cdr::BIG_ENDIANNESS ? CDR_BE : CDR_LE;
  try {
    cdr.serialize_encapsulation();
    body(cdr);
  } catch (const eprosima::fastcdr::exception::NotEnoughMemoryException&) {
    return false;
  }
  payload->length = static_cast<uint32_t>(cdr.getSerializedDataLength());
  return true;
}

template <class Body>
bool ReadPayload(SerializedPayload_t* payload, const Body& body) {
  FastBuffer buffer(reinterpret_cast<char*>(payload->data), payload->length);
  Cdr cdr(buffer, Cdr::DEFAULT_ENDIAN, Cdr::DDS_CDR);
  try {
    cdr.read_encapsulation();
    payload->encapsulation = cdr.endianness() == Cdr::BIG_ENDIANNESS ? CDR_BE : CDR_LE;
    body(cdr);
  } catch (const eprosima::fastcdr::exception::NotEnoughMemoryException&) {
    return false;
  }
  return true;
}

size_t ProbeSize(const Probe& probe) {
  size_t offset = 4;
  offset += Align(offset, 8) + 8;
  offset += Align(offset, 4) + 4 + probe.text.size() + 1;
  offset += Align(offset, 4) + 4 + probe.payload.size();
  return offset;
}

}  // namespace

size_t Probe::getMaxCdrSerializedSize(size_t current_alignment) {
  size_t offset = current_alignment;
  offset += Align(offset, 4) + 4;
  offset += Align(offset, 8) + 8;
  offset += Align(offset, 4) + 4 + kMaxText + 1;
  offset += Align(offset, 4) + 4 + kMaxPayload;
  return offset - current_alignment;
}

void Probe::serialize(Cdr& cdr) const {
  cdr << id << seq << text;
  cdr << static_cast<uint32_t>(payload.size());
  cdr.serializeArray(payload.data(), payload.size());
}

void Probe::deserialize(Cdr& cdr) {
  cdr >> id >> seq >> text;
  uint32_t count = 0;
  cdr >> count;
  if (count > kMaxPayload) {
    throw eprosima::fastcdr::exception::NotEnoughMemoryException("probe payload too long");
  }
  payload.resize(count);
  cdr.deserializeArray(payload.data(), count);
}

ProbePubSubType::ProbePubSubType(const char* name) {
  setName(name);
  const size_t body = Probe::getMaxCdrSerializedSize();
  m_typeSize = static_cast<uint32_t>(body + Align(body, 4) + 4);
  m_isGetKeyDefined = false;
}

bool ProbePubSubType::serialize(void* data, SerializedPayload_t* payload) {
  const Probe& probe = *static_cast<const Probe*>(data);
  return WritePayload(payload, [&](Cdr& cdr) { probe.serialize(cdr); });
}

bool ProbePubSubType::deserialize(SerializedPayload_t* payload, void* data) {
  Probe& probe = *static_cast<Probe*>(data);
  return ReadPayload(payload, [&](Cdr& cdr) { probe.deserialize(cdr); });
}

std::function<uint32_t()> ProbePubSubType::getSerializedSizeProvider(void* data) {
  return [data]() { return static_cast<uint32_t>(ProbeSize(*static_cast<Probe*>(data))); };
}

void* ProbePubSubType::createData() { return new Probe(); }

void ProbePubSubType::deleteData(void* data) { delete static_cast<Probe*>(data); }

bool ProbePubSubType::getKey(void*, eprosima::fastrtps::rtps::InstanceHandle_t*, bool) {
  return false;
}

OtherProbePubSubType::OtherProbePubSubType() {
  setName("quiral_test::msg::dds_::Probe_");
  m_typeSize = 4 + 8;
  m_isGetKeyDefined = false;
}

bool OtherProbePubSubType::serialize(void* data, SerializedPayload_t* payload) {
  const OtherProbe& other = *static_cast<const OtherProbe*>(data);
  return WritePayload(payload, [&](Cdr& cdr) { cdr << other.value; });
}

bool OtherProbePubSubType::deserialize(SerializedPayload_t* payload, void* data) {
  OtherProbe& other = *static_cast<OtherProbe*>(data);
  return ReadPayload(payload, [&](Cdr& cdr) { cdr >> other.value; });
}

std::function<uint32_t()> OtherProbePubSubType::getSerializedSizeProvider(void*) {
  return []() { return static_cast<uint32_t>(4 + 8); };
}

void* OtherProbePubSubType::createData() { return new OtherProbe(); }

void OtherProbePubSubType::deleteData(void* data) { delete static_cast<OtherProbe*>(data); }

bool OtherProbePubSubType::getKey(void*, eprosima::fastrtps::rtps::InstanceHandle_t*, bool) {
  return false;
}

}  // namespace msg
}  // namespace quiral_test
