// A small raw Fast-DDS peer for the simulator's tests: it plays the client
// side of one serial number (domain 10, UDPv4 on 127.0.0.1 only, the
// client's QoS) and records what the simulator sends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/quiral_lumo_msgs/event_log.h"
#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"
#include "msgs/std_msgs/bool.h"
#include "msgs/vek_msgs/motion_commands.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"

namespace quiral::test {

using PeerClock = std::chrono::steady_clock;

template <class Msg>
struct Received {
  PeerClock::time_point t;
  Msg msg;
};

class DdsPeer {
 public:
  explicit DdsPeer(const std::string& serial);
  ~DdsPeer();

  // Waits until every endpoint has matched the simulator's.
  bool WaitMatched(std::chrono::milliseconds timeout);

  bool SendOps(const vek_msgs::msg::RPCRequest& request);
  bool SendData(const quiral_lumo_msgs::msg::RPCRequest& request);
  bool SendHeartbeat();
  bool SendMotion(const vek_msgs::msg::MotionCommands& command);

  // Copies of what arrived so far.
  std::vector<Received<vek_msgs::msg::RPCReply>> OpsReplies();
  std::vector<Received<quiral_lumo_msgs::msg::RPCReply>> DataReplies();
  std::vector<Received<vek_msgs::msg::RealtimeStates>> RtStates();
  std::vector<Received<quiral_lumo_msgs::msg::AllBasicStreamData>> BasicStream();
  std::vector<Received<quiral_lumo_msgs::msg::EventLog>> Events();
  size_t OpsReplyCount();
  size_t RtCount();

  // Sends a request and waits for the first reply that arrives after it
  // (whatever id it carries); false at the deadline.
  bool CallOps(const vek_msgs::msg::RPCRequest& request, vek_msgs::msg::RPCReply& reply,
               std::chrono::milliseconds timeout);
  bool CallData(const quiral_lumo_msgs::msg::RPCRequest& request,
                quiral_lumo_msgs::msg::RPCReply& reply, std::chrono::milliseconds timeout);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quiral::test
