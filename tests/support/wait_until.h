// Waiting on a condition with a deadline, for tests.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace quiral::test {

// Polls `pred` every `period` until it holds or the deadline passes; returns
// its last value.
inline bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout,
                      std::chrono::milliseconds period = std::chrono::milliseconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    std::this_thread::sleep_for(period);
  }
}

}  // namespace quiral::test
