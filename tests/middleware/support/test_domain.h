// Domain ids and topic names that keep concurrently running test processes
// apart inside the shared network namespace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quiral_test {

// The interface whitelist of every test participant.
inline const std::vector<std::string> kLoopbackOnly = {"127.0.0.1"};

// A domain id derived from this process's id (20 to 219).
uint32_t TestDomain();

// "mwtest/<pid>/<name>/<n>", with n counting the calls of this process.
std::string UniqueTopic(const std::string& name);

}  // namespace quiral_test
