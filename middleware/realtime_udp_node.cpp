#include "middleware/realtime_udp_node.h"

#include <thread>

#include "middleware/dds_timing.h"
#include "middleware/node_participant.h"

namespace quiral {
namespace middleware2 {

namespace {

eprosima::fastdds::dds::DomainParticipant* CreateRealtimeParticipant(
    const std::string& node_name, uint32_t domain_id,
    const std::vector<std::string>& interfaces) {
  auto qos = MakeNodeQos(node_name);
  auto udp = MakeUdpv4Descriptor(interfaces, "quiral::middleware2::RealtimeUdpNode");
  udp->non_blocking_send = true;
  qos.transport().user_transports.push_back(udp);
  return CreateNodeParticipant(domain_id, qos);
}

}  // namespace

RealtimeUdpNode::RealtimeUdpNode(const std::string& node_name, uint32_t domain_id,
                                 const std::vector<std::string>& interfaces)
    : participant(CreateRealtimeParticipant(node_name, domain_id, interfaces)) {
  std::this_thread::sleep_for(kNodeSettleDelay);
}

RealtimeUdpNode::~RealtimeUdpNode() { DeleteNodeParticipant(participant); }

}  // namespace middleware2
}  // namespace quiral
