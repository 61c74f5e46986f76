#include "bivek/per_arm.h"

#include <spdlog/spdlog.h>

namespace quiral::bivek {

std::string _ExtractExceptMsg(const std::string& msg) {
  const std::size_t bracket = msg.find(']');
  if (bracket == std::string::npos) return msg;
  return msg.substr(bracket + 1);
}

namespace detail {
namespace {

// The arm's text without its bracketed name, beginning with one blank.
std::string Reason(const std::exception_ptr& error) {
  std::string reason = _ExtractExceptMsg(ErrorText(error));
  const std::size_t start = reason.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : " " + reason.substr(start);
}

}  // namespace

const char* ArmTag(Arm arm) { return arm == Arm::kFirst ? "(first)" : "(second)"; }

std::string ErrorText(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
}

void LogDroppedError(const std::string& name, Arm arm, const std::exception_ptr& error) {
  spdlog::warn("{}{} Also failed:{}", name, ArmTag(arm), Reason(error));
}

void FixedRuntimeError::Raise(Arm arm, const std::exception_ptr& error) const {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception&) {
    // The caller learns only which arm failed; the reason goes to the log.
    spdlog::error("{}{}{}:{}", name_, ArmTag(arm), text_, Reason(error));
    throw std::runtime_error(name_ + ArmTag(arm) + text_);
  }
}

}  // namespace detail
}  // namespace quiral::bivek
