// Helpers of the parser fuzz targets.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace quiral_fuzz {

// Ends the run as a finding: the parser broke its contract.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "parser fuzz property violated: %s\n", what);
  std::abort();
}

// The input as a list of texts: a text ends at a backslash followed by any
// character but a backslash ("\\" stands for one backslash), the last one
// at the end of the input. A seed file holds one text per line, each line
// but the last ending in a backslash.
inline std::vector<std::string> Texts(FuzzedDataProvider& input) {
  std::vector<std::string> texts;
  while (input.remaining_bytes() > 0) texts.push_back(input.ConsumeRandomLengthString());
  return texts;
}

}  // namespace quiral_fuzz
