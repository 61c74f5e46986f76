// The controller's two data streams (basic: status and measured values;
// extra: desired values), kept as locked snapshots and turned into the
// single-robot API's values.
#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/controller_states.h"
#include "base/qor_state.h"
#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"
#include "base/vek_types.h"

namespace quiral {
namespace middleware2 {
class RealtimeUdpNode;
template <class T>
class FastDDSSubscriber;
}  // namespace middleware2

namespace vek_impl {

// Each stream has its own buffer (the DDS listener thread's), snapshot and
// mutex. No operation holds both mutexes; code that ever needs both takes
// the basic one first.
class LUMODataStream {
 public:
  LUMODataStream() = default;
  // Releases both subscribers before the snapshots go away.
  virtual ~LUMODataStream();

  LUMODataStream(const LUMODataStream&) = delete;
  LUMODataStream& operator=(const LUMODataStream&) = delete;

  // Subscribes to "quiral_lumo/basic_stream_data/" + suffix and
  // "quiral_lumo/extra_stream_data/" + suffix with the real-time profile,
  // pausing 100 ms after each. Always OK; DDS creation failures throw.
  QorState Init(const middleware2::RealtimeUdpNode& node, const std::string& topic_suffix);

  // The subscribers' callbacks: run on the DDS listener threads.
  void BasicSubCallback();
  void ExtraSubCallback();

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

 private:
  quiral_lumo_msgs::msg::AllBasicStreamData basic_buffer_;
  quiral_lumo_msgs::msg::AllBasicStreamData basic_snapshot_;
  quiral_lumo_msgs::msg::AllExtraStreamData extra_buffer_;
  quiral_lumo_msgs::msg::AllExtraStreamData extra_snapshot_;
  std::shared_ptr<
      middleware2::FastDDSSubscriber<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>>
      basic_subscriber_;
  std::shared_ptr<
      middleware2::FastDDSSubscriber<quiral_lumo_msgs::msg::AllExtraStreamDataPubSubType>>
      extra_subscriber_;
  mutable std::mutex basic_mutex_;
  mutable std::mutex extra_mutex_;
};

}  // namespace vek_impl
}  // namespace quiral
