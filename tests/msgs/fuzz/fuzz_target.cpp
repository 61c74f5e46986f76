// One libFuzzer target: QUIRAL_FUZZ_DECODER names the decoding entry point
// (see decode_entry_points.h).
#include "tests/msgs/fuzz/decode_entry_points.h"

#define QUIRAL_FUZZ_CONCAT_(a, b) a##b
#define QUIRAL_FUZZ_CONCAT(a, b) QUIRAL_FUZZ_CONCAT_(a, b)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return msgs_fuzz::QUIRAL_FUZZ_CONCAT(Decode_, QUIRAL_FUZZ_DECODER)(data, size);
}
