#include "client/lumo_data_rpc.h"

#include <exception>

#include <spdlog/spdlog.h>

#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"

namespace quiral {
namespace vek_impl {
namespace {

constexpr size_t kPlanInfoTexts = 8;
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
  if (list.size() != kPlanInfoTexts) {
    spdlog::error("[quiral::vek::Robot] Size of plan info container is incorrect");
    return Fault();
  }
  quiral::vek::PlanInfo decoded;
  decoded.item_0 = list[0];
  decoded.item_1 = list[1];
  decoded.item_2 = list[2];
  decoded.item_3 = list[3];
  decoded.item_4 = list[4];
  decoded.item_5 = list[5];
  // The two numbers come from the controller: a text that is not one is a
  // bad reply, not an error of the caller.
  try {
    decoded.item_6 = std::stod(list[6]);
  } catch (const std::exception&) {
    spdlog::debug("Plan info text 6 is not a number: [{}]", list[6]);
    return Fault();
  }
  try {
    decoded.item_7 = std::stoi(list[7]) != 0;
  } catch (const std::exception&) {
    spdlog::debug("Plan info text 7 is not an integer: [{}]", list[7]);
    return Fault();
  }
  info = std::move(decoded);
  return Ok();
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
