// Reading the arguments of incoming requests and commands.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "msgs/vek_msgs/rpc_request.h"

namespace quiral::sim {

inline std::string LongString(const vek_msgs::msg::RPCRequest& request) {
  return request.long_string_arg().to_string();
}

template <class Floats>
bool AllFinite(const Floats& values) {
  return std::all_of(values.begin(), values.end(), [](float x) { return std::isfinite(x); });
}

inline std::vector<double> ToDoubles(const std::vector<float>& values) {
  return std::vector<double>(values.begin(), values.end());
}

}  // namespace quiral::sim
