// CRC-32 of transferred files.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/crc32.h"

namespace {

using quiral::vek_impl::Crc32;

uint32_t CrcOf(const std::string& text) {
  return Crc32(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(Crc32, KnownValues) {
  EXPECT_EQ(CrcOf("123456789"), 0xCBF43926U);
  EXPECT_EQ(CrcOf(""), 0U);
  EXPECT_EQ(Crc32(nullptr, 0), 0U);
  EXPECT_EQ(Crc32(std::vector<uint8_t>{}), 0U);
  EXPECT_EQ(CrcOf("a"), 0xE8B7BE43U);
  EXPECT_EQ(CrcOf("The quick brown fox jumps over the lazy dog"), 0x414FA339U);
  EXPECT_EQ(Crc32(std::vector<uint8_t>(32, 0)), 0x190A55ADU);
  EXPECT_EQ(Crc32(std::vector<uint8_t>(32, 0xFF)), 0xFF6CAB0BU);
}

TEST(Crc32, EveryByteCounts) {
  std::vector<uint8_t> bytes(1000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  const uint32_t crc = Crc32(bytes);
  for (size_t i : {size_t{0}, size_t{499}, size_t{999}}) {
    auto changed = bytes;
    changed[i] ^= 0x01;
    EXPECT_NE(Crc32(changed), crc) << i;
  }
}

}  // namespace
