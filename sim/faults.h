// Fault injection: rules that change how a simulated controller answers the
// requests of one service.
//
// A rule names the service ("ops" or "data"), the procedure or request id it
// applies to (or every id), a kind and how many requests it applies to (-1:
// until cleared). The first rule that matches a request and still has
// requests left applies to it, and only that one.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vek_msgs::msg {
class RPCReply;
}  // namespace vek_msgs::msg
namespace quiral_lumo_msgs::msg {
class RPCReply;
}  // namespace quiral_lumo_msgs::msg

namespace quiral::sim {

enum class Service { kOps, kData };

enum class FaultKind {
  kNoReply,         // the request is not answered
  kLateReply,       // answered after delay_ms
  kDuplicateReply,  // answered `copies` times
  kWrongId,         // the reply carries another id (reply_id, default id + 1)
  kFail,            // success false
  kShortLists,      // every reply container cut to `keep` entries (default: one fewer)
  kOversizedLists,  // every reply container padded by `extra` entries (default 1)
  kBadCrc,          // the CRC-32 of a file reply is wrong
  kCustomReply,     // the reply's containers are those given in `reply`
};

struct FaultRule {
  int rule_id = 0;
  Service service = Service::kOps;
  std::optional<int> id;  // procedure / request id; none: every id
  FaultKind kind = FaultKind::kFail;
  int64_t remaining = 1;  // -1: until cleared
  int delay_ms = 0;       // any kind may be delayed as well
  int copies = 2;
  std::optional<int64_t> reply_id;
  std::optional<int64_t> keep;
  int64_t extra = 1;
  nlohmann::json reply;
  uint64_t hits = 0;
};

class FaultTable {
 public:
  // Parses a rule from the control command's fields; throws
  // std::invalid_argument on a bad rule. Returns the rule's id.
  int Add(const nlohmann::json& command);
  // Removes the rules of one service, or all of them.
  void Clear(std::optional<Service> service);
  // The rule that applies to this request, with its count taken.
  std::optional<FaultRule> Take(Service service, int id);
  nlohmann::json ToJson();

 private:
  std::mutex mu_;
  std::vector<FaultRule> rules_;
  int next_id_ = 1;
};

// Changes a reply as the rule says (everything but no_reply, late_reply and
// duplicate_reply, which concern the sending).
void ApplyFault(const FaultRule& rule, vek_msgs::msg::RPCReply& reply);
void ApplyFault(const FaultRule& rule, quiral_lumo_msgs::msg::RPCReply& reply);

}  // namespace quiral::sim
