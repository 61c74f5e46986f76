// DDS participant of one robot link for the periodic real-time traffic
// (states, heartbeat, motion commands, data streams).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace eprosima {
namespace fastdds {
namespace dds {
class DomainParticipant;
}  // namespace dds
}  // namespace fastdds
}  // namespace eprosima

namespace quiral {
namespace middleware2 {

// Owns one domain participant whose only transport is UDPv4 with
// non-blocking sends, restricted to `interfaces`, so a full socket buffer
// never stalls the thread that sends a real-time sample. Every endpoint made
// on `participant` must be destroyed before the node.
class RealtimeUdpNode {
 public:
  // Throws std::runtime_error "Failed to create DDS participant" when the
  // participant cannot be created, and std::invalid_argument when an
  // interface entry is not an IPv4 address. Returns no sooner than 100 ms
  // after the participant was created.
  RealtimeUdpNode(const std::string& node_name, uint32_t domain_id,
                  const std::vector<std::string>& interfaces);
  virtual ~RealtimeUdpNode();

  RealtimeUdpNode(const RealtimeUdpNode&) = delete;
  RealtimeUdpNode& operator=(const RealtimeUdpNode&) = delete;

  // Set once by the constructor; never null afterwards.
  eprosima::fastdds::dds::DomainParticipant* const participant;
};

}  // namespace middleware2
}  // namespace quiral
