// The form of a robot's serial number, shared by everything that names a
// robot by it.
#pragma once

#include <optional>
#include <string>

namespace quiral::vek {

// The serial number as the link uses it: blanks removed and "_" replaced by
// "-". Empty (std::nullopt) unless `robot_sn` has the form of a serial
// number: non-empty, without '\0' (it would cut the topic names short), and
// with exactly one separator, "-" or "_", between the model name and the
// number.
std::optional<std::string> NormalisedSerialNumber(const std::string& robot_sn);

}  // namespace quiral::vek
