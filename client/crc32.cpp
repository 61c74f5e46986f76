#include "client/crc32.h"

#include <array>

namespace quiral {
namespace vek_impl {
namespace {

constexpr uint32_t kCrc32Polynomial = 0xEDB88320U;

constexpr std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) {
      c = (c & 1U) != 0 ? (kCrc32Polynomial ^ (c >> 1)) : (c >> 1);
    }
    table[i] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrc32Table = MakeCrc32Table();

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t reg = 0xFFFFFFFFU;
  for (size_t i = 0; i < size; ++i) {
    reg = kCrc32Table[(reg ^ data[i]) & 0xFFU] ^ (reg >> 8);
  }
  return ~reg;
}

}  // namespace vek_impl
}  // namespace quiral
