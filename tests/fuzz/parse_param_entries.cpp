// Fuzz target: the "name = value" entries of the robot's global variables
// and of the running primitive's states (EntriesToParamMap). Only a
// malformed entry (std::runtime_error with the caller's prefix) and the
// value reader's std::logic_error leave it; every name read is the head of
// one of the entries.
#include <stdexcept>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "vek/param_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string prefix = "[quiral::vek::Robot::primitive_states]";
  FuzzedDataProvider input(data, size);
  const std::vector<std::string> entries = quiral_fuzz::Texts(input);
  std::map<std::string, quiral::vek::ParamVariant> values;
  try {
    values = quiral::vek::detail::EntriesToParamMap(entries, prefix);
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()).rfind(prefix + " ", 0) != 0) quiral_fuzz::Fail("an unprefixed error");
    return 0;
  } catch (const std::logic_error&) {
    return 0;
  }
  for (const auto& [name, value] : values) {
    bool found = false;
    for (const std::string& entry : entries) found = found || entry.rfind(name, 0) == 0;
    if (!found) quiral_fuzz::Fail("a name that no entry begins with");
  }
  return 0;
}
