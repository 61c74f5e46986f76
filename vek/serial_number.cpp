#include "vek/serial_number.h"

#include <algorithm>

namespace quiral::vek {

std::optional<std::string> NormalisedSerialNumber(const std::string& robot_sn) {
  const auto separators = std::count(robot_sn.begin(), robot_sn.end(), '-') +
                          std::count(robot_sn.begin(), robot_sn.end(), '_');
  if (robot_sn.empty() || separators != 1 || robot_sn.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  std::string serial;
  serial.reserve(robot_sn.size());
  for (const char c : robot_sn) {
    if (c == ' ') continue;
    serial.push_back(c == '_' ? '-' : c);
  }
  return serial;
}

}  // namespace quiral::vek
