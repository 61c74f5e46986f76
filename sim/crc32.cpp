#include "sim/crc32.h"

#include <array>

namespace quiral::sim {
namespace {

std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) {
      c = (c & 1U) ? (0xEDB88320U ^ (c >> 1)) : (c >> 1);
    }
    table[i] = c;
  }
  return table;
}

const std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t reg = 0xFFFFFFFFU;
  for (size_t i = 0; i < size; ++i) {
    reg = kTable[(reg ^ data[i]) & 0xFFU] ^ (reg >> 8);
  }
  return reg ^ 0xFFFFFFFFU;
}

}  // namespace quiral::sim
