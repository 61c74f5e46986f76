// Random messages of every type, for round trips, benchmarks and the seed
// corpus of the fuzz targets. Filled through the mutable accessors.
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

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace msgs_test {

class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}

  uint64_t Bits() { return engine_(); }
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(engine_() % n); }
  bool OneIn(size_t n) { return Below(n) == 0; }

  // Sequence lengths: mostly short, sometimes empty, now and then long.
  size_t Length(size_t usual, size_t rare) {
    if (OneIn(8)) {
      return 0;
    }
    return OneIn(20) ? Below(rare + 1) : Below(usual + 1);
  }

 private:
  std::mt19937_64 engine_;
};

inline void Fill(Random& r, bool& v) { v = (r.Bits() & 1) != 0; }
inline void Fill(Random& r, uint8_t& v) { v = static_cast<uint8_t>(r.Bits()); }
inline void Fill(Random& r, int16_t& v) { v = static_cast<int16_t>(r.Bits()); }
inline void Fill(Random& r, uint16_t& v) { v = static_cast<uint16_t>(r.Bits()); }
inline void Fill(Random& r, int32_t& v) { v = static_cast<int32_t>(r.Bits()); }
inline void Fill(Random& r, uint32_t& v) { v = static_cast<uint32_t>(r.Bits()); }
inline void Fill(Random& r, uint64_t& v) { v = r.Bits(); }

// Any float but NaN (a NaN never equals itself): ordinary values, both
// zeros, infinities, denormals and arbitrary bit patterns.
inline void Fill(Random& r, float& v) {
  switch (r.Below(6)) {
    case 0:
      v = r.OneIn(2) ? 0.0f : -0.0f;
      return;
    case 1:
      v = r.OneIn(2) ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
      return;
    case 2:
      v = std::numeric_limits<float>::denorm_min() * static_cast<float>(r.Below(1000) + 1);
      return;
    case 3: {
      const uint32_t bits = static_cast<uint32_t>(r.Bits());
      std::memcpy(&v, &bits, sizeof(v));
      if (std::isnan(v)) {
        v = 1.0f;
      }
      return;
    }
    default:
      v = static_cast<float>(static_cast<int64_t>(r.Below(2000001)) - 1000000) / 1000.0f;
      return;
  }
}

// Text without NUL (a NUL ends a string on the wire), up to beyond the
// 255-character size budget.
inline void Fill(Random& r, std::string& v) {
  v.resize(r.Length(24, 300));
  for (char& c : v) {
    c = static_cast<char>(1 + r.Below(255));
  }
}

inline void Fill(Random& r, eprosima::fastrtps::fixed_string<10000>& v) {
  std::string text(r.Length(40, 10000), ' ');
  for (char& c : text) {
    c = static_cast<char>(1 + r.Below(255));
  }
  v = text;
}

template <class T, size_t N>
void Fill(Random& r, std::array<T, N>& v) {
  for (T& e : v) {
    Fill(r, e);
  }
}

template <class T>
void Fill(Random& r, std::vector<T>& v);

inline void Fill(Random& r, std::vector<uint8_t>& v) {
  v.resize(r.Length(64, 5000));
  for (uint8_t& e : v) {
    Fill(r, e);
  }
}

template <class T>
void Fill(Random& r, std::vector<T>& v) {
  v.resize(r.Length(9, 120));
  for (T& e : v) {
    Fill(r, e);
  }
}

// Message types, field by field.
inline void Fill(Random& r, std_msgs::msg::Bool& m) { Fill(r, m.data()); }

inline void Fill(Random& r, builtin_interfaces::msg::Time& m) {
  Fill(r, m.sec());
  Fill(r, m.nanosec());
}

inline void Fill(Random& r, vek_msgs::msg::ToolParams& m) {
  Fill(r, m.name());
  Fill(r, m.mass());
  Fill(r, m.CoM());
  Fill(r, m.inertia());
  Fill(r, m.tcp_location());
}

inline void Fill(Random& r, vek_msgs::msg::SystemStatus& m) {
  Fill(r, m.program_running());
  Fill(r, m.timeliness_failures());
  Fill(r, m.ctrl_mode());
}

inline void Fill(Random& r, vek_msgs::msg::GripperStates& m) {
  Fill(r, m.width());
  Fill(r, m.force());
  Fill(r, m.is_moving());
}

inline void Fill(Random& r, vek_msgs::msg::RealtimeStates& m) {
  Fill(r, m.system_status());
  Fill(r, m.gripper_states());
}

