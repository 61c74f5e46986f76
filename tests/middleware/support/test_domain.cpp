#include "tests/middleware/support/test_domain.h"

#include <unistd.h>

#include <atomic>

namespace quiral_test {

uint32_t TestDomain() { return 20 + static_cast<uint32_t>(getpid()) % 200; }

std::string UniqueTopic(const std::string& name) {
  static std::atomic<int> counter{0};
  return "mwtest/" + std::to_string(getpid()) + "/" + name + "/" + std::to_string(++counter);
}

}  // namespace quiral_test
