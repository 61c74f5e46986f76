// Participant settings, transports and creation shared by both participant
// nodes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <fastdds/dds/domain/qos/DomainParticipantQos.hpp>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>

namespace eprosima {
namespace fastdds {
namespace dds {
class DomainParticipant;
}  // namespace dds
}  // namespace fastdds
}  // namespace eprosima

namespace quiral {
namespace middleware2 {

// Number of initial participant announcements (the library's default is 5);
// the period between them stays at the library's 100 ms.
inline constexpr uint32_t kDiscoveryAnnouncements = 100;

// Longest participant name, in characters.
inline constexpr size_t kMaxParticipantNameLength = 255;

// Builds a UDPv4 descriptor whose interface whitelist holds the given
// entries, unchanged and in order. Every entry must be a dotted IPv4
// address ("127.0.0.1") and nothing else, not even after a '\0'; anything
// else throws std::invalid_argument naming the node class `owner` and the
// entry (a '\0' shown as "\0"), since the transport would silently drop it
// and leave the participant without a usable interface.
std::shared_ptr<eprosima::fastdds::rtps::UDPv4TransportDescriptor> MakeUdpv4Descriptor(
    const std::vector<std::string>& interfaces, const char* owner);

// Participant settings common to both nodes: name (cut to 255 characters),
// simple discovery with both endpoint-discovery pairs, 100 initial
// announcements and no built-in transport. Starts from the library's
// default settings, not from any loaded profile.
eprosima::fastdds::dds::DomainParticipantQos MakeNodeQos(const std::string& node_name);

// Creates the participant, or throws std::runtime_error "Failed to create
// DDS participant". A domain id whose well-known ports would not fit in 16
// bits is refused here, before the library sees it: the library would end
// the whole process for such an id. Creations and deletions of
// participants run one at a time process-wide; everything else on a
// participant runs concurrently.
eprosima::fastdds::dds::DomainParticipant* CreateNodeParticipant(
    uint32_t domain_id, const eprosima::fastdds::dds::DomainParticipantQos& qos);

// Deletes a participant made by CreateNodeParticipant; the result is ignored.
void DeleteNodeParticipant(eprosima::fastdds::dds::DomainParticipant* participant) noexcept;

}  // namespace middleware2
}  // namespace quiral
