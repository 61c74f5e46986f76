// The streamed motion commands of one robot: one held message, filled by
// the setters and written best effort on the real-time participant.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/qor_state.h"
#include "msgs/vek_msgs/motion_commands.h"

namespace quiral {
namespace middleware2 {
class RealtimeUdpNode;
template <class T>
class FastDDSPublisher;
}  // namespace middleware2

namespace vek_impl {

// Each setter changes only its own fields of the held message; the rest
// keeps what earlier setters put there until Clear. A mutex guards the held
// message, so that a Clear from another thread (stopping the arm) never
// tears a message that is being filled or written.
class MotionCommandsPub {
 public:
  MotionCommandsPub() = default;
  virtual ~MotionCommandsPub();

  MotionCommandsPub(const MotionCommandsPub&) = delete;
  MotionCommandsPub& operator=(const MotionCommandsPub&) = delete;

  // Publisher on "quiral_vek/motion_commands/" + suffix with the real-time
  // profile, written synchronously; pauses 100 ms. Always OK; DDS creation
  // failures throw.
  QorState Init(const middleware2::RealtimeUdpNode& node, const std::string& topic_suffix);

  // Sets the sequence number and the joint command.
  void SetJointCommands(const vek_msgs::msg::JointCommands& commands, uint64_t sequence_num);
  // Sets the sequence number and the Cartesian command; empties the
  // waypoint lists.
  void SetCartesianCommands(const vek_msgs::msg::CartesianCommands& commands,
                            uint64_t sequence_num);
  // Sets the sequence number, the waypoints and their joint positions;
  // resets the single Cartesian command.
  void SetCartesianMultiCommands(const std::vector<vek_msgs::msg::CartesianCommands>& commands,
                                 const std::vector<std::vector<float>>& joint_positions,
                                 uint64_t sequence_num);
  // Replaces the held message by a default one (sequence number 0).
  void Clear();

  // Writes the held message. FAULT (with an error line) when the writer
  // refuses it or the publisher was never started.
  QorState Publish();

 private:
  std::shared_ptr<middleware2::FastDDSPublisher<vek_msgs::msg::MotionCommandsPubSubType>>
      publisher_;
  std::mutex mutex_;  // guards message_
  vek_msgs::msg::MotionCommands message_;
};

}  // namespace vek_impl
}  // namespace quiral
