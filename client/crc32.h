// CRC-32 of transferred files: the CRC of ISO/IEC 3309 and IEEE 802.3
// (reflected polynomial 0xEDB88320, register starting at 0xFFFFFFFF, final
// register inverted). "123456789" gives 0xCBF43926; no data gives 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quiral {
namespace vek_impl {

// CRC-32 of `size` bytes at `data` (`data` may be null when `size` is 0).
uint32_t Crc32(const uint8_t* data, size_t size);

inline uint32_t Crc32(const std::vector<uint8_t>& bytes) {
  return Crc32(bytes.data(), bytes.size());
}

}  // namespace vek_impl
}  // namespace quiral
