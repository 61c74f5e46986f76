// The two quality-of-service profiles of the link's data writers and data
// readers. Each function changes only the fields of its profile and leaves
// every other field of the given settings as it was.
#pragma once

#include <cstdint>

#include <fastdds/dds/publisher/qos/DataWriterQos.hpp>
#include <fastdds/dds/subscriber/qos/DataReaderQos.hpp>

namespace quiral {
namespace middleware2 {

// History depth used by every default-profile endpoint of the link.
inline constexpr int32_t kDefaultQosDepth = 10;

// Largest depth of the default profile: the profile allows ten times the
// depth in samples, which must fit in a 32-bit signed count.
inline constexpr int32_t kMaxQosDepth = 214748364;

// Longest a real-time writer may block: 0 s and 50000 ns.
inline constexpr int32_t kRtQosMaxBlockingTimeSec = 0;
inline constexpr uint32_t kRtQosMaxBlockingTimeNanosec = 50000;

// Throws std::invalid_argument, with `owner` in brackets at the start of the
// text, when `depth` is above kMaxQosDepth. Depths below 1 count as 1.
void CheckQosDepth(int32_t depth, const char* owner);

// Reliable, volatile, keep-last profile for requests, replies and the event
// log: depth d = max(depth, 1), at most 10 × d samples, d per instance, d
// allocated, 1 extra; preallocated history memory that may grow; no data
// sharing. The writer publishes synchronously. A depth above kMaxQosDepth
// throws std::invalid_argument whose text starts with `owner` in brackets.
void ApplyDefaultProfile(eprosima::fastdds::dds::DataWriterQos& qos, int32_t depth,
                         const char* owner);
void ApplyDefaultProfile(eprosima::fastdds::dds::DataReaderQos& qos, int32_t depth,
                         const char* owner);

// Best-effort, volatile profile for periodic real-time samples: depth 1, at
// most 10 samples, 1 per instance, 1 allocated, 1 extra, 50 µs blocking
// time, preallocated history memory that may grow, no data sharing. The
// writer publishes synchronously when `sync` is true.
void ApplyRealtimeSocketProfile(eprosima::fastdds::dds::DataWriterQos& qos, bool sync);
void ApplyRealtimeSocketProfile(eprosima::fastdds::dds::DataReaderQos& qos);

}  // namespace middleware2
}  // namespace quiral