inline void Fill(Random& r, vek_msgs::msg::RPCRequest& m) {
  Fill(r, m.procedure_id());
  Fill(r, m.int_args());
  Fill(r, m.float_args());
  Fill(r, m.string_args());
  Fill(r, m.long_string_arg());
  Fill(r, m.raw_bytes_arg());
  Fill(r, m.tool_params());
}

inline void Fill(Random& r, vek_msgs::msg::RPCReply& m) {
  Fill(r, m.procedure_id());
  Fill(r, m.success());
  Fill(r, m.int_container());
  Fill(r, m.float_container());
  Fill(r, m.string_container());
  Fill(r, m.raw_bytes_container());
  Fill(r, m.tool_params());
}

inline void Fill(Random& r, vek_msgs::msg::JointCommands& m) {
  Fill(r, m.torque());
  Fill(r, m.position());
  Fill(r, m.velocity());
  Fill(r, m.acceleration());
  Fill(r, m.max_vel());
  Fill(r, m.max_acc());
  Fill(r, m.friction_comp_scale());
  Fill(r, m.disable_gravity_comp());
  Fill(r, m.disable_soft_limit());
}

inline void Fill(Random& r, vek_msgs::msg::CartesianCommands& m) {
  Fill(r, m.pose());
  Fill(r, m.wrench());
  Fill(r, m.velocity());
  Fill(r, m.acceleration());
  Fill(r, m.max_linear_vel());
  Fill(r, m.max_angular_vel());
  Fill(r, m.max_linear_acc());
  Fill(r, m.max_angular_acc());
}

inline void Fill(Random& r, vek_msgs::msg::MotionCommands& m) {
  Fill(r, m.sequence_num());
  Fill(r, m.joint_commands());
  Fill(r, m.cartesian_commands());
  Fill(r, m.cartesian_multi_commands());
  Fill(r, m.joint_multi_positions());
}

inline void Fill(Random& r, quiral_lumo_msgs::msg::SystemStatus& m) {
  Fill(r, m.system_state());
  Fill(r, m.safety_state());
  Fill(r, m.safety_inputs());
  Fill(r, m.digital_inputs());
}

inline void Fill(Random& r, quiral_lumo_msgs::msg::RPCRequest& m) { Fill(r, m.request_id()); }

inline void Fill(Random& r, quiral_lumo_msgs::msg::RPCReply& m) {
  Fill(r, m.request_id());
  Fill(r, m.success());
  Fill(r, m.string_container());
  Fill(r, m.float_container());
}

inline void Fill(Random& r, quiral_lumo_msgs::msg::ExtraJointData& m) {
  Fill(r, m.position_des());
  Fill(r, m.velocity_des());
}

inline void Fill(Random& r, quiral_lumo_msgs::msg::ExtraCartesianData& m) {
  Fill(r, m.tcp_pose_des());
  Fill(r, m.tcp_velocity_des());
  Fill(r, m.wrench_des_in_ctrl_frame());
}

inline void Fill(Random& r, quiral_lumo_msgs::msg::EventLog& m) {
  Fill(r, m.level());
  Fill(r, m.id());
  Fill(r, m.description());
  Fill(r, m.consequences());
  Fill(r, m.probable_causes());
  Fill(r, m.recommended_actions());
}

inline void Fill(Random& r, quiral_lumo_msgs::msg::BasicJointData& m) {
  Fill(r, m.link_position());
  Fill(r, m.motor_position());
  Fill(r, m.link_velocity());
  Fill(r, m.motor_velocity());
  Fill(r, m.torque());
  Fill(r, m.torque_dot());
  Fill(r, m.torque_ext());
  Fill(r, m.torque_interact());
  Fill(r, m.torque_des());
  Fill(r, m.temperature());
  Fill(r, m.link_contact_force());
  Fill(r, m.link_contact_pos());
}

inline void Fill(Random& r, quiral_lumo_msgs::msg::BasicCartesianData& m) {
  Fill(r, m.tcp_pose());
  Fill(r, m.tcp_velocity());
  Fill(r, m.flange_pose());
  Fill(r, m.ft_sensor_raw());
  Fill(r, m.ext_wrench_in_tcp());
  Fill(r, m.ext_wrench_in_tcp_raw());
}

inline void Fill(Random& r, quiral_lumo_msgs::msg::AllExtraStreamData& m) {
  Fill(r, m.joint());
  Fill(r, m.cartesian());
}

inline void Fill(Random& r, quiral_lumo_msgs::msg::AllBasicStreamData& m) {
  Fill(r, m.system_status());
  Fill(r, m.joint());
  Fill(r, m.cartesian());
  Fill(r, m.server_time());
}

template <class Message>
Message RandomMessage(Random& r) {
  Message m;
  Fill(r, m);
  return m;
}

}  // namespace msgs_test
