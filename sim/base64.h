// Base64 (RFC 4648, with padding) for byte contents in control-channel JSON.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quiral::sim {

std::string Base64Encode(const uint8_t* data, size_t size);
// Throws std::invalid_argument on a character outside the alphabet or a bad length.
std::vector<uint8_t> Base64Decode(const std::string& text);

}  // namespace quiral::sim
