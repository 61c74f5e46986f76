#include "middleware/rpc_deadline.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace quiral {
namespace middleware2 {

RpcDeadline::RpcDeadline(double timeout_sec) {
  if (std::isnan(timeout_sec)) {
    throw std::invalid_argument("timeout_sec must not be NaN");
  }
  if (timeout_sec < std::numeric_limits<double>::epsilon()) {
    throw std::invalid_argument("timeout_sec must be greater than 0");
  }
  if (std::isinf(timeout_sec)) {
    infinite_ = true;
    return;
  }
  const double milliseconds = timeout_sec * 1000.0;
  if (milliseconds >= 4294967296.0) {
    throw std::invalid_argument("timeout_sec must be at most 4294967.295 or infinite");
  }
  when_ = Clock::now() + std::chrono::milliseconds(static_cast<uint32_t>(milliseconds));
}

}  // namespace middleware2
}  // namespace quiral
