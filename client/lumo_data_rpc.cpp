#include "client/lumo_data_rpc.h"

#include <exception>

#include <spdlog/spdlog.h>

#include "middleware/default_node.h"
#include "middleware/fast_dds_rpc_client.h"
#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"

namespace quiral {
namespace vek_impl {
namespace {

const std::string kDataServiceTopicPrefix = "quiral_lumo/non_stream_rpc/";

// Time-out of the one attempt, in seconds.
constexpr double kDataServiceTimeoutSec = 2.0;

constexpr size_t kPlanInfoTexts = 8;
// Manipulability reply: two leading figures, then the two triples.
constexpr size_t kManipulabilityFloats = 8;

QorState Ok() { return _MakeQorState(QorGeneralState::OK); }
QorState Fault() { return _MakeQorState(QorGeneralState::FAULT); }

}  // namespace

LUMODataRpc::~LUMODataRpc() { client_.reset(); }

QorState LUMODataRpc::Init(const middleware2::DefaultNode& node,
                           const std::string& topic_suffix) {
  const std::string topic = kDataServiceTopicPrefix + topic_suffix;
  spdlog::debug("[quiral::vek::Robot] Creating RPC client on topic: {}", topic);
  client_.reset();
  client_ = std::make_shared<RpcClient>(node.participant, topic);
  return Ok();
}

QorState LUMODataRpc::Call(LUMORequestId id, quiral_lumo_msgs::msg::RPCReply& reply) {
  quiral_lumo_msgs::msg::RPCRequest request;
  request.request_id(static_cast<uint16_t>(id));
  bool answered = false;
  if (client_ != nullptr) {
    try {
      answered = client_->SendRequestAndGetReply(request, reply, kDataServiceTimeoutSec);
    } catch (const std::exception& e) {
      spdlog::debug("Data-service request {} raised: {}", static_cast<uint16_t>(id), e.what());
    }
  }
  if (!answered) {
    spdlog::debug("Failed to send remote call or server reply timeout");
    return Fault();
  }
  if (!reply.success() || reply.request_id() != static_cast<uint16_t>(id)) {
    spdlog::debug("Remote procedure failed");
    return Fault();
  }
  return Ok();
}

QorState LUMODataRpc::RequestStringList(LUMORequestId id, std::vector<std::string>& list) {
  quiral_lumo_msgs::msg::RPCReply reply;
  const QorState state = Call(id, reply);
  if (!QorSucceeded(state)) {
    return state;
  }
  list = std::move(reply.string_container());
  return Ok();
}

QorState LUMODataRpc::RequestLUMOVersion(std::string& version) {
  std::vector<std::string> list;
  if (!QorSucceeded(RequestStringList(LUMORequestId::RequestLUMOVersion, list))) {
    return Fault();
  }
  if (list.empty()) {
    spdlog::debug("Data service version reply holds no text");
    return Fault();
  }
  version = list[0];
  return Ok();
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
  const QorState state = Call(LUMORequestId::RequestManipulability, reply);
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
