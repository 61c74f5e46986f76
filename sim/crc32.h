// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, initial value and
// final XOR 0xFFFFFFFF), the checksum that travels with transferred files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quiral::sim {

uint32_t Crc32(const uint8_t* data, size_t size);

}  // namespace quiral::sim
