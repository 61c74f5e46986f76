// Helpers of the message tests: encoding and decoding as Fast-DDS does
// (through a type-support class) or through a bare CDR stream, the list of
// type supports, and random messages of every type (round trips and the
// fuzz targets' seeds).
#pragma once

#include "msgs/builtin_interfaces/time.h"
#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"
#include "msgs/quiral_lumo_msgs/event_log.h"
#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"
#include "msgs/std_msgs/bool.h"
#include "msgs/vek_msgs/motion_commands.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"

#include <fastcdr/Cdr.h>
#include <fastcdr/FastBuffer.h>
#include <fastdds/rtps/common/SerializedPayload.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace msgs_test {

using Bytes = std::vector<uint8_t>;
namespace vm = vek_msgs::msg;
namespace lm = quiral_lumo_msgs::msg;
using eprosima::fastrtps::rtps::SerializedPayload_t;

// The payload the type support writes, sized by its own size provider, in
// a zeroed buffer (padding shows as 0). Empty when serialize refuses.
template <class Support>
Bytes Encode(typename Support::type message) {
  Support support;
  const uint32_t size = support.getSerializedSizeProvider(&message)();
  SerializedPayload_t payload(size);
  std::memset(payload.data, 0, size);
  if (!support.serialize(&message, &payload)) return {};
  return Bytes(payload.data, payload.data + payload.length);
}
// Decodes from a payload of exactly these bytes (length and capacity), so a
// read past them is a read past the allocation.
template <class Support>
bool Decode(const Bytes& bytes, typename Support::type& message,
            uint16_t* encapsulation = nullptr) {
  Support support;
  SerializedPayload_t payload(static_cast<uint32_t>(bytes.size()));
  if (!bytes.empty()) std::memcpy(payload.data, bytes.data(), bytes.size());
  payload.length = static_cast<uint32_t>(bytes.size());
  const bool ok = support.deserialize(&payload, &message);
  if (encapsulation != nullptr) *encapsulation = payload.encapsulation;
  return ok;
}

// The payload a bare DDS-flavoured CDR stream writes in the given order.
template <class Message>
Bytes EncodeInOrder(const Message& message, eprosima::fastcdr::Cdr::Endianness order) {
  std::vector<char> buffer(4 + Message::getCdrSerializedSize(message), 0);
  eprosima::fastcdr::FastBuffer fast_buffer(buffer.data(), buffer.size());
  eprosima::fastcdr::Cdr cdr(fast_buffer, order, eprosima::fastcdr::Cdr::DDS_CDR);
  cdr.serialize_encapsulation();
  message.serialize(cdr);
  return Bytes(buffer.begin(), buffer.begin() + static_cast<long>(cdr.getSerializedDataLength()));
}

// ForEach(TypeSupports(), [](auto tag) { using T = typename decltype(tag)::type; ... }).
template <class T>
struct Tag {
  using type = T;
};
template <class... T>
struct TypeList {};
template <class... T, class F>
void ForEach(TypeList<T...>, F&& f) {
  (f(Tag<T>()), ...);
}
using TypeSupports =
    TypeList<std_msgs::msg::BoolPubSubType, vm::SystemStatusPubSubType, vm::GripperStatesPubSubType,
             vm::RealtimeStatesPubSubType, vm::RPCRequestPubSubType, vm::RPCReplyPubSubType,
             vm::JointCommandsPubSubType, vm::CartesianCommandsPubSubType,
             vm::MotionCommandsPubSubType, lm::RPCRequestPubSubType, lm::RPCReplyPubSubType,
             lm::EventLogPubSubType, lm::AllExtraStreamDataPubSubType,
             lm::AllBasicStreamDataPubSubType>;

class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  uint64_t Bits() { return engine_(); }
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(engine_() % n); }
  bool OneIn(size_t n) { return Below(n) == 0; }
  // Sequence lengths: mostly short, sometimes empty, now and then long.
  size_t Length(size_t usual, size_t rare) {
    return OneIn(8) ? 0 : OneIn(20) ? Below(rare + 1) : Below(usual + 1);
  }

 private:
  std::mt19937_64 engine_;
};

template <class Int, class = std::enable_if_t<std::is_integral<Int>::value>>
void Fill(Random& r, Int& v) {
  v = std::is_same<Int, bool>::value ? static_cast<Int>(r.Bits() & 1) : static_cast<Int>(r.Bits());
}

// Any bit pattern but NaN (never equal to itself).
inline void Fill(Random& r, float& v) {
  const uint32_t bits = static_cast<uint32_t>(r.Bits());
  std::memcpy(&v, &bits, sizeof(v));
  if (std::isnan(v)) v = 1.0f;
}

