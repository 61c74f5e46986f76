#include "client/service_client.h"

#include <exception>
#include <utility>

#include <spdlog/spdlog.h>

#include "middleware/default_node.h"
#include "middleware/fast_dds_rpc_client.h"
#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"

namespace quiral {
namespace vek_impl {

void OperationsService::SetId(Request& request, Id id) {
  request.procedure_id(static_cast<uint16_t>(id));
}

bool OperationsService::SameId(const Reply& reply, const Request& request) {
  // The reply's id is 32 bits wide: one that matches only in its low 16
  // bits is another id.
  return reply.procedure_id() == static_cast<uint32_t>(request.procedure_id());
}

void LUMODataService::SetId(Request& request, Id id) {
  request.request_id(static_cast<uint16_t>(id));
}

bool LUMODataService::SameId(const Reply& reply, const Request& request) {
  return reply.request_id() == request.request_id();
}

template <class Service>
ServiceClient<Service>::~ServiceClient() {
  client_.reset();
}

template <class Service>
QorState ServiceClient<Service>::Init(const middleware2::DefaultNode& node,
                                      const std::string& topic_suffix) {
  const std::string topic = Service::kTopicPrefix + topic_suffix;
  spdlog::debug("[quiral::vek::Robot] Creating RPC client on topic: {}", topic);
  client_.reset();
  client_ = std::make_shared<RpcClient>(node.participant, topic);
  return _MakeQorState(QorGeneralState::OK);
}

template <class Service>
typename Service::Request ServiceClient<Service>::NewRequest(Id id) {
  Request request;
  Service::SetId(request, id);
  return request;
}

template <class Service>
bool ServiceClient<Service>::Answers(const Reply& reply, const Request& request) {
  return reply.success() && Service::SameId(reply, request);
}

template <class Service>
bool ServiceClient<Service>::Exchange(const Request& request, Reply& reply, const CallTurn& turn) {
  if (client_ == nullptr) {
    return false;
  }
  // A reply that names its request answers this call when it names one of
  // its attempts (they all carry the same request). A reply that names none
  // answers it when it carries the request's id: one to another procedure
  // is dropped, but a late answer to an earlier request with the same id
  // cannot be told from this call's own.
  typename RpcClient::Call call(
      [&request](const Reply& candidate) { return Service::SameId(candidate, request); });
  for (int attempt = 0; attempt < Service::kAttempts; ++attempt) {
    if (!turns_.Take(turn)) {
      spdlog::debug("Remote call abandoned before attempt {}", attempt + 1);
      return false;
    }
    bool answered = false;
    try {
      answered = client_->SendRequestAndGetReply(request, reply, Service::kTimeoutSec, call);
    } catch (const std::exception& e) {
      turns_.Give();
      spdlog::debug("Remote call raised: {}", e.what());
      return false;
    }
    turns_.Give();
    if (answered) return true;
  }
  return false;
}

template <class Service>
QorState ServiceClient<Service>::Call(const Request& request, Reply& reply, const CallTurn& turn) {
  if (!Exchange(request, reply, turn)) {
    spdlog::debug("Failed to send remote call or server reply timeout");
    return _MakeQorState(QorGeneralState::FAULT);
  }
  if (!Answers(reply, request)) {
    spdlog::debug("Remote procedure failed");
    return _MakeQorState(QorGeneralState::FAULT);
  }
  return _MakeQorState(QorGeneralState::OK);
}

template <class Service>
QorState ServiceClient<Service>::RequestStringList(Id id, std::vector<std::string>& list) {
  Reply reply;
  const QorState state = Call(NewRequest(id), reply);
  if (QorSucceeded(state)) {
    list = std::move(reply.string_container());
  }
  return state;
}

template <class Service>
QorState ServiceClient<Service>::RequestFirstText(Id id, std::string& text) {
  std::vector<std::string> list;
  const QorState state = RequestStringList(id, list);
  if (!QorSucceeded(state)) {
    return state;
  }
  if (list.empty()) {
    spdlog::debug("Reply holds no text");
    return _MakeQorState(QorGeneralState::FAULT);
  }
  text = std::move(list[0]);
  return state;
}

template class ServiceClient<OperationsService>;
template class ServiceClient<LUMODataService>;

}  // namespace vek_impl
}  // namespace quiral
