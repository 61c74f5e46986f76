#include "client/plan_info_text.h"

#include <cctype>
#include <charconv>
#include <exception>
#include <optional>

#include <spdlog/spdlog.h>

namespace quiral::vek_impl {
namespace {

constexpr size_t kPlanInfoTexts = 8;

// The number at the start of the text, after blanks and an optional '+', as
// std::stod reads it, but whatever locale the process runs with: std::stod
// takes the decimal point of the process's C locale, and would read "0.5"
// as 0 under a locale with a decimal comma.
std::optional<double> LeadingNumber(const std::string& text) {
  const char* begin = text.data();
  const char* const end = text.data() + text.size();
  while (begin != end && std::isspace(static_cast<unsigned char>(*begin))) ++begin;
  if (begin != end && *begin == '+' && begin + 1 != end && begin[1] != '-') ++begin;
  double value = 0.0;
  if (std::from_chars(begin, end, value).ec != std::errc()) return std::nullopt;
  return value;
}

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
  const std::optional<double> item_6 = LeadingNumber(texts[6]);
  if (!item_6) {
    spdlog::debug("Plan info text 6 is not a number: [{}]", texts[6]);
    return false;
  }
  decoded.item_6 = *item_6;
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
