// The controller's two data streams (basic: status and measured values;
// extra: desired values), kept as locked snapshots and turned into the
// single-robot API's values.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/controller_states.h"
#include "base/qor_state.h"
#include "base/vek_types.h"
#include "client/snapshot_subscriber.h"
#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"

namespace quiral {
namespace middleware2 {
class RealtimeUdpNode;
}  // namespace middleware2

namespace vek_impl {

// Each stream keeps its newest sample under a lock of its own. No
// operation holds both locks at once.
class LUMODataStream {
 public:
  LUMODataStream() = default;
  virtual ~LUMODataStream() = default;

  LUMODataStream(const LUMODataStream&) = delete;
  LUMODataStream& operator=(const LUMODataStream&) = delete;

  // Subscribes to "quiral_lumo/basic_stream_data/" + suffix and
  // "quiral_lumo/extra_stream_data/" + suffix with the real-time profile,
  // pausing 100 ms after each. Always OK; DDS creation failures throw.
  QorState Init(const middleware2::RealtimeUdpNode& node, const std::string& topic_suffix);

  qor::SystemState GetSystemState() const;
  qor::SafetyBoardState SafetyBoardState() const;
  // Element 7: e-stop engaged; element 5: enabling button pressed.
  std::array<bool, 8> SafetyInputs() const;
  std::array<bool, 18> GetDigitalInput() const;

  // Measured state from the newest basic sample, with the external wrenches
  // also rotated into the world frame.
  quiral::vek::RobotStates GetRobotStates() const;
  // Fills ext_wrench_in_world(_raw) from tcp_pose and ext_wrench_in_tcp(_raw).
  void SetExtWrenchInWorld(quiral::vek::RobotStates& states) const;
  // Desired values: torques from the basic snapshot, the rest from the
  // extra snapshot (the two may come from samples of different times).
  quiral::vek::RobotActions GetRobotActions() const;

  std::vector<float> GetMultiContactForces() const;
  std::vector<float> GetMultiContactPos() const;

  // Basic samples received since construction; never reset. A change tells
  // that the accessors above read a sample newer than when it was taken.
  uint64_t BasicSampleCount() const { return basic_.SampleCount(); }

 private:
  SnapshotSubscriber<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType> basic_;
  SnapshotSubscriber<quiral_lumo_msgs::msg::AllExtraStreamDataPubSubType> extra_;
};

}  // namespace vek_impl
}  // namespace quiral
