#include "client/lumo_data_rpc.h"

#include <spdlog/spdlog.h>

#include "client/plan_info_text.h"
#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"

namespace quiral {
namespace vek_impl {
namespace {

// Manipulability reply: two leading figures, then the two triples.
constexpr size_t kManipulabilityFloats = 8;

QorState Ok() { return _MakeQorState(QorGeneralState::OK); }
QorState Fault() { return _MakeQorState(QorGeneralState::FAULT); }

}  // namespace

QorState LUMODataRpc::RequestLUMOVersion(std::string& version) {
  return RequestFirstText(LUMORequestId::RequestLUMOVersion, version);
}

QorState LUMODataRpc::RequestPtStates(std::vector<std::string>& list) {
  return RequestStringList(LUMORequestId::RequestPtStates, list);
}

QorState LUMODataRpc::RequestPlanInfo(quiral::vek::PlanInfo& info) {
  std::vector<std::string> list;
  if (!QorSucceeded(RequestStringList(LUMORequestId::RequestPlanInfo, list))) {
    return Fault();
  }
  return DecodePlanInfo(list, info) ? Ok() : Fault();
}

QorState LUMODataRpc::RequestManipulability(std::array<double, 3>& first,
                                            std::array<double, 3>& second) {
  quiral_lumo_msgs::msg::RPCReply reply;
  const QorState state = Call(NewRequest(LUMORequestId::RequestManipulability), reply);
  if (!QorSucceeded(state)) {
    return state;
  }
  const auto& floats = reply.float_container();
  if (floats.size() < kManipulabilityFloats) {
    spdlog::debug("Size of float container is {}, expecting at least {}", floats.size(),
                  kManipulabilityFloats);
    return Fault();
  }
  for (size_t i = 0; i < 3; ++i) {
    first[i] = static_cast<double>(floats[2 + i]);
    second[i] = static_cast<double>(floats[5 + i]);
  }
  return Ok();
}

}  // namespace vek_impl
}  // namespace quiral