// Text without NUL (a NUL ends a string on the wire), beyond its budget.
inline std::string Text(Random& r, size_t usual, size_t rare) {
  std::string text(r.Length(usual, rare), ' ');
  for (char& c : text) c = static_cast<char>(1 + r.Below(255));
  return text;
}
inline void Fill(Random& r, std::string& v) { v = Text(r, 24, 300); }
inline void Fill(Random& r, eprosima::fastrtps::fixed_string<10000>& v) { v = Text(r, 40, 10000); }

template <class T, size_t N>
void Fill(Random& r, std::array<T, N>& v) {
  for (T& e : v) Fill(r, e);
}
template <class T>
void Fill(Random& r, std::vector<T>& v) {
  v.resize(std::is_same<T, uint8_t>::value ? r.Length(64, 5000) : r.Length(9, 120));
  for (T& e : v) Fill(r, e);
}

// Message types, field by field.
template <class... Field>
void Each(Random& r, Field&... fields) {
  (Fill(r, fields), ...);
}
inline void Fill(Random& r, std_msgs::msg::Bool& m) { Fill(r, m.data()); }
inline void Fill(Random& r, builtin_interfaces::msg::Time& m) { Each(r, m.sec(), m.nanosec()); }
inline void Fill(Random& r, vm::ToolParams& m) {
  Each(r, m.name(), m.mass(), m.CoM(), m.inertia(), m.tcp_location());
}
inline void Fill(Random& r, vm::SystemStatus& m) {
  Each(r, m.program_running(), m.timeliness_failures(), m.ctrl_mode());
}
inline void Fill(Random& r, vm::GripperStates& m) { Each(r, m.width(), m.force(), m.is_moving()); }
inline void Fill(Random& r, vm::RealtimeStates& m) {
  Each(r, m.system_status(), m.gripper_states());
}
inline void Fill(Random& r, vm::RPCRequest& m) {
  Each(r, m.procedure_id(), m.int_args(), m.float_args(), m.string_args(), m.long_string_arg(),
           m.raw_bytes_arg(), m.tool_params());
}
inline void Fill(Random& r, vm::RPCReply& m) {
  Each(r, m.procedure_id(), m.success(), m.int_container(), m.float_container(),
           m.string_container(), m.raw_bytes_container(), m.tool_params());
}
inline void Fill(Random& r, vm::JointCommands& m) {
  Each(r, m.torque(), m.position(), m.velocity(), m.acceleration(), m.max_vel(), m.max_acc(),
           m.friction_comp_scale(), m.disable_gravity_comp(), m.disable_soft_limit());
}
inline void Fill(Random& r, vm::CartesianCommands& m) {
  Each(r, m.pose(), m.wrench(), m.velocity(), m.acceleration(), m.max_linear_vel(),
           m.max_angular_vel(), m.max_linear_acc(), m.max_angular_acc());
}
inline void Fill(Random& r, vm::MotionCommands& m) {
  Each(r, m.sequence_num(), m.joint_commands(), m.cartesian_commands(),
           m.cartesian_multi_commands(), m.joint_multi_positions());
}
inline void Fill(Random& r, lm::SystemStatus& m) {
  Each(r, m.system_state(), m.safety_state(), m.safety_inputs(), m.digital_inputs());
}
inline void Fill(Random& r, lm::RPCRequest& m) { Fill(r, m.request_id()); }
inline void Fill(Random& r, lm::RPCReply& m) {
  Each(r, m.request_id(), m.success(), m.string_container(), m.float_container());
}
inline void Fill(Random& r, lm::ExtraJointData& m) { Each(r, m.position_des(), m.velocity_des()); }
inline void Fill(Random& r, lm::ExtraCartesianData& m) {
  Each(r, m.tcp_pose_des(), m.tcp_velocity_des(), m.wrench_des_in_ctrl_frame());
}
inline void Fill(Random& r, lm::EventLog& m) {
  Each(r, m.level(), m.id(), m.description(), m.consequences(), m.probable_causes(),
           m.recommended_actions());
}
inline void Fill(Random& r, lm::BasicJointData& m) {
  Each(r, m.link_position(), m.motor_position(), m.link_velocity(), m.motor_velocity(),
           m.torque(), m.torque_dot(), m.torque_ext(), m.torque_interact(), m.torque_des(),
           m.temperature(), m.link_contact_force(), m.link_contact_pos());
}
inline void Fill(Random& r, lm::BasicCartesianData& m) {
  Each(r, m.tcp_pose(), m.tcp_velocity(), m.flange_pose(), m.ft_sensor_raw(),
           m.ext_wrench_in_tcp(), m.ext_wrench_in_tcp_raw());
}
inline void Fill(Random& r, lm::AllExtraStreamData& m) { Each(r, m.joint(), m.cartesian()); }
inline void Fill(Random& r, lm::AllBasicStreamData& m) {
  Each(r, m.system_status(), m.joint(), m.cartesian(), m.server_time());
}

template <class Message>
Message RandomMessage(Random& r) {
  Message m;
  Fill(r, m);
  return m;
}

}  // namespace msgs_test
