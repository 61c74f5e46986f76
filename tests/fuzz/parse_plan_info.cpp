// Fuzz target: the plan information texts (DecodePlanInfo). Nothing is
// thrown; a refused reply leaves the record as it was, an accepted one has
// eight texts and keeps the first six as they are.
#include <spdlog/spdlog.h>

#include "client/plan_info_text.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  spdlog::set_level(spdlog::level::off);  // one line per refused input otherwise
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::vector<std::string> texts = quiral_fuzz::Texts(input);
  quiral::vek::PlanInfo info;
  info.item_0 = "kept";
  info.item_6 = 0.25;
  if (!quiral::vek_impl::DecodePlanInfo(texts, info)) {
    if (info.item_0 != "kept" || info.item_6 != 0.25) quiral_fuzz::Fail("a refusal changed info");
    return 0;
  }
  if (texts.size() != 8 || info.item_0 != texts[0] || info.item_5 != texts[5]) {
    quiral_fuzz::Fail("an accepted reply is not the eight texts");
  }
  return 0;
}
