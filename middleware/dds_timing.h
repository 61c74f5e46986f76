// Fixed pauses of the DDS layer.
#pragma once

#include <chrono>

namespace quiral {
namespace middleware2 {

// Pause after a participant has been created, so that its first discovery
// announcements go out before any endpoint is made.
inline constexpr std::chrono::milliseconds kNodeSettleDelay{100};

// Pause after each publisher or subscriber has been created, so that the
// peer discovers the endpoint before the first sample is sent.
inline constexpr std::chrono::milliseconds kEndpointSettleDelay{100};

}  // namespace middleware2
}  // namespace quiral
