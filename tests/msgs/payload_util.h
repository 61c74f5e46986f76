// Helpers of the message tests: encode and decode through a type-support
// class, exactly as Fast-DDS does, and through a bare CDR stream.
#pragma once

#include <fastcdr/Cdr.h>
#include <fastcdr/FastBuffer.h>
#include <fastdds/rtps/common/SerializedPayload.h>

#include <cxxabi.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

namespace msgs_test {

using Bytes = std::vector<uint8_t>;

// The payload that the type support writes for `message`, sized by the
// type support's own size provider. The buffer is zeroed first, so padding
// shows as 0.
template <class PubSubType>
Bytes EncodeWith(PubSubType& support, const typename PubSubType::type& message) {
  using Message = typename PubSubType::type;
  Message copy = message;
  const uint32_t size = support.getSerializedSizeProvider(&copy)();
  eprosima::fastrtps::rtps::SerializedPayload_t payload(size);
  std::memset(payload.data, 0, size);
  if (!support.serialize(&copy, &payload)) {
    return {};
  }
  return Bytes(payload.data, payload.data + payload.length);
}

template <class PubSubType>
Bytes Encode(const typename PubSubType::type& message) {
  PubSubType support;
  return EncodeWith(support, message);
}

// Decodes `bytes` into `message` through the type support. The payload
// holds exactly these bytes (length and capacity), so a read past them is a
// read past the end of the allocation and shows under a sanitizer.
template <class PubSubType>
bool Decode(const Bytes& bytes, typename PubSubType::type& message, uint16_t* encapsulation = nullptr) {
  PubSubType support;
  eprosima::fastrtps::rtps::SerializedPayload_t payload(static_cast<uint32_t>(bytes.size()));
  if (!bytes.empty()) {
    std::memcpy(payload.data, bytes.data(), bytes.size());
  }
  payload.length = static_cast<uint32_t>(bytes.size());
  const bool ok = support.deserialize(&payload, &message);
  if (encapsulation != nullptr) {
    *encapsulation = payload.encapsulation;
  }
  return ok;
}

// The payload written by a bare DDS-flavoured CDR stream in the given byte
// order: header, then the message's body.
template <class Message>
Bytes EncodeInOrder(const Message& message, eprosima::fastcdr::Cdr::Endianness order) {
  std::vector<char> buffer(4 + Message::getCdrSerializedSize(message), 0);
  eprosima::fastcdr::FastBuffer fast_buffer(buffer.data(), buffer.size());
  eprosima::fastcdr::Cdr cdr(fast_buffer, order, eprosima::fastcdr::Cdr::DDS_CDR);
  cdr.serialize_encapsulation();
  message.serialize(cdr);
  return Bytes(buffer.begin(), buffer.begin() + static_cast<long>(cdr.getSerializedDataLength()));
}

// Names typed tests after their type: "vek_msgs_msg_RPCRequest".
struct TypeNames {
  template <class T>
  static std::string GetName(int /*index*/) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(typeid(T).name(), nullptr, nullptr, &status);
    std::string name = status == 0 ? demangled : typeid(T).name();
    std::free(demangled);
    std::string out;
    for (char c : name) {
      if (c == ':') {
        if (out.empty() || out.back() != '_') {
          out += '_';
        }
      } else {
        out += c;
      }
    }
    return out;
  }
};

inline bool HostIsLittleEndian() {
  return eprosima::fastcdr::Cdr::DEFAULT_ENDIAN == eprosima::fastcdr::Cdr::LITTLE_ENDIANNESS;
}

}  // namespace msgs_test
