// General-purpose DDS participant of one robot link: request/reply traffic
// and the event log.
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

// Owns one domain participant whose transports are an optional
// shared-memory transport (only when `shm_segment_size` is not 0) followed
// by UDPv4 restricted to `interfaces`. Every topic, publisher, subscriber
// and request/reply client made on `participant` must be destroyed before
// the node.
class DefaultNode {
 public:
  // Throws std::runtime_error "Failed to create DDS participant" when the
  // participant cannot be created, and std::invalid_argument when an
  // interface entry is not an IPv4 address. Returns no sooner than 100 ms
  // after the participant was created.
  DefaultNode(const std::string& node_name, uint32_t shm_segment_size, uint32_t domain_id,
              const std::vector<std::string>& interfaces);
  virtual ~DefaultNode();

  DefaultNode(const DefaultNode&) = delete;
  DefaultNode& operator=(const DefaultNode&) = delete;

  // Set once by the constructor; never null afterwards.
  eprosima::fastdds::dds::DomainParticipant* const participant;
};

}  // namespace middleware2
}  // namespace quiral
