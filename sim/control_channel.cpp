#include "sim/control_channel.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include <nlohmann/json.hpp>

#include "sim/sim_controller.h"

namespace quiral::sim {

using nlohmann::json;

namespace {

size_t Index(const json& cmd, const char* key) {
  const int64_t v = cmd.value(key, int64_t{0});
  if (v < 0) throw std::invalid_argument(std::string(key) + " must not be negative");
  return static_cast<size_t>(v);
}

std::optional<int> OptionalInt(const json& cmd, const char* key) {
  if (!cmd.contains(key) || cmd[key].is_null()) return std::nullopt;
  return cmd[key].get<int>();
}

std::vector<std::string> Topics(const json& cmd) {
  if (!cmd.contains("topics")) return {};
  return cmd["topics"].get<std::vector<std::string>>();
}

}  // namespace

ControlChannel::ControlChannel(std::vector<SimController*> controllers)
    : controllers_(std::move(controllers)) {}

std::string ControlChannel::ReadyLine() const {
  json serials = json::array();
  for (auto* c : controllers_) serials.push_back(c->serial());
  return json{{"event", "ready"}, {"serials", serials}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string ControlChannel::Handle(const std::string& line, bool* quit) {
  json reply{{"id", nullptr}};
  try {
    const json cmd = json::parse(line);
    if (!cmd.is_object()) throw std::invalid_argument("a command must be a JSON object");
    if (cmd.contains("id")) reply["id"] = cmd["id"];
    const std::string name = cmd.at("cmd").get<std::string>();

    if (name == "quit") {
      *quit = true;
      reply["ok"] = true;
      return reply.dump(-1, ' ', false, json::error_handler_t::replace);
    }

    SimController* ctl = nullptr;
    if (cmd.contains("serial")) {
      const std::string serial = cmd["serial"].get<std::string>();
      for (auto* c : controllers_) {
        if (c->serial() == serial) ctl = c;
      }
      if (!ctl) throw std::invalid_argument("unknown serial '" + serial + "'");
    } else if (controllers_.size() == 1) {
      ctl = controllers_.front();
    } else {
      throw std::invalid_argument("'serial' is required with more than one controller");
    }

    json result = json::object();
    if (name == "state") {
      result = ctl->robot().StateJson();
      const json counts = ctl->recorder().Counts();
      for (const auto& [k, v] : counts.items()) result[k] = v;
      result["publishing"] = ctl->PublishingJson();
      result["matched"] = ctl->MatchedJson();
      result["faults"] = ctl->faults().ToJson();
      result["related_identity"] = ctl->related_identity();
    } else if (name == "set") {
      json fields = json::object();
      for (const auto& [k, v] : cmd.items()) {
        if (k == "id" || k == "cmd" || k == "serial") continue;
        if (k == "publish_states") {
          ctl->SetPublishing({}, v.get<bool>());
        } else if (k == "related_identity") {
          ctl->SetRelatedIdentity(v.get<bool>());
        } else if (k == "held_object") {
          ctl->HoldObject(v);
        } else {
          fields[k] = v;
        }
      }
      ctl->robot().Set(fields);
    } else if (name == "requests") {
      result = ctl->recorder().OpsJson(Index(cmd, "since"), Index(cmd, "limit"),
                                       OptionalInt(cmd, "procedure_id"),
                                       cmd.value("with_bytes", false));
    } else if (name == "data_requests") {
      result = ctl->recorder().DataJson(Index(cmd, "since"), Index(cmd, "limit"),
                                        OptionalInt(cmd, "request_id"));
    } else if (name == "motion_commands") {
      result = ctl->recorder().MotionJson(Index(cmd, "since"), Index(cmd, "limit"),
                                          cmd.value("compact", false));
    } else if (name == "heartbeats") {
      result = ctl->recorder().HeartbeatJson(Index(cmd, "since"), Index(cmd, "limit"));
    } else if (name == "fault") {
      result["rule"] = ctl->faults().Add(cmd);
    } else if (name == "faults") {
      result["rules"] = ctl->faults().ToJson();
    } else if (name == "clear_faults") {
      std::optional<Service> service;
      if (cmd.contains("service")) {
        const std::string s = cmd["service"].get<std::string>();
        if (s != "ops" && s != "data") throw std::invalid_argument("service must be \"ops\" or \"data\"");
        service = s == "ops" ? Service::kOps : Service::kData;
      }
      ctl->faults().Clear(service);
    } else if (name == "stop_states" || name == "start_states") {
      ctl->SetPublishing(Topics(cmd), name == "start_states");
    } else if (name == "event") {
      const int level = cmd.value("level", 1);
      if (level < 0 || level > 65535) throw std::invalid_argument("level must be 0 to 65535");
      const int64_t count = cmd.value("count", int64_t{1});
      if (count < 1 || count > 1000000) throw std::invalid_argument("count must be 1 to 1000000");
      const int64_t interval_us = cmd.value("interval_us", int64_t{0});
      if (interval_us < 0 || interval_us > 1000000) {
        throw std::invalid_argument("interval_us must be 0 to 1000000");
      }
      const int64_t burst = cmd.value("burst", int64_t{1});
      if (burst < 1 || burst > 1000000) throw std::invalid_argument("burst must be 1 to 1000000");
      const int32_t first_id = cmd.value("event_id", int32_t{0});
      // With a count, entries go out one after the other (a flood), the
      // i-th with id event_id + i, in bursts of `burst` entries that are
      // `interval_us` apart.
      for (int64_t i = 0; i < count; ++i) {
        if (i > 0 && interval_us > 0 && i % burst == 0) {
          std::this_thread::sleep_for(std::chrono::microseconds(interval_us));
        }
        const bool written = ctl->PublishEvent(
            static_cast<uint16_t>(level), static_cast<int32_t>(first_id + i),
            cmd.value("description", std::string()), cmd.value("consequences", std::string()),
            cmd.value("probable_causes", std::string()),
            cmd.value("recommended_actions", std::string()));
        if (!written) throw std::runtime_error("the event-log writer refused the entry");
      }
      result["written"] = count;
    } else if (name == "files") {
      result["files"] =
          ctl->robot().FilesJson(cmd.at("store").get<std::string>(), cmd.value("with_bytes", false));
    } else {
      throw std::invalid_argument("unknown command '" + name + "'");
    }
    reply["ok"] = true;
    for (auto& [k, v] : result.items()) {
      if (k != "id" && k != "ok") reply[k] = std::move(v);
    }
  } catch (const std::exception& e) {
    reply["ok"] = false;
    reply["error"] = e.what();
  }
  return reply.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace quiral::sim
