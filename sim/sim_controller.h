// One simulated robot controller on DDS.
//
// A controller owns two DDS participants of its own (a default one for the
// two remote-call services and the event log, a real-time one for states,
// streams, heartbeats and motion commands; UDPv4 only), every endpoint of
// one serial number, a publication thread that steps the robot and writes
// the periodic samples, and a reply thread that sends the services' replies
// when they are due (immediately, or later under a fault rule).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/faults.h"
#include "sim/recorder.h"
#include "sim/robot_sim.h"

namespace quiral::sim {

struct ControllerOptions {
  RobotConfig robot;
  std::vector<std::string> whitelist;  // UDPv4 interface whitelist (IPv4 addresses)
  uint32_t domain = 10;
  double rate_hz = 250.0;              // periodic publications per second
  size_t motion_detail_capacity = 20000;
};

class SimController {
 public:
  // Creates both participants and every endpoint; throws std::runtime_error
  // when a DDS entity cannot be created.
  explicit SimController(const ControllerOptions& options);
  ~SimController();

  SimController(const SimController&) = delete;
  SimController& operator=(const SimController&) = delete;

  // Starts the publication and reply threads.
  void Start();
  // Stops both threads; the endpoints stay until destruction.
  void Stop();

  const std::string& serial() const;
  RobotSim& robot();
  Recorder& recorder();
  FaultTable& faults();

  // Switches periodic publications on or off: "rt_states", "basic_stream",
  // "extra_stream"; an empty list means all three.
  void SetPublishing(const std::vector<std::string>& topics, bool on);
  nlohmann::json PublishingJson();
  // Whether the replies to requests received from now on name their
  // request (as their related sample identity); on at start.
  void SetRelatedIdentity(bool on);
  bool related_identity() const;

  // Holds an object with a partner controller (see sim/held_object.h), or
  // lets go of it (null): subscribes to the partner's basic stream, so that
  // the partner may run in this process or in another one, and takes its TCP
  // from every sample. Throws std::invalid_argument for a bad `fields`
  // (nothing changes then) and std::runtime_error when the subscription
  // cannot be created.
  void HoldObject(const nlohmann::json& fields);

  // Number of remote endpoints each of this controller's endpoints has
  // matched, by topic: "ops_requests", "ops_replies", "data_requests",
  // "data_replies", "event_log", "heartbeat", "motion_commands",
  // "rt_states", "basic_stream", "extra_stream".
  nlohmann::json MatchedJson();

  // Writes one event-log entry; false when the writer refused it.
  bool PublishEvent(uint16_t level, int32_t id, const std::string& description,
                    const std::string& consequences, const std::string& probable_causes,
                    const std::string& recommended_actions);

  // Topic name suffix of a serial number: "-" replaced by "_".
  static std::string TopicSuffix(const std::string& serial);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quiral::sim
