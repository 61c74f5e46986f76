#include "middleware/node_participant.h"

#include <arpa/inet.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/domain/DomainParticipantFactory.hpp>
#include <fastrtps/types/TypeObjectFactory.h>

namespace quiral {
namespace middleware2 {

namespace dds = eprosima::fastdds::dds;

namespace {

// inet_pton reads a C string: an entry with a '\0' in it would be judged
// by its part before the '\0' only.
bool IsIpv4Address(const std::string& text) {
  in_addr address{};
  return text.find('\0') == std::string::npos &&
         inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// The entry as it can be shown in a message: each '\0' written as "\0".
std::string Printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    if (c == '\0') {
      shown += "\\0";
    } else {
      shown += c;
    }
  }
  return shown;
}

// Participants are created and deleted one at a time in the process: the
// library's creation is not reentrant (it reads the user's passwd entry
// with getpwuid and hands out participant ids from one shared counter),
// and the two arms of a pair connect at the same time.
std::mutex& ParticipantLifecycleMutex() {
  static std::mutex mutex;
  return mutex;
}

// True when every well-known port of the domain fits in 16 bits.
bool DomainPortsFit(uint32_t domain_id, const dds::DomainParticipantQos& qos) {
  const auto& port = qos.wire_protocol().port;
  const uint64_t largest_offset =
      std::max({port.offsetd0, port.offsetd1, port.offsetd2, port.offsetd3});
  const uint64_t largest_port = static_cast<uint64_t>(port.portBase) +
                                static_cast<uint64_t>(port.domainIDGain) * domain_id +
                                largest_offset;
  return largest_port <= 65535;
}

}  // namespace

std::shared_ptr<eprosima::fastdds::rtps::UDPv4TransportDescriptor> MakeUdpv4Descriptor(
    const std::vector<std::string>& interfaces, const char* owner) {
  auto udp = std::make_shared<eprosima::fastdds::rtps::UDPv4TransportDescriptor>();
  for (const std::string& entry : interfaces) {
    if (!IsIpv4Address(entry)) {
      throw std::invalid_argument(std::string("[") + owner +
                                  "] Interface whitelist entry is not an IPv4 address: \"" +
                                  Printable(entry) + "\"");
    }
    udp->interfaceWhiteList.push_back(entry);
  }
  return udp;
}

dds::DomainParticipantQos MakeNodeQos(const std::string& node_name) {
  dds::DomainParticipantQos qos;
  qos.name(node_name.substr(0, kMaxParticipantNameLength));
  auto& discovery = qos.wire_protocol().builtin.discovery_config;
  discovery.discoveryProtocol = eprosima::fastrtps::rtps::DiscoveryProtocol_t::SIMPLE;
  discovery.use_SIMPLE_EndpointDiscoveryProtocol = true;
  discovery.use_STATIC_EndpointDiscoveryProtocol = false;
  discovery.m_simpleEDP.use_PublicationWriterANDSubscriptionReader = true;
  discovery.m_simpleEDP.use_PublicationReaderANDSubscriptionWriter = true;
  discovery.initial_announcements.count = kDiscoveryAnnouncements;
  qos.transport().use_builtin_transports = false;
  return qos;
}

dds::DomainParticipant* CreateNodeParticipant(uint32_t domain_id,
                                              const dds::DomainParticipantQos& qos) {
  dds::DomainParticipant* participant = nullptr;
  if (DomainPortsFit(domain_id, qos)) {
    std::lock_guard<std::mutex> lock(ParticipantLifecycleMutex());
    // The library creates its type-object registry on first use without a
    // lock, and the first use is an endpoint's creation, which the two arms
    // of a pair do at the same time: create it here, one thread at a time.
    (void)eprosima::fastrtps::types::TypeObjectFactory::get_instance();
    participant = dds::DomainParticipantFactory::get_instance()->create_participant(
        domain_id, qos, nullptr, dds::StatusMask::all());
  }
  if (participant == nullptr) {
    throw std::runtime_error("Failed to create DDS participant");
  }
  return participant;
}

void DeleteNodeParticipant(dds::DomainParticipant* participant) noexcept {
  if (participant != nullptr) {
    std::lock_guard<std::mutex> lock(ParticipantLifecycleMutex());
    (void)dds::DomainParticipantFactory::get_instance()->delete_participant(participant);
  }
}

}  // namespace middleware2
}  // namespace quiral
