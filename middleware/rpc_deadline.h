// Deadline of one remote call, from its time-out in seconds.
#pragma once

#include <chrono>

namespace quiral {
namespace middleware2 {

class RpcDeadline {
 public:
  using Clock = std::chrono::steady_clock;

  // Checks `timeout_sec` and starts the deadline now. Throws
  // std::invalid_argument:
  //  - "timeout_sec must be greater than 0" below the double epsilon;
  //  - "timeout_sec must not be NaN";
  //  - "timeout_sec must be at most 4294967.295 or infinite" when the
  //    time-out in whole milliseconds does not fit in 32 bits.
  // An infinite time-out never expires; one below 1 ms expires at once.
  explicit RpcDeadline(double timeout_sec);

  bool infinite() const { return infinite_; }
  // Meaningful only when not infinite.
  Clock::time_point when() const { return when_; }
  bool expired() const { return !infinite_ && Clock::now() >= when_; }

 private:
  bool infinite_ = false;
  Clock::time_point when_;
};

}  // namespace middleware2
}  // namespace quiral
