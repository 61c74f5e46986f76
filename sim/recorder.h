// Everything that reached one simulated controller: requests of both
// services, motion commands and heartbeats, each with its receipt time
// (monotonic clock, nanoseconds). Recording takes one short lock and no
// logging, so that 1 kHz command streams are kept in full.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vek_msgs::msg {
class RPCRequest;
class MotionCommands;
}  // namespace vek_msgs::msg

namespace quiral::sim {

class Recorder {
 public:
  // Full contents are kept for the newest `motion_detail_capacity` motion
  // commands; sequence numbers and times are kept for all of them.
  explicit Recorder(size_t motion_detail_capacity);
  ~Recorder();

  void RecordOps(uint64_t t_ns, const vek_msgs::msg::RPCRequest& request);
  void RecordData(uint64_t t_ns, uint16_t request_id);
  void RecordMotion(uint64_t t_ns, const vek_msgs::msg::MotionCommands& command, bool applied);
  void RecordHeartbeat(uint64_t t_ns);

  // Records from index `since` on, at most `limit` of them.
  nlohmann::json OpsJson(size_t since, size_t limit, std::optional<int> procedure_id,
                         bool with_bytes);
  nlohmann::json DataJson(size_t since, size_t limit, std::optional<int> request_id);
  nlohmann::json MotionJson(size_t since, size_t limit, bool compact);
  nlohmann::json HeartbeatJson(size_t since, size_t limit);
  nlohmann::json Counts();

 private:
  struct OpsRecord;
  struct MotionEntry {
    uint64_t seq;
    uint64_t t_ns;
    bool applied;
  };

  std::mutex mu_;
  std::vector<std::unique_ptr<OpsRecord>> ops_;
  std::vector<std::pair<uint64_t, uint16_t>> data_;
  std::vector<MotionEntry> motion_;
  std::deque<std::unique_ptr<vek_msgs::msg::MotionCommands>> motion_detail_;
  size_t motion_detail_first_ = 0;  // index of motion_detail_.front()
  size_t motion_detail_capacity_;
  std::vector<uint64_t> heartbeats_;
};

}  // namespace quiral::sim
