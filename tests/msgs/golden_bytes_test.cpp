// Wire bytes of real messages against payloads worked out by hand from the
// CDR rules. Offsets in the comments are body offsets: 0 is the first byte
// after the 4-byte payload header, and alignment counts from there.
#include "tests/msgs/msgs_test_util.h"

#include <gtest/gtest.h>

namespace {

using eprosima::fastcdr::Cdr;
using msgs_test::Bytes;

const Bytes kLittle = {0x00, 0x01, 0x00, 0x00};  // plain CDR, little-endian, no options
const Bytes kBig = {0x00, 0x00, 0x00, 0x00};     // plain CDR, big-endian

Bytes Cat(std::initializer_list<Bytes> pieces) {
  Bytes all;
  for (const Bytes& piece : pieces) all.insert(all.end(), piece.begin(), piece.end());
  return all;
}
Bytes Zeros(size_t count) { return Bytes(count, 0x00); }

// `expected` is what a stream in its header's byte order writes for
// `message` (the type support too, for the host's little-endian order),
// and it decodes back to `message` with the right encapsulation.
template <class Support>
void ExpectGolden(const typename Support::type& message, const Bytes& expected) {
  const bool little = expected.at(1) == 0x01;
  EXPECT_EQ(msgs_test::EncodeInOrder(message, little ? Cdr::LITTLE_ENDIANNESS : Cdr::BIG_ENDIANNESS),
            expected);
  if (little) {
    EXPECT_EQ(msgs_test::Encode<Support>(message), expected);
  }
  typename Support::type decoded;
  uint16_t encapsulation = 0xffff;
  ASSERT_TRUE(msgs_test::Decode<Support>(expected, decoded, &encapsulation));
  EXPECT_EQ(encapsulation, little ? CDR_LE : CDR_BE);
  EXPECT_EQ(decoded, message);
}

TEST(GoldenBytes, HeartbeatAndRealtimeStatesInBothByteOrders) {
  std_msgs::msg::Bool heartbeat;
  heartbeat.data(true);
  ExpectGolden<std_msgs::msg::BoolPubSubType>(heartbeat, Cat({kLittle, {0x01}}));
  ExpectGolden<std_msgs::msg::BoolPubSubType>(heartbeat, Cat({kBig, {0x01}}));

  vek_msgs::msg::RealtimeStates states;
  states.system_status().program_running(true);
  states.system_status().timeliness_failures(0x0102030405060708ull);
  states.system_status().ctrl_mode(0x0A0B);
  states.gripper_states().width(1.5f);
  states.gripper_states().force(-2.0f);
  states.gripper_states().is_moving(true);
  ExpectGolden<vek_msgs::msg::RealtimeStatesPubSubType>(
      states, Cat({kLittle, {0x01}, Zeros(7),                 // 0: program_running, padding to 8
                   {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01},  // 8: timeliness_failures
                   {0x0B, 0x0A},  // 16: ctrl_mode
                   {0x00, 0x00},  // 18: gripper_states, not aligned as a whole; padding
                   {0x00, 0x00, 0xC0, 0x3F, 0x00, 0x00, 0x00, 0xC0},  // 20: width 1.5, force -2
                   {0x01}}));  // 28: is_moving; 29: end
}

TEST(GoldenBytes, RequestWithEveryListFilled) {
  vek_msgs::msg::RPCRequest request;
  request.procedure_id(0x0102);
  request.int_args({1, -2});
  request.float_args({1.5f});
  request.string_args({"ab", ""});
  request.long_string_arg("xyz");
  request.raw_bytes_arg({0xAA, 0xBB, 0xCC});
  request.tool_params().name("t");
  request.tool_params().mass(2.0f);
  request.tool_params().CoM({0.5f, 0.0f, -1.0f});
  request.tool_params().inertia({1.0f, 0, 0, 0, 0, 0});
  request.tool_params().tcp_location({0, 0, 0, 1.0f, 0, 0, 0});
  const Bytes expected = Cat({
      kLittle, {0x02, 0x01, 0x00, 0x00},                   // 0: procedure_id 0x0102, padding
      {0x02, 0, 0, 0, 0x01, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF},  // 4: int_args count 2: 1, -2
      {0x01, 0, 0, 0, 0x00, 0x00, 0xC0, 0x3F},               // 16: float_args count 1: 1.5
      {0x02, 0, 0, 0},                                      // 24: string_args count 2
      {0x03, 0, 0, 0, 'a', 'b', 0x00, 0x00},                // 28: "ab": count 3, NUL, padding
      {0x01, 0, 0, 0, 0x00, 0x00, 0x00, 0x00},              // 36: "": count 1, NUL, padding
      {0x04, 0, 0, 0, 'x', 'y', 'z', 0x00},                 // 44: long_string_arg "xyz"
      {0x03, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0x00},              // 52: raw_bytes_arg, padding
      {0x02, 0, 0, 0, 't', 0x00, 0x00, 0x00},               // 60: tool_params.name "t"
      {0x00, 0x00, 0x00, 0x40},                             // 68: mass 2.0
      {0x00, 0x00, 0x00, 0x3F}, Zeros(4), {0x00, 0x00, 0x80, 0xBF},  // 72: CoM 0.5, 0, -1
      {0x00, 0x00, 0x80, 0x3F}, Zeros(20),                  // 84: inertia 1, then five zeros
      Zeros(12), {0x00, 0x00, 0x80, 0x3F}, Zeros(12),       // 108: tcp_location; 136: end
  });
  ExpectGolden<vek_msgs::msg::RPCRequestPubSubType>(request, expected);
}

TEST(GoldenBytes, BasicStreamSample) {
  quiral_lumo_msgs::msg::AllBasicStreamData sample;
  sample.system_status().system_state(0x0102);
  sample.system_status().safety_state(-1);
  sample.system_status().safety_inputs({true, false, true, false, false, false, false, true});
  sample.system_status().digital_inputs()[0] = true;
  sample.system_status().digital_inputs()[17] = true;
  sample.joint().link_position({1.0f, 2.0f});
  sample.joint().torque({0.5f});
  sample.joint().link_contact_pos({-1.0f});
  sample.cartesian().tcp_pose()[0] = 1.0f;
  sample.cartesian().ext_wrench_in_tcp_raw()[5] = 2.0f;
  sample.server_time().sec(1700000000);
  sample.server_time().nanosec(500000000);
  ExpectGolden<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(
      sample, Cat({kLittle, {0x02, 0x01, 0xFF, 0xFF},  // 0: system_state, 2: safety_state -1
                   {0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01},  // 4: safety_inputs
                   {0x01}, Zeros(16), {0x01}, {0x00, 0x00},  // 12: digital_inputs; 30: padding
                   {0x02, 0, 0, 0, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40},  // 32: 1, 2
                   Zeros(3 * 4),                     // 44: motor_position .. motor_velocity
                   {0x01, 0, 0, 0, 0x00, 0x00, 0x00, 0x3F},  // 56: torque count 1: 0.5
                   Zeros(6 * 4),                     // 64: torque_dot .. link_contact_force
                   {0x01, 0, 0, 0, 0x00, 0x00, 0x80, 0xBF},  // 88: link_contact_pos: -1
                   {0x00, 0x00, 0x80, 0x3F},         // 96: tcp_pose[0] 1.0
                   Zeros(36 * 4),                    // 100: the next 36 floats
                   {0x00, 0x00, 0x00, 0x40},         // 244: ext_wrench_in_tcp_raw[5] 2.0
                   {0x00, 0xF1, 0x53, 0x65},         // 248: server_time.sec 1700000000
                   {0x00, 0x65, 0xCD, 0x1D}}));      // 252: server_time.nanosec; 256: end
}

TEST(GoldenBytes, MotionCommandsWithWaypoints) {
  vek_msgs::msg::MotionCommands commands;
  commands.sequence_num(0x11);
  vek_msgs::msg::CartesianCommands waypoint;
  waypoint.pose()[3] = 1.0f;
  waypoint.max_angular_acc(4.0f);
  commands.cartesian_multi_commands({waypoint, waypoint, waypoint});
  commands.joint_multi_positions(std::vector<std::vector<float>>(3, std::vector<float>(7, 0.5f)));
  const Bytes bytes = msgs_test::Encode<vek_msgs::msg::MotionCommandsPubSubType>(commands);
  // 8, 30 (empty joint command), 2 padding, 116, 4 + 3 x 116, 4 + 3 x (4 + 28).
  ASSERT_EQ(bytes.size(), 4u + 608u);
  const Bytes first_part = Cat({
      kLittle, {0x11, 0, 0, 0, 0, 0, 0, 0},  // 0: sequence_num
      Zeros(24 + 4 + 2 + 2),  // 8: six empty joint sequences, a float, two booleans, padding
      Zeros(116),                                      // 40: cartesian_commands
      {0x03, 0x00, 0x00, 0x00},                        // 156: cartesian_multi_commands count
      Zeros(12), {0x00, 0x00, 0x80, 0x3F}, Zeros(96),  // 160: pose[3] 1.0 at 172
      {0x00, 0x00, 0x80, 0x40},                        // 272: max_angular_acc 4.0
  });
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(first_part.size())), first_part);
  // 508: joint_multi_positions count 3, then the first inner count 7 at 512.
  EXPECT_EQ(Bytes(bytes.begin() + 4 + 508, bytes.begin() + 4 + 520),
            Bytes({0x03, 0, 0, 0, 0x07, 0, 0, 0, 0x00, 0x00, 0x00, 0x3F}));
  ExpectGolden<vek_msgs::msg::MotionCommandsPubSubType>(commands, bytes);
}

}  // namespace
