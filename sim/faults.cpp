#include "sim/faults.h"

#include <stdexcept>

#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "sim/base64.h"

namespace quiral::sim {

using nlohmann::json;

namespace {

FaultKind ParseKind(const std::string& kind) {
  static const std::pair<const char*, FaultKind> kKinds[] = {
      {"no_reply", FaultKind::kNoReply},
      {"late_reply", FaultKind::kLateReply},
      {"duplicate_reply", FaultKind::kDuplicateReply},
      {"wrong_id", FaultKind::kWrongId},
      {"fail", FaultKind::kFail},
      {"short_lists", FaultKind::kShortLists},
      {"oversized_lists", FaultKind::kOversizedLists},
      {"bad_crc", FaultKind::kBadCrc},
      {"custom_reply", FaultKind::kCustomReply},
  };
  for (const auto& [name, value] : kKinds) {
    if (kind == name) return value;
  }
  throw std::invalid_argument("unknown fault kind '" + kind + "'");
}

const char* KindName(FaultKind kind) {
  switch (kind) {
    case FaultKind::kNoReply: return "no_reply";
    case FaultKind::kLateReply: return "late_reply";
    case FaultKind::kDuplicateReply: return "duplicate_reply";
    case FaultKind::kWrongId: return "wrong_id";
    case FaultKind::kFail: return "fail";
    case FaultKind::kShortLists: return "short_lists";
    case FaultKind::kOversizedLists: return "oversized_lists";
    case FaultKind::kBadCrc: return "bad_crc";
    case FaultKind::kCustomReply: return "custom_reply";
  }
  return "?";
}

template <class T>
void Cut(std::vector<T>& v, const std::optional<int64_t>& keep) {
  if (keep) {
    if (*keep >= 0 && static_cast<size_t>(*keep) < v.size()) v.resize(static_cast<size_t>(*keep));
  } else if (!v.empty()) {
    v.pop_back();
  }
}

template <class T>
void Pad(std::vector<T>& v, int64_t extra, const T& filler) {
  for (int64_t i = 0; i < extra; ++i) v.push_back(filler);
}

}  // namespace

int FaultTable::Add(const json& c) {
  FaultRule rule;
  const std::string service = c.value("service", std::string("ops"));
  if (service == "ops") {
    rule.service = Service::kOps;
  } else if (service == "data") {
    rule.service = Service::kData;
  } else {
    throw std::invalid_argument("service must be \"ops\" or \"data\"");
  }
  const json& id = c.contains("procedure_id") ? c["procedure_id"]
                   : c.contains("request_id") ? c["request_id"]
                                              : json();
  if (!id.is_null() && !(id.is_string() && id.get<std::string>() == "all")) {
    rule.id = id.get<int>();
  }
  rule.kind = ParseKind(c.at("kind").get<std::string>());
  rule.remaining = c.value("count", int64_t{1});
  if (rule.remaining == 0 || rule.remaining < -1) {
    throw std::invalid_argument("count must be positive or -1");
  }
  rule.delay_ms = c.value("delay_ms", 0);
  if (rule.kind == FaultKind::kLateReply && !c.contains("delay_ms")) {
    throw std::invalid_argument("late_reply needs delay_ms");
  }
  if (rule.delay_ms < 0) throw std::invalid_argument("delay_ms must not be negative");
  rule.copies = c.value("copies", 2);
  if (rule.copies < 1 || rule.copies > 100) throw std::invalid_argument("copies must be 1 to 100");
  if (c.contains("reply_id")) rule.reply_id = c["reply_id"].get<int64_t>();
  if (c.contains("keep")) rule.keep = c["keep"].get<int64_t>();
  rule.extra = c.value("extra", int64_t{1});
  if (rule.extra < 0 || rule.extra > 1000000) throw std::invalid_argument("extra out of range");
  if (rule.kind == FaultKind::kCustomReply) {
    if (!c.contains("reply") || !c["reply"].is_object()) {
      throw std::invalid_argument("custom_reply needs a 'reply' object");
    }
    rule.reply = c["reply"];
  }
  std::lock_guard<std::mutex> lock(mu_);
  rule.rule_id = next_id_++;
  rules_.push_back(rule);
  return rule.rule_id;
}

void FaultTable::Clear(std::optional<Service> service) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!service) {
    rules_.clear();
    return;
  }
  std::vector<FaultRule> kept;
  for (auto& r : rules_) {
    if (r.service != *service) kept.push_back(r);
  }
  rules_ = std::move(kept);
}

