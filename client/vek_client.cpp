#include "client/vek_client.h"

#include <stdexcept>

#include <spdlog/spdlog.h>

#include "middleware/dds_timing.h"
#include "middleware/fast_dds_publisher.h"
#include "msgs/std_msgs/bool.h"

namespace quiral {
namespace vek_impl {
namespace {

const std::string kDefaultNodeName = "quiral_vek_default_node";
const std::string kRtUdpNodeName = "quiral_vek_rt_udp_node";
const std::string kHeartbeatTopicPrefix = "quiral_vek/heartbeat/";

using SteadyClock = std::chrono::steady_clock;

}  // namespace

std::string TopicSuffix(const std::string& serial_number) {
  std::string suffix = serial_number;
  for (char& c : suffix) {
    if (c == '-') {
      c = '_';
    }
  }
  return suffix;
}

VEKClient::VEKClient(const std::vector<std::string>& network_interface_whitelist, bool verbose)
    : default_node(kDefaultNodeName, kShmSegmentSize, kDdsDomainId, network_interface_whitelist),
      rt_udp_node(kRtUdpNodeName, kDdsDomainId, network_interface_whitelist),
      verbose(verbose) {}

VEKClient::~VEKClient() {
  {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    stop_monitors.store(true);
  }
  wake_.notify_all();
  if (connection_monitor.joinable()) {
    connection_monitor.join();
    spdlog::debug("Connection monitor thread exited");
  }
  if (timeliness_monitor.joinable()) {
    timeliness_monitor.join();
    spdlog::debug("Timeliness monitor thread exited");
  }
  if (verbose) {
    spdlog::info(">>>>> Quiral VEK exited <<<<<");
  }
  // Every endpoint goes before the participants (member order); the
  // heartbeat publisher first of all.
  heartbeat_pub.reset();
}

QorState VEKClient::InitMiddleware(const std::string& serial_number, bool lite) {
  const std::string suffix = TopicSuffix(serial_number);
  spdlog::debug("[quiral::vek::Robot] Middleware topic suffix: [{}]", suffix);
  spdlog::debug("[quiral::vek::Robot] Starting communication services ...");

  if (!lite) {
    auto heartbeat = std::make_shared<middleware2::FastDDSPublisher<std_msgs::msg::BoolPubSubType>>(
        rt_udp_node.participant, kHeartbeatTopicPrefix + suffix);
    heartbeat->InitializeRealtimeSocketProfile(false);
    std::this_thread::sleep_for(middleware2::kEndpointSettleDelay);
    heartbeat_pub = std::move(heartbeat);
    const QorState state = motion_commands_pub.Init(rt_udp_node, suffix);
    if (QorFailed(state)) {
      return state;
    }
  }
  QorState state = rt_states_sub.Init(rt_udp_node, suffix);
  if (QorFailed(state)) {
    return state;
  }
  state = operations_rpc.Init(default_node, suffix);
  if (QorFailed(state)) {
    return state;
  }
  if (!lite) {
    state = lumo_data_stream.Init(rt_udp_node, suffix);
    if (QorFailed(state)) {
      return state;
    }
    state = lumo_log_event.Init(default_node, suffix);
    if (QorFailed(state)) {
      return state;
    }
  }
  state = lumo_data_rpc.Init(default_node, suffix);
  if (QorFailed(state)) {
    return state;
  }
  spdlog::debug("[quiral::vek::Robot] Communication services started");
  return _MakeQorState(QorGeneralState::OK);
}

void VEKClient::Init(const std::string& serial_number, bool lite) {
  if (started_) {
    throw std::logic_error("[quiral::vek::Robot] Communication services are already started");
  }
  started_ = true;
  if (!QorSucceeded(InitMiddleware(serial_number, lite))) {
    throw std::runtime_error("[quiral::vek::Robot] Failed to start communication services");
  }
  if (lite) {
    return;
  }
  connection_monitor = std::thread([this] { MonitorConnection(rt_states_sub); });
  timeliness_monitor = std::thread([this] { MonitorTimeliness(rt_states_sub); });
  if (verbose) {
    spdlog::info("[quiral::vek::Robot] Searching for [{}] ...", serial_number);
  }
  // Returns as soon as the connection monitor has seen the first sample.
  const auto deadline = SteadyClock::now() + kConnectWaitRounds * kConnectWaitInterval;
  {
    std::unique_lock<std::mutex> lock(wake_mutex_);
    wake_.wait_until(lock, deadline, [this] { return connected.load(); });
  }
  if (connected.load()) {
    return;
  }
  throw std::runtime_error(
      "[quiral::vek::Robot] Failed to connect to [" + serial_number +
      "]. Please check that: a) Remote mode (Ethernet) is enabled on the target robot; b) "
      "Ethernet connection with the target robot is established; c) The specified serial number "
      "of the target robot is correct; d) No firewall is active or this VEK program is "
      "whitelisted; e) VEK version is compatible with the target robot's software version");
}

bool VEKClient::WaitForStop(std::chrono::nanoseconds period) {
  std::unique_lock<std::mutex> lock(wake_mutex_);
  return wake_.wait_for(lock, period, [this] { return stop_monitors.load(); });
}

void VEKClient::MonitorConnection(const RealtimeStatesSub& rt_states) {
  const std_msgs::msg::Bool heartbeat{};  // data false, sent unchanged
  uint64_t last_count = 0;
  bool was_connected = false;
  // Silence is measured on the clock, so a late cycle does not stretch the
  // time-out. It starts out longer than the time-out: not connected until
  // the first sample.
  SteadyClock::time_point last_sample = SteadyClock::now() - 2 * kConnectionTimeout;
  while (!WaitForStop(kHeartbeatPeriod)) {
    if (heartbeat_pub != nullptr && !heartbeat_pub->Publish(heartbeat) && verbose) {
      spdlog::warn("[quiral::vek::Robot] Missed 1 heartbeat signal transmission");
    }
    const uint64_t count = rt_states.SampleCount();
    const auto now = SteadyClock::now();
    if (count != last_count) {
      last_count = count;
      last_sample = now;
      if (!connected.load()) {
        // Only the change wakes Init's wait: a notification on every sample
        // would also wake the timeliness monitor, 100 times a second.
        {
          std::lock_guard<std::mutex> lock(wake_mutex_);
          connected.store(true);
        }
        wake_.notify_all();
      }
      if (!was_connected) {
        was_connected = true;
        if (verbose) {
          spdlog::info("[quiral::vek::Robot] Connected to the robot");
        }
      }
    } else if (now - last_sample > kConnectionTimeout) {
      if (was_connected) {
        was_connected = false;
        if (verbose) {
          spdlog::warn(
              "[quiral::vek::Robot] Disconnected from the robot, waiting for reconnection ...");
        }
      }
      connected.store(false);
    }
  }
}

void VEKClient::MonitorTimeliness(RealtimeStatesSub& rt_states) {
  uint64_t seen_samples = 0;
  SteadyClock::time_point last_new_sample = SteadyClock::now();
  while (!stop_monitors.load()) {
    const auto now = SteadyClock::now();
    const int64_t now_ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
    const uint64_t samples = rt_states.SampleCount();
    if (samples == 0) {
      // Nothing received yet: no count to judge.
      timeliness_window.clear();
      timeliness_limit_reached.store(false);
    } else {
      const uint64_t failures = rt_states.TimelinessFailures();
      bool rebase = false;
      if (samples != seen_samples) {
        // The first sample, or the first after a silence longer than the
        // window, sets a new baseline: what the count gained meanwhile
        // cannot be placed within the last second.
        rebase = seen_samples == 0 || now - last_new_sample > kTimelinessWindow;
        seen_samples = samples;
        last_new_sample = now;
      }
      if (!timeliness_window.empty() && failures < timeliness_window.back().second) {
        rebase = true;  // the controller's count restarted
      }
      if (rebase) {
        timeliness_window.clear();
      }
      timeliness_window.emplace_back(now_ns, failures);
      const int64_t oldest_kept = now_ns - kTimelinessWindow.count();
      while (timeliness_window.front().first < oldest_kept) {
        timeliness_window.pop_front();
      }
      // The window only ever holds a non-decreasing count, and at least the
      // entry just added.
      const double late = static_cast<double>(timeliness_window.back().second -
                                              timeliness_window.front().second);
      const double limit = timeliness_failure_limit.load(std::memory_order_relaxed);
      timeliness_limit_reached.store(limit * 1000.0 * 0.01 < late);
    }
    if (WaitForStop(kTimelinessCheckPeriod)) {
      break;
    }
  }
}

}  // namespace vek_impl
}  // namespace quiral
