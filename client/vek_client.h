// The per-robot communication client: both DDS participants, every endpoint
// service of one robot, the heartbeat and the two monitor threads.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/qor_state.h"
#include "client/lumo_data_rpc.h"
#include "client/lumo_data_stream.h"
#include "client/lumo_log_event.h"
#include "client/motion_commands_pub.h"
#include "client/operations_rpc.h"
#include "client/realtime_states_sub.h"
#include "middleware/default_node.h"
#include "middleware/realtime_udp_node.h"

namespace std_msgs {
namespace msg {
class BoolPubSubType;
}  // namespace msg
}  // namespace std_msgs

namespace quiral {
namespace middleware2 {
template <class T>
class FastDDSPublisher;
}  // namespace middleware2

namespace vek_impl {

// Participant settings of every client.
inline constexpr uint32_t kShmSegmentSize = 0;  // no shared-memory transport
inline constexpr uint32_t kDdsDomainId = 10;

// Late-command limit, percent of the commands of one second (1000 at 1 kHz).
inline constexpr double kDefaultTimelinessFailureLimit = 2.0;

inline constexpr std::chrono::milliseconds kHeartbeatPeriod{10};
// Longest silence of the real-time states that still counts as connected.
inline constexpr std::chrono::milliseconds kConnectionTimeout{1000};
inline constexpr std::chrono::nanoseconds kTimelinessWindow{1000000000};
inline constexpr std::chrono::milliseconds kTimelinessCheckPeriod{1};
// Init waits at most kConnectWaitRounds × kConnectWaitInterval for the
// first real-time sample.
inline constexpr int kConnectWaitRounds = 10;
inline constexpr std::chrono::milliseconds kConnectWaitInterval{200};

// Suffix of every topic of a robot: the serial number with each "-"
// replaced by "_".
std::string TopicSuffix(const std::string& serial_number);

// One client per robot. The members the single-robot API reads are public.
// Declaration order matters: the services are destroyed before the two
// participants they use.
class VEKClient {
 public:
  // Creates both participants on the whitelisted interfaces (IPv4
  // addresses; empty: every interface). Throws what the nodes throw.
  VEKClient(const std::vector<std::string>& network_interface_whitelist, bool verbose);
  // Stops and joins the monitors, then releases every endpoint before the
  // participants. Also clean after a failed Init.
  virtual ~VEKClient();

  VEKClient(const VEKClient&) = delete;
  VEKClient& operator=(const VEKClient&) = delete;

  // Creates every endpoint for the serial number (lite: only the real-time
  // states and the two remote-call services), starts the monitors unless
  // lite and waits up to 2 s for the first real-time sample. Throws
  // std::runtime_error when a service fails or the robot is not found, and
  // std::logic_error when called a second time.
  void Init(const std::string& serial_number, bool lite);

  // Creates the endpoints; called only by Init.
  QorState InitMiddleware(const std::string& serial_number, bool lite);

  // Thread bodies, started by Init on rt_states_sub.
  void MonitorConnection(const RealtimeStatesSub& rt_states);
  void MonitorTimeliness(RealtimeStatesSub& rt_states);

  middleware2::DefaultNode default_node;
  middleware2::RealtimeUdpNode rt_udp_node;
  LUMODataRpc lumo_data_rpc;
  LUMODataStream lumo_data_stream;
  LUMOLogEvent lumo_log_event;
  RealtimeStatesSub rt_states_sub;
  MotionCommandsPub motion_commands_pub;
  OperationsRPC operations_rpc;
  std::thread connection_monitor;
  std::thread timeliness_monitor;
  // True while real-time states keep arriving; written by the connection
  // monitor only.
  std::atomic<bool> connected{false};
  // True while the late commands of the last second exceed the limit;
  // written by the timeliness monitor only.
  std::atomic<bool> timeliness_limit_reached{false};
  std::atomic<bool> stop_monitors{false};
  std::shared_ptr<middleware2::FastDDSPublisher<std_msgs::msg::BoolPubSubType>> heartbeat_pub;
  const bool verbose;
  // Percent, 0 to 100 (checked by the API that sets it).
  std::atomic<double> timeliness_failure_limit{kDefaultTimelinessFailureLimit};
  // (steady-clock time in ns, controller's failure count); the timeliness
  // monitor's alone.
  std::deque<std::pair<int64_t, uint64_t>> timeliness_window;

 private:
  // Waits up to `period`; true when the monitors are to stop.
  bool WaitForStop(std::chrono::nanoseconds period);

  // Wakes the monitors' waits and Init's wait for the connection.
  std::mutex wake_mutex_;
  std::condition_variable wake_;
  bool started_ = false;
};

}  // namespace vek_impl
}  // namespace quiral
