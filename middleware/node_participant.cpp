#include "middleware/node_participant.h"

#include <arpa/inet.h>

#include <algorithm>
#include <stdexcept>

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/domain/DomainParticipantFactory.hpp>

namespace quiral {
namespace middleware2 {

namespace dds = eprosima::fastdds::dds;

namespace {

bool IsIpv4Address(const std::string& text) {
  in_addr address{};
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
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
                                  entry + "\"");
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
    (void)dds::DomainParticipantFactory::get_instance()->delete_participant(participant);
  }
}

}  // namespace middleware2
}  // namespace quiral
