#include "sim/recorder.h"

#include <algorithm>

#include <zlib.h>

#include "msgs/vek_msgs/motion_commands.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "sim/base64.h"

namespace quiral::sim {

using nlohmann::json;

struct Recorder::OpsRecord {
  uint64_t t_ns = 0;
  uint16_t procedure_id = 0;
  std::vector<int32_t> int_args;
  std::vector<float> float_args;
  std::vector<std::string> string_args;
  std::string long_string;
  std::vector<uint8_t> raw;
  uint32_t raw_crc = 0;
  std::string tool_name;
  float mass = 0;
  std::array<float, 3> com{};
  std::array<float, 6> inertia{};
  std::array<float, 7> tcp{};
};

namespace {

json CartesianJson(const vek_msgs::msg::CartesianCommands& c) {
  return {{"pose", c.pose()},
          {"wrench", c.wrench()},
          {"velocity", c.velocity()},
          {"acceleration", c.acceleration()},
          {"max_linear_vel", c.max_linear_vel()},
          {"max_angular_vel", c.max_angular_vel()},
          {"max_linear_acc", c.max_linear_acc()},
          {"max_angular_acc", c.max_angular_acc()}};
}

json MotionCommandJson(const vek_msgs::msg::MotionCommands& m) {
  const auto& j = m.joint_commands();
  json multi = json::array();
  for (const auto& c : m.cartesian_multi_commands()) multi.push_back(CartesianJson(c));
  return {{"sequence_num", m.sequence_num()},
          {"joint",
           {{"torque", j.torque()},
            {"position", j.position()},
            {"velocity", j.velocity()},
            {"acceleration", j.acceleration()},
            {"max_vel", j.max_vel()},
            {"max_acc", j.max_acc()},
            {"friction_comp_scale", j.friction_comp_scale()},
            {"disable_gravity_comp", j.disable_gravity_comp()},
            {"disable_soft_limit", j.disable_soft_limit()}}},
          {"cartesian", CartesianJson(m.cartesian_commands())},
          {"cartesian_multi", multi},
          {"joint_multi_positions", m.joint_multi_positions()}};
}

size_t EndOf(size_t since, size_t limit, size_t size) {
  if (since >= size) return size;
  return limit == 0 ? size : std::min(size, since + limit);
}

}  // namespace

Recorder::Recorder(size_t motion_detail_capacity)
    : motion_detail_capacity_(motion_detail_capacity) {
  motion_.reserve(1 << 16);
  heartbeats_.reserve(1 << 14);
}

Recorder::~Recorder() = default;

void Recorder::RecordOps(uint64_t t_ns, const vek_msgs::msg::RPCRequest& request) {
  auto rec = std::make_unique<OpsRecord>();
  rec->t_ns = t_ns;
  rec->procedure_id = request.procedure_id();
  rec->int_args = request.int_args();
  rec->float_args = request.float_args();
  rec->string_args = request.string_args();
  rec->long_string = request.long_string_arg().to_string();
  rec->raw.assign(request.raw_bytes_arg().begin(), request.raw_bytes_arg().end());
  rec->raw_crc = static_cast<uint32_t>(crc32_z(0, rec->raw.data(), rec->raw.size()));
  const auto& tp = request.tool_params();
  rec->tool_name = tp.name();
  rec->mass = tp.mass();
  rec->com = tp.CoM();
  rec->inertia = tp.inertia();
  rec->tcp = tp.tcp_location();
  std::lock_guard<std::mutex> lock(mu_);
  ops_.push_back(std::move(rec));
}

void Recorder::RecordData(uint64_t t_ns, uint16_t request_id) {
  std::lock_guard<std::mutex> lock(mu_);
  data_.emplace_back(t_ns, request_id);
}

void Recorder::RecordMotion(uint64_t t_ns, const vek_msgs::msg::MotionCommands& command,
                            bool applied) {
  std::unique_ptr<vek_msgs::msg::MotionCommands> copy;
  std::unique_ptr<vek_msgs::msg::MotionCommands> dropped;
  if (motion_detail_capacity_ > 0) {
    copy = std::make_unique<vek_msgs::msg::MotionCommands>(command);
  }
  std::lock_guard<std::mutex> lock(mu_);
  motion_.push_back({command.sequence_num(), t_ns, applied});
  if (copy) {
    motion_detail_.push_back(std::move(copy));
    if (motion_detail_.size() > motion_detail_capacity_) {
      dropped = std::move(motion_detail_.front());  // freed after the lock
      motion_detail_.pop_front();
      ++motion_detail_first_;
    }
  } else {
    ++motion_detail_first_;
  }
}

void Recorder::RecordHeartbeat(uint64_t t_ns) {
  std::lock_guard<std::mutex> lock(mu_);
  heartbeats_.push_back(t_ns);
}

json Recorder::OpsJson(size_t since, size_t limit, std::optional<int> procedure_id,
                       bool with_bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  json items = json::array();
  const size_t end = EndOf(since, limit, ops_.size());
  for (size_t i = since; i < end; ++i) {
    const OpsRecord& r = *ops_[i];
    if (procedure_id && *procedure_id != r.procedure_id) continue;
    json raw{{"size", r.raw.size()}, {"crc32", r.raw_crc}};
    if (with_bytes) raw["base64"] = Base64Encode(r.raw.data(), r.raw.size());
    items.push_back({{"index", i},
                     {"t_ns", r.t_ns},
                     {"procedure_id", r.procedure_id},
                     {"int_args", r.int_args},
                     {"float_args", r.float_args},
                     {"string_args", r.string_args},
                     {"long_string", r.long_string},
                     {"raw_bytes", raw},
                     {"tool_params",
                      {{"name", r.tool_name},
                       {"mass", r.mass},
                       {"CoM", r.com},
                       {"inertia", r.inertia},
                       {"tcp_location", r.tcp}}}});
  }
  return {{"total", ops_.size()}, {"next", end}, {"items", items}};
}

json Recorder::DataJson(size_t since, size_t limit, std::optional<int> request_id) {
  std::lock_guard<std::mutex> lock(mu_);
  json items = json::array();
  const size_t end = EndOf(since, limit, data_.size());
  for (size_t i = since; i < end; ++i) {
    if (request_id && *request_id != data_[i].second) continue;
    items.push_back({{"index", i}, {"t_ns", data_[i].first}, {"request_id", data_[i].second}});
  }
  return {{"total", data_.size()}, {"next", end}, {"items", items}};
}

json Recorder::MotionJson(size_t since, size_t limit, bool compact) {
  std::lock_guard<std::mutex> lock(mu_);
  const size_t end = EndOf(since, limit, motion_.size());
  json out{{"total", motion_.size()}, {"next", end}};
  if (compact) {
    std::vector<uint64_t> seqs;
    seqs.reserve(end > since ? end - since : 0);
    uint64_t applied = 0;
    for (size_t i = since; i < end; ++i) {
      seqs.push_back(motion_[i].seq);
      applied += motion_[i].applied ? 1 : 0;
    }
    out["seqs"] = std::move(seqs);
    out["applied"] = applied;
    if (end > since) {
      out["first_t_ns"] = motion_[since].t_ns;
      out["last_t_ns"] = motion_[end - 1].t_ns;
    }
    return out;
  }
  json items = json::array();
  for (size_t i = since; i < end; ++i) {
    json item;
    if (i >= motion_detail_first_ && i - motion_detail_first_ < motion_detail_.size()) {
      item = MotionCommandJson(*motion_detail_[i - motion_detail_first_]);
    } else {
      item = {{"sequence_num", motion_[i].seq}, {"details_dropped", true}};
    }
    item["index"] = i;
    item["t_ns"] = motion_[i].t_ns;
    item["applied"] = motion_[i].applied;
    items.push_back(std::move(item));
  }
  out["items"] = std::move(items);
  return out;
}

json Recorder::HeartbeatJson(size_t since, size_t limit) {
  std::lock_guard<std::mutex> lock(mu_);
  const size_t end = EndOf(since, limit, heartbeats_.size());
  return {{"total", heartbeats_.size()},
          {"next", end},
          {"t_ns", std::vector<uint64_t>(heartbeats_.begin() + static_cast<long>(std::min(since, end)),
                                         heartbeats_.begin() + static_cast<long>(end))}};
}

json Recorder::Counts() {
  std::lock_guard<std::mutex> lock(mu_);
  json hb{{"count", heartbeats_.size()}};
  hb["first_t_ns"] = heartbeats_.empty() ? json() : json(heartbeats_.front());
  hb["last_t_ns"] = heartbeats_.empty() ? json() : json(heartbeats_.back());
  return {{"requests", ops_.size()},
          {"data_requests", data_.size()},
          {"motion_commands", motion_.size()},
          {"heartbeats", hb}};
}

}  // namespace quiral::sim
