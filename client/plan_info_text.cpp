#include "client/plan_info_text.h"

#include <exception>

#include <spdlog/spdlog.h>

namespace quiral::vek_impl {
namespace {

constexpr size_t kPlanInfoTexts = 8;

}  // namespace

bool DecodePlanInfo(const std::vector<std::string>& texts, quiral::vek::PlanInfo& info) {
  if (texts.size() != kPlanInfoTexts) {
    spdlog::error("[quiral::vek::Robot] Size of plan info container is incorrect");
    return false;
  }
  quiral::vek::PlanInfo decoded;
  decoded.item_0 = texts[0];
  decoded.item_1 = texts[1];
  decoded.item_2 = texts[2];
  decoded.item_3 = texts[3];
  decoded.item_4 = texts[4];
  decoded.item_5 = texts[5];
  // The two numbers come from the controller: a text that is not one is a
  // bad reply, not an error of the caller.
  try {
    decoded.item_6 = std::stod(texts[6]);
  } catch (const std::exception&) {
    spdlog::debug("Plan info text 6 is not a number: [{}]", texts[6]);
    return false;
  }
  try {
    decoded.item_7 = std::stoi(texts[7]) != 0;
  } catch (const std::exception&) {
    spdlog::debug("Plan info text 7 is not an integer: [{}]", texts[7]);
    return false;
  }
  info = std::move(decoded);
  return true;
}

}  // namespace quiral::vek_impl
