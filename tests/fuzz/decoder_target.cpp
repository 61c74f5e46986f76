// One libFuzzer target: QUIRAL_FUZZ_SUPPORT names the type-support class
// whose decoder it drives. A decoded message must encode again, with the
// exact size it announces, and encoding is stable:
// decode(encode(m)) encodes to the same bytes.
#include "tests/msgs/msgs_test_util.h"

#include <cstdio>
#include <cstdlib>

namespace {

using Support = QUIRAL_FUZZ_SUPPORT;
using eprosima::fastrtps::rtps::SerializedPayload_t;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "decode fuzz property violated: %s\n", what);
  std::abort();
}

SerializedPayload_t Encode(Support& support, Support::type& message) {
  const uint32_t size = support.getSerializedSizeProvider(&message)();
  SerializedPayload_t payload(size);
  if (!support.serialize(&message, &payload)) Fail("a decoded message does not encode");
  if (payload.length != size) Fail("exact size differs from the bytes written");
  return payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Support support;
  // A payload of exactly the input's size: a read past it is a read past
  // the allocation.
  SerializedPayload_t payload(static_cast<uint32_t>(size));
  if (size != 0) std::memcpy(payload.data, data, size);
  payload.length = static_cast<uint32_t>(size);
  Support::type message;
  if (!support.deserialize(&payload, &message)) return 0;
  SerializedPayload_t first = Encode(support, message);
  Support::type again;
  if (!support.deserialize(&first, &again)) Fail("an encoded message does not decode");
  SerializedPayload_t second = Encode(support, again);
  if (first.length != second.length || std::memcmp(first.data, second.data, first.length) != 0) {
    Fail("encoding is not stable");
  }
  return 0;
}
