// Reading the plan information the data service replies with: eight texts.
#pragma once

#include <string>
#include <vector>

#include "base/vek_types.h"

namespace quiral::vek_impl {

// Fills `info` from exactly 8 texts: texts 0 to 5 as they are, text 6 read
// as a decimal number, text 7 as a decimal integer (true when not 0). Any
// other count, or a text 6 or 7 that does not read as a number, gives false,
// logs the reason and leaves `info` as it was. Never throws.
bool DecodePlanInfo(const std::vector<std::string>& texts, quiral::vek::PlanInfo& info);

}  // namespace quiral::vek_impl