std::optional<FaultRule> FaultTable::Take(Service service, int id) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    if (it->service != service || (it->id && *it->id != id)) continue;
    ++it->hits;
    FaultRule copy = *it;
    if (it->remaining > 0 && --it->remaining == 0) rules_.erase(it);
    return copy;
  }
  return std::nullopt;
}

json FaultTable::ToJson() {
  std::lock_guard<std::mutex> lock(mu_);
  json out = json::array();
  for (const auto& r : rules_) {
    out.push_back({{"rule", r.rule_id},
                   {"service", r.service == Service::kOps ? "ops" : "data"},
                   {"id", r.id ? json(*r.id) : json("all")},
                   {"kind", KindName(r.kind)},
                   {"remaining", r.remaining},
                   {"hits", r.hits}});
  }
  return out;
}

void ApplyFault(const FaultRule& rule, vek_msgs::msg::RPCReply& reply) {
  switch (rule.kind) {
    case FaultKind::kWrongId:
      reply.procedure_id(static_cast<uint32_t>(rule.reply_id.value_or(reply.procedure_id() + 1)));
      break;
    case FaultKind::kFail:
      reply.success(false);
      break;
    case FaultKind::kShortLists:
      Cut(reply.int_container(), rule.keep);
      Cut(reply.float_container(), rule.keep);
      Cut(reply.string_container(), rule.keep);
      Cut(reply.raw_bytes_container(), rule.keep);
      break;
    case FaultKind::kOversizedLists:
      Pad(reply.int_container(), rule.extra, int32_t{0});
      Pad(reply.float_container(), rule.extra, 0.0f);
      Pad(reply.string_container(), rule.extra, std::string("extra"));
      break;
    case FaultKind::kBadCrc:
      if (reply.int_container().empty()) reply.int_container().push_back(0);
      reply.int_container()[0] = static_cast<int32_t>(
          rule.reply_id ? static_cast<uint32_t>(*rule.reply_id)
                        : ~static_cast<uint32_t>(reply.int_container()[0]));
      break;
    case FaultKind::kCustomReply: {
      const json& r = rule.reply;
      if (r.contains("procedure_id")) reply.procedure_id(r["procedure_id"].get<uint32_t>());
      if (r.contains("success")) reply.success(r["success"].get<bool>());
      if (r.contains("int_container")) {
        reply.int_container(r["int_container"].get<std::vector<int32_t>>());
      }
      if (r.contains("float_container")) {
        reply.float_container(r["float_container"].get<std::vector<float>>());
      }
      if (r.contains("string_container")) {
        reply.string_container(r["string_container"].get<std::vector<std::string>>());
      }
      if (r.contains("raw_bytes_base64")) {
        reply.raw_bytes_container(Base64Decode(r["raw_bytes_base64"].get<std::string>()));
      }
      if (r.contains("tool_params")) {
        const json& t = r["tool_params"];
        auto& tp = reply.tool_params();
        if (t.contains("name")) tp.name(t["name"].get<std::string>());
        if (t.contains("mass")) tp.mass(t["mass"].get<float>());
        if (t.contains("CoM")) tp.CoM(t["CoM"].get<std::array<float, 3>>());
        if (t.contains("inertia")) tp.inertia(t["inertia"].get<std::array<float, 6>>());
        if (t.contains("tcp_location")) tp.tcp_location(t["tcp_location"].get<std::array<float, 7>>());
      }
      break;
    }
    default:
      break;
  }
}

void ApplyFault(const FaultRule& rule, quiral_lumo_msgs::msg::RPCReply& reply) {
  switch (rule.kind) {
    case FaultKind::kWrongId:
      reply.request_id(static_cast<uint16_t>(rule.reply_id.value_or(reply.request_id() + 1)));
      break;
    case FaultKind::kFail:
      reply.success(false);
      break;
    case FaultKind::kShortLists:
      Cut(reply.string_container(), rule.keep);
      Cut(reply.float_container(), rule.keep);
      break;
    case FaultKind::kOversizedLists:
      Pad(reply.string_container(), rule.extra, std::string("extra"));
      Pad(reply.float_container(), rule.extra, 0.0f);
      break;
    case FaultKind::kCustomReply: {
      const json& r = rule.reply;
      if (r.contains("request_id")) reply.request_id(r["request_id"].get<uint16_t>());
      if (r.contains("success")) reply.success(r["success"].get<bool>());
      if (r.contains("string_container")) {
        reply.string_container(r["string_container"].get<std::vector<std::string>>());
      }
      if (r.contains("float_container")) {
        reply.float_container(r["float_container"].get<std::vector<float>>());
      }
      break;
    }
    default:
      break;
  }
}

}  // namespace quiral::sim
