#include "middleware/default_node.h"

#include <memory>
#include <thread>

#include <fastdds/rtps/transport/shared_mem/SharedMemTransportDescriptor.h>

#include "middleware/dds_timing.h"
#include "middleware/node_participant.h"

namespace quiral {
namespace middleware2 {

namespace {

eprosima::fastdds::dds::DomainParticipant* CreateDefaultParticipant(
    const std::string& node_name, uint32_t shm_segment_size, uint32_t domain_id,
    const std::vector<std::string>& interfaces) {
  auto qos = MakeNodeQos(node_name);
  if (shm_segment_size != 0) {
    auto shm = std::make_shared<eprosima::fastdds::rtps::SharedMemTransportDescriptor>();
    shm->segment_size(shm_segment_size);
    qos.transport().user_transports.push_back(shm);
  }
  qos.transport().user_transports.push_back(
      MakeUdpv4Descriptor(interfaces, "quiral::middleware2::DefaultNode"));
  return CreateNodeParticipant(domain_id, qos);
}

}  // namespace

DefaultNode::DefaultNode(const std::string& node_name, uint32_t shm_segment_size,
                         uint32_t domain_id, const std::vector<std::string>& interfaces)
    : participant(CreateDefaultParticipant(node_name, shm_segment_size, domain_id, interfaces)) {
  std::this_thread::sleep_for(kNodeSettleDelay);
}

DefaultNode::~DefaultNode() { DeleteNodeParticipant(participant); }

}  // namespace middleware2
}  // namespace quiral
