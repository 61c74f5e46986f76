// Internal: texts that travel as the long text argument of a remote call.
// The transport cuts that argument at its first '\0' and after
// OperationsRPC::kMaxLongStringChars characters without telling anyone, so
// a text that would be cut is refused before anything is sent: otherwise
// the controller would act on another name than the one the caller gave.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "client/operations_rpc.h"

namespace quiral::vek::detail {

// Throws std::invalid_argument `prefix` + " Input parameter [" + argument +
// "] contains a null character", or std::length_error `prefix` + " Input
// parameter [" + argument + "] is too long to transmit (" + length +
// "/10000 characters)".
inline void RequireWholeOnWire(const std::string& text, std::string_view prefix,
                               std::string_view argument) {
  const std::string head = std::string(prefix) + " Input parameter [" + std::string(argument) + "]";
  if (text.find('\0') != std::string::npos) {
    throw std::invalid_argument(head + " contains a null character");
  }
  constexpr size_t kLimit = vek_impl::OperationsRPC::kMaxLongStringChars;
  if (text.size() > kLimit) {
    throw std::length_error(head + " is too long to transmit (" + std::to_string(text.size()) +
                            "/" + std::to_string(kLimit) + " characters)");
  }
}

}  // namespace quiral::vek::detail
