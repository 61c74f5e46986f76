// What the clients of the robot's two request/reply services share: the
// request/reply client on the service's topics, the call with its attempts
// and its checks of the reply, and the requests for a list of texts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/qor_state.h"
#include "client/link_turns.h"
#include "client/service_ids.h"

namespace vek_msgs {
namespace msg {
class RPCRequest;
class RPCRequestPubSubType;
class RPCReply;
class RPCReplyPubSubType;
}  // namespace msg
}  // namespace vek_msgs

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

// The operations service: procedures, a silent server is asked 3 times
// (2 s each, no pause).
struct OperationsService {
  using RequestSupport = vek_msgs::msg::RPCRequestPubSubType;
  using ReplySupport = vek_msgs::msg::RPCReplyPubSubType;
  using Request = vek_msgs::msg::RPCRequest;
  using Reply = vek_msgs::msg::RPCReply;
  using Id = ProcedureId;
  static constexpr const char* kTopicPrefix = "quiral_vek/RPC/";
  static constexpr int kAttempts = 3;
  static constexpr double kTimeoutSec = 2.0;

  static void SetId(Request& request, Id id);
  // The reply carries the request's id.
  static bool SameId(const Reply& reply, const Request& request);
};

// The data service: numbered requests, each sent once (2 s).
struct LUMODataService {
  using RequestSupport = quiral_lumo_msgs::msg::RPCRequestPubSubType;
  using ReplySupport = quiral_lumo_msgs::msg::RPCReplyPubSubType;
  using Request = quiral_lumo_msgs::msg::RPCRequest;
  using Reply = quiral_lumo_msgs::msg::RPCReply;
  using Id = LUMORequestId;
  static constexpr const char* kTopicPrefix = "quiral_lumo/non_stream_rpc/";
  static constexpr int kAttempts = 1;
  static constexpr double kTimeoutSec = 2.0;

  static void SetId(Request& request, Id id);
  static bool SameId(const Reply& reply, const Request& request);
};

// Every call returns OK (100000) or FAULT (300000) and never throws; the
// reason of a FAULT goes to the default logger at debug level. A call takes
// the reply that names one of its requests or, from a controller that names
// none, the first that carries its id; other replies are dropped while it
// waits (see Exchange). Each attempt takes its turn on the link (see
// LinkTurns): a call made with an urgent CallTurn goes before the further
// attempts of ordinary calls. The members are defined,
// and both services' clients instantiated, in client/service_client.cpp.
template <class Service>
class ServiceClient {
 public:
  using Request = typename Service::Request;
  using Reply = typename Service::Reply;
  using Id = typename Service::Id;
  using RpcClient = middleware2::FastDDSRpcClient<typename Service::RequestSupport,
                                                  typename Service::ReplySupport>;

  virtual ~ServiceClient();

  ServiceClient(const ServiceClient&) = delete;
  ServiceClient& operator=(const ServiceClient&) = delete;

  // Request/reply client on the service's topic prefix + suffix (about
  // 200 ms), replacing a previous one. Always OK; DDS creation failures
  // throw.
  QorState Init(const middleware2::DefaultNode& node, const std::string& topic_suffix);

  // Request `id` without arguments; the reply's texts in order. `list` is
  // written only on success.
  QorState RequestStringList(Id id, std::vector<std::string>& list);

 protected:
  ServiceClient() = default;

  // A request carrying `id` and nothing else.
  static Request NewRequest(Id id);

  // The reply reports success and carries the request's id.
  static bool Answers(const Reply& reply, const Request& request);

  // Sends `request` up to the service's attempts, each waiting for its
  // turn on the link and then for its reply up to the service's time-out;
  // true when a reply arrived (in `reply`). False at once when the client
  // was never started, and when `turn` abandons the call before an attempt.
  bool Exchange(const Request& request, Reply& reply, const CallTurn& turn = {});

  // Exchange, then the reply's success flag and id: OK, or FAULT with
  // "Failed to send remote call or server reply timeout" (no reply) or
  // "Remote procedure failed" (refused, or another id in a reply that
  // names this call's request).
  QorState Call(const Request& request, Reply& reply, const CallTurn& turn = {});

  // RequestStringList, then its first text; a reply without text is a
  // FAULT. `text` is written only on success.
  QorState RequestFirstText(Id id, std::string& text);

 private:
  std::shared_ptr<RpcClient> client_;
  LinkTurns turns_;
};

}  // namespace vek_impl
}  // namespace quiral
