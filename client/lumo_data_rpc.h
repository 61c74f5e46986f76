// Client of the robot's data service: numbered requests without arguments,
// each sent once.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/qor_state.h"
#include "base/vek_types.h"
#include "client/service_ids.h"

namespace quiral_lumo_msgs {
namespace msg {
class RPCRequest;
class RPCRequestPubSubType;
class RPCReply;
class RPCReplyPubSubType;
}  // namespace msg
}  // namespace quiral_lumo_msgs

namespace quiral {
namespace middleware2 {
class DefaultNode;
template <class Req, class Rep>
class FastDDSRpcClient;
}  // namespace middleware2

namespace vek_impl {

// Every operation returns OK (100000) or FAULT (300000) and never throws;
// the reason of a FAULT goes to the default logger. Each request is sent
// once and waits at most 2 s. A reply of the wrong shape is a FAULT and
// leaves every output argument as it was.
class LUMODataRpc {
 public:
  using RpcClient = middleware2::FastDDSRpcClient<quiral_lumo_msgs::msg::RPCRequestPubSubType,
                                                  quiral_lumo_msgs::msg::RPCReplyPubSubType>;

  LUMODataRpc() = default;
  virtual ~LUMODataRpc();

  LUMODataRpc(const LUMODataRpc&) = delete;
  LUMODataRpc& operator=(const LUMODataRpc&) = delete;

  // Request/reply client on "quiral_lumo/non_stream_rpc/" + suffix (about
  // 200 ms). Always OK; DDS creation failures throw.
  QorState Init(const middleware2::DefaultNode& node, const std::string& topic_suffix);

  // Request `id`; the reply's texts in order.
  QorState RequestStringList(LUMORequestId id, std::vector<std::string>& list);
  // Request 1: the first text.
  QorState RequestLUMOVersion(std::string& version);
  // Request 2: the running primitive's states, one text each.
  QorState RequestPtStates(std::vector<std::string>& list);
  // Request 3: exactly 8 texts; text 6 a decimal number, text 7 a decimal
  // integer (true when not 0). A text that is not a number is a FAULT.
  QorState RequestPlanInfo(quiral::vek::PlanInfo& info);
  // Request 8: first = floats 2 to 4, second = floats 5 to 7.
  QorState RequestManipulability(std::array<double, 3>& first, std::array<double, 3>& second);

 private:
  // One request; checks the success flag and the id of the reply.
  QorState Call(LUMORequestId id, quiral_lumo_msgs::msg::RPCReply& reply);

  std::shared_ptr<RpcClient> client_;
};

}  // namespace vek_impl
}  // namespace quiral
