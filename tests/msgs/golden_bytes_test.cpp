// Wire bytes of real messages against payloads worked out by hand from the
// CDR rules. Offsets in the comments are body offsets: 0 is the first byte
// after the 4-byte payload header, and alignment counts from there.
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
#include "tests/msgs/payload_util.h"

#include <gtest/gtest.h>

namespace {

using msgs_test::Bytes;
using msgs_test::Decode;
using msgs_test::Encode;
using msgs_test::EncodeInOrder;
using eprosima::fastcdr::Cdr;

// Concatenates literal pieces of a payload.
Bytes Cat(std::initializer_list<Bytes> pieces) {
  Bytes all;
  for (const Bytes& piece : pieces) {
    all.insert(all.end(), piece.begin(), piece.end());
  }
  return all;
}

Bytes Zeros(size_t count) { return Bytes(count, 0x00); }

TEST(GoldenBytes, HostIsLittleEndian) {
  // The type support writes in the host's byte order; the payloads below
  // are the little-endian ones.
  ASSERT_TRUE(msgs_test::HostIsLittleEndian());
}

TEST(GoldenBytes, BoolHeartbeat) {
  std_msgs::msg::Bool heartbeat;
  heartbeat.data(true);
  const Bytes expected = {0x00, 0x01, 0x00, 0x00,  // plain CDR, little-endian, no options
                          0x01};                   // 0: data
  EXPECT_EQ(Encode<std_msgs::msg::BoolPubSubType>(heartbeat), expected);

  const Bytes big_endian = {0x00, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(EncodeInOrder(heartbeat, Cdr::BIG_ENDIANNESS), big_endian);

  std_msgs::msg::Bool decoded;
  uint16_t encapsulation = 0xffff;
  ASSERT_TRUE(Decode<std_msgs::msg::BoolPubSubType>(big_endian, decoded, &encapsulation));
  EXPECT_TRUE(decoded.data());
  EXPECT_EQ(encapsulation, CDR_BE);
}

vek_msgs::msg::RPCRequest FilledRequest() {
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
  return request;
}

TEST(GoldenBytes, RequestWithEveryListFilled) {
  const Bytes expected = {
      0x00, 0x01, 0x00, 0x00,  // header
      0x02, 0x01,              // 0: procedure_id 0x0102
      0x00, 0x00,              // 2: padding to 4
      0x02, 0x00, 0x00, 0x00,  // 4: int_args count 2
      0x01, 0x00, 0x00, 0x00,  // 8: 1
      0xFE, 0xFF, 0xFF, 0xFF,  // 12: -2
      0x01, 0x00, 0x00, 0x00,  // 16: float_args count 1
      0x00, 0x00, 0xC0, 0x3F,  // 20: 1.5f
      0x02, 0x00, 0x00, 0x00,  // 24: string_args count 2
      0x03, 0x00, 0x00, 0x00,  // 28: "ab": count 3
      'a',  'b',  0x00,        // 32: characters and NUL
      0x00,                    // 35: padding
      0x01, 0x00, 0x00, 0x00,  // 36: "": count 1
      0x00,                    // 40: NUL
      0x00, 0x00, 0x00,        // 41: padding
      0x04, 0x00, 0x00, 0x00,  // 44: long_string_arg "xyz": count 4
      'x',  'y',  'z',  0x00,  // 48
      0x03, 0x00, 0x00, 0x00,  // 52: raw_bytes_arg count 3
      0xAA, 0xBB, 0xCC,        // 56
      0x00,                    // 59: padding
      0x02, 0x00, 0x00, 0x00,  // 60: tool_params.name "t": count 2
      't',  0x00,              // 64
      0x00, 0x00,              // 66: padding
      0x00, 0x00, 0x00, 0x40,  // 68: mass 2.0f
      0x00, 0x00, 0x00, 0x3F,  // 72: CoM 0.5f
      0x00, 0x00, 0x00, 0x00,  // 76: 0
      0x00, 0x00, 0x80, 0xBF,  // 80: -1
      0x00, 0x00, 0x80, 0x3F,  // 84: inertia 1, then five zeros
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00,  // 108: tcp_location 0, 0, 0, 1, 0, 0, 0
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x80, 0x3F,  // 120
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
  };                           // 136: end of body
  ASSERT_EQ(expected.size(), 4u + 136u);
  const vek_msgs::msg::RPCRequest request = FilledRequest();
  EXPECT_EQ(vek_msgs::msg::RPCRequest::getCdrSerializedSize(request), 136u);
  EXPECT_EQ(Encode<vek_msgs::msg::RPCRequestPubSubType>(request), expected);

  vek_msgs::msg::RPCRequest decoded;
  ASSERT_TRUE(Decode<vek_msgs::msg::RPCRequestPubSubType>(expected, decoded));
  EXPECT_EQ(decoded, request);
  EXPECT_STREQ(decoded.long_string_arg().c_str(), "xyz");
  EXPECT_EQ(decoded.long_string_arg().size(), 3u);
}

TEST(GoldenBytes, RequestBigEndianDecodesOnThisHost) {
  const Bytes big_endian = {
      0x00, 0x00, 0x00, 0x00,  // header: plain CDR, big-endian
      0x01, 0x02,              // 0: procedure_id 0x0102
      0x00, 0x00,              // 2: padding
      0x00, 0x00, 0x00, 0x01,  // 4: int_args count 1
      0xFF, 0xFF, 0xFF, 0xFE,  // 8: -2
      0x00, 0x00, 0x00, 0x01,  // 12: float_args count 1
      0x3F, 0xC0, 0x00, 0x00,  // 16: 1.5f
      0x00, 0x00, 0x00, 0x00,  // 20: string_args empty
      0x00, 0x00, 0x00, 0x01,  // 24: long_string_arg "": count 1
      0x00,                    // 28: NUL
      0x00, 0x00, 0x00,        // 29: padding
      0x00, 0x00, 0x00, 0x02,  // 32: raw_bytes_arg count 2
      0x10, 0x20,              // 36
      0x00, 0x00,              // 38: padding
      0x00, 0x00, 0x00, 0x01,  // 40: tool_params.name "": count 1
      0x00,                    // 44: NUL
      0x00, 0x00, 0x00,        // 45: padding
      0x40, 0x00, 0x00, 0x00,  // 48: mass 2.0f
      // 52: CoM, inertia and tcp_location[0..5]: 15 floats of 0
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0x3F, 0x80, 0x00, 0x00,  // 112: tcp_location[6] = 1.0f
  };                           // 116: end of body
  ASSERT_EQ(big_endian.size(), 4u + 116u);
  vek_msgs::msg::RPCRequest expected;
  expected.procedure_id(0x0102);
  expected.int_args({-2});
  expected.float_args({1.5f});
  expected.raw_bytes_arg({0x10, 0x20});
  expected.tool_params().mass(2.0f);
  expected.tool_params().tcp_location()[6] = 1.0f;

  vek_msgs::msg::RPCRequest decoded;
  uint16_t encapsulation = 0xffff;
  ASSERT_TRUE(Decode<vek_msgs::msg::RPCRequestPubSubType>(big_endian, decoded, &encapsulation));
  EXPECT_EQ(encapsulation, CDR_BE);
  EXPECT_EQ(decoded, expected);
  EXPECT_EQ(EncodeInOrder(expected, Cdr::BIG_ENDIANNESS), big_endian);
}

TEST(GoldenBytes, OperationsReply) {
  vek_msgs::msg::RPCReply reply;
  reply.procedure_id(0x01020304);
  reply.success(true);
  reply.int_container({7});
  reply.string_container({"hi"});
  reply.raw_bytes_container({0x01});
  const Bytes expected = {
      0x00, 0x01, 0x00, 0x00,  // header
      0x04, 0x03, 0x02, 0x01,  // 0: procedure_id 0x01020304 (32 bits)
      0x01,                    // 4: success
      0x00, 0x00, 0x00,        // 5: padding
      0x01, 0x00, 0x00, 0x00,  // 8: int_container count 1
      0x07, 0x00, 0x00, 0x00,  // 12: 7
      0x00, 0x00, 0x00, 0x00,  // 16: float_container empty
      0x01, 0x00, 0x00, 0x00,  // 20: string_container count 1
      0x03, 0x00, 0x00, 0x00,  // 24: "hi": count 3
      'h',  'i',  0x00,        // 28
      0x00,                    // 31: padding
      0x01, 0x00, 0x00, 0x00,  // 32: raw_bytes_container count 1
      0x01,                    // 36
      0x00, 0x00, 0x00,        // 37: padding
      0x01, 0x00, 0x00, 0x00,  // 40: tool_params.name "": count 1
      0x00,                    // 44: NUL
      0x00, 0x00, 0x00,        // 45: padding
      // 48: mass, CoM, inertia, tcp_location: 17 floats of 0
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  };                           // 116: end of body
  ASSERT_EQ(expected.size(), 4u + 116u);
  EXPECT_EQ(Encode<vek_msgs::msg::RPCReplyPubSubType>(reply), expected);

  vek_msgs::msg::RPCReply decoded;
  ASSERT_TRUE(Decode<vek_msgs::msg::RPCReplyPubSubType>(expected, decoded));
  EXPECT_EQ(decoded, reply);
}

TEST(GoldenBytes, DefaultOperationsMessages) {
  // Request: 2 + 2 padding + three empty sequences (12) + empty long string
  // (5) + 3 padding + empty octet sequence (4) + tool_params (76).
  const Bytes request = Encode<vek_msgs::msg::RPCRequestPubSubType>(vek_msgs::msg::RPCRequest());
  ASSERT_EQ(request.size(), 4u + 104u);
  EXPECT_EQ(request[4 + 16], 0x01);  // 16: long_string_arg count 1 ...
  EXPECT_EQ(request[4 + 20], 0x00);  // 20: ... and its NUL
  EXPECT_EQ(Encode<vek_msgs::msg::RPCReplyPubSubType>(vek_msgs::msg::RPCReply()).size(), 4u + 100u);
}


vek_msgs::msg::RealtimeStates SampleStates() {
  vek_msgs::msg::RealtimeStates states;
  states.system_status().program_running(true);
  states.system_status().timeliness_failures(0x0102030405060708ull);
  states.system_status().ctrl_mode(0x0A0B);
  states.gripper_states().width(1.5f);
  states.gripper_states().force(-2.0f);
  states.gripper_states().is_moving(true);
  return states;
}

TEST(GoldenBytes, RealtimeStatesLittleEndian) {
  const Bytes expected = {
      0x00, 0x01, 0x00, 0x00,                          // header
      0x01,                                            // 0: program_running
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // 1: padding to 8
      0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // 8: timeliness_failures
      0x0B, 0x0A,                                      // 16: ctrl_mode
      0x00, 0x00,                                      // 18: gripper_states starts; padding
      0x00, 0x00, 0xC0, 0x3F,                          // 20: width 1.5f
      0x00, 0x00, 0x00, 0xC0,                          // 24: force -2.0f
      0x01,                                            // 28: is_moving
  };                                                   // 29: end of body
  const vek_msgs::msg::RealtimeStates states = SampleStates();
  EXPECT_EQ(Encode<vek_msgs::msg::RealtimeStatesPubSubType>(states), expected);
  EXPECT_EQ(EncodeInOrder(states, Cdr::LITTLE_ENDIANNESS), expected);

  vek_msgs::msg::RealtimeStates decoded;
  uint16_t encapsulation = 0xffff;
  ASSERT_TRUE(Decode<vek_msgs::msg::RealtimeStatesPubSubType>(expected, decoded, &encapsulation));
  EXPECT_EQ(encapsulation, CDR_LE);
  EXPECT_EQ(decoded, states);
}

TEST(GoldenBytes, RealtimeStatesBigEndian) {
  const Bytes expected = {
      0x00, 0x00, 0x00, 0x00,                          // header: big-endian
      0x01,                                            // 0: program_running
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // 1: padding to 8
      0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,  // 8: timeliness_failures
      0x0A, 0x0B,                                      // 16: ctrl_mode
      0x00, 0x00,                                      // 18: padding
      0x3F, 0xC0, 0x00, 0x00,                          // 20: width 1.5f
      0xC0, 0x00, 0x00, 0x00,                          // 24: force -2.0f
      0x01,                                            // 28: is_moving
  };
  const vek_msgs::msg::RealtimeStates states = SampleStates();
  EXPECT_EQ(EncodeInOrder(states, Cdr::BIG_ENDIANNESS), expected);

  vek_msgs::msg::RealtimeStates decoded;
  uint16_t encapsulation = 0xffff;
  ASSERT_TRUE(Decode<vek_msgs::msg::RealtimeStatesPubSubType>(expected, decoded, &encapsulation));
  EXPECT_EQ(encapsulation, CDR_BE);
  EXPECT_EQ(decoded, states);
}

TEST(GoldenBytes, DefaultRealtimeStatesAreAllZero) {
  EXPECT_EQ(Encode<vek_msgs::msg::RealtimeStatesPubSubType>(vek_msgs::msg::RealtimeStates()),
            Cat({{0x00, 0x01, 0x00, 0x00}, Zeros(29)}));
}

TEST(GoldenBytes, DataServiceReply) {
  quiral_lumo_msgs::msg::RPCReply reply;
  reply.request_id(8);
  reply.success(true);
  reply.string_container({"abc", ""});
  reply.float_container({0.25f, 3.0f});
  const Bytes expected = {
      0x00, 0x01, 0x00, 0x00,  // header
      0x08, 0x00,              // 0: request_id
      0x01,                    // 2: success
      0x00,                    // 3: padding
      0x02, 0x00, 0x00, 0x00,  // 4: string_container count 2
      0x04, 0x00, 0x00, 0x00,  // 8: "abc": count 4
      'a',  'b',  'c',  0x00,  // 12
      0x01, 0x00, 0x00, 0x00,  // 16: "": count 1
      0x00,                    // 20: NUL
      0x00, 0x00, 0x00,        // 21: padding
      0x02, 0x00, 0x00, 0x00,  // 24: float_container count 2
      0x00, 0x00, 0x80, 0x3E,  // 28: 0.25f
      0x00, 0x00, 0x40, 0x40,  // 32: 3.0f
  };                           // 36: end of body
  EXPECT_EQ(Encode<quiral_lumo_msgs::msg::RPCReplyPubSubType>(reply), expected);
  quiral_lumo_msgs::msg::RPCReply decoded;
  ASSERT_TRUE(Decode<quiral_lumo_msgs::msg::RPCReplyPubSubType>(expected, decoded));
  EXPECT_EQ(decoded, reply);

  quiral_lumo_msgs::msg::RPCRequest request;
  request.request_id(0x0203);
  EXPECT_EQ(Encode<quiral_lumo_msgs::msg::RPCRequestPubSubType>(request),
            Bytes({0x00, 0x01, 0x00, 0x00, 0x03, 0x02}));
}

TEST(GoldenBytes, EventLogEntry) {
  quiral_lumo_msgs::msg::EventLog entry;
  entry.level(3);
  entry.id(-5);
  entry.description("Err");
  entry.probable_causes("ab");
  entry.recommended_actions("Fix it");
  const Bytes expected = {
      0x00, 0x01, 0x00, 0x00,                 // header
      0x03, 0x00,                             // 0: level
      0x00, 0x00,                             // 2: padding
      0xFB, 0xFF, 0xFF, 0xFF,                 // 4: id -5
      0x04, 0x00, 0x00, 0x00,                 // 8: description "Err": count 4
      'E',  'r',  'r',  0x00,                 // 12
      0x01, 0x00, 0x00, 0x00,                 // 16: consequences "": count 1
      0x00,                                   // 20: NUL
      0x00, 0x00, 0x00,                       // 21: padding
      0x03, 0x00, 0x00, 0x00,                 // 24: probable_causes "ab": count 3
      'a',  'b',  0x00,                       // 28
      0x00,                                   // 31: padding
      0x07, 0x00, 0x00, 0x00,                 // 32: recommended_actions "Fix it": count 7
      'F',  'i',  'x',  ' ',  'i', 't', 0x00  // 36
  };                                          // 43: end of body
  EXPECT_EQ(Encode<quiral_lumo_msgs::msg::EventLogPubSubType>(entry), expected);
  quiral_lumo_msgs::msg::EventLog decoded;
  ASSERT_TRUE(Decode<quiral_lumo_msgs::msg::EventLogPubSubType>(expected, decoded));
  EXPECT_EQ(decoded, entry);

  // Default entry: 2, 2 padding, 4, then four empty strings of 5 bytes with
  // 3 padding bytes before each of the last three.
  EXPECT_EQ(Encode<quiral_lumo_msgs::msg::EventLogPubSubType>(quiral_lumo_msgs::msg::EventLog()),
            Cat({{0x00, 0x01, 0x00, 0x00},
                 Zeros(8),                                  // 0: level, padding, id
                 {0x01, 0x00, 0x00, 0x00, 0x00, 0, 0, 0},   // 8: ""
                 {0x01, 0x00, 0x00, 0x00, 0x00, 0, 0, 0},   // 16: ""
                 {0x01, 0x00, 0x00, 0x00, 0x00, 0, 0, 0},   // 24: ""
                 {0x01, 0x00, 0x00, 0x00, 0x00}}));         // 32: "", end at 37
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
  const Bytes expected = Cat({
      {0x00, 0x01, 0x00, 0x00},                      // header
      {0x02, 0x01},                                  // 0: system_state
      {0xFF, 0xFF},                                  // 2: safety_state -1
      {0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01},  // 4: safety_inputs
      {0x01}, Zeros(16), {0x01},                     // 12: digital_inputs[0..17]
      {0x00, 0x00},                                  // 30: padding
      {0x02, 0x00, 0x00, 0x00},                      // 32: link_position count 2
      {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40},  // 36: 1.0f, 2.0f
      Zeros(4),                                      // 44: motor_position empty
      Zeros(4),                                      // 48: link_velocity empty
      Zeros(4),                                      // 52: motor_velocity empty
      {0x01, 0x00, 0x00, 0x00},                      // 56: torque count 1
      {0x00, 0x00, 0x00, 0x3F},                      // 60: 0.5f
      Zeros(4 * 6),                                  // 64: torque_dot .. link_contact_force empty
      {0x01, 0x00, 0x00, 0x00},                      // 88: link_contact_pos count 1
      {0x00, 0x00, 0x80, 0xBF},                      // 92: -1.0f
      {0x00, 0x00, 0x80, 0x3F},                      // 96: tcp_pose[0] 1.0f
      Zeros(4 * 36),                                 // 100: the next 36 floats
      {0x00, 0x00, 0x00, 0x40},                      // 244: ext_wrench_in_tcp_raw[5] 2.0f
      {0x00, 0xF1, 0x53, 0x65},                      // 248: server_time.sec 1700000000
      {0x00, 0x65, 0xCD, 0x1D},                      // 252: server_time.nanosec 500000000
  });                                                // 256: end of body
  ASSERT_EQ(expected.size(), 4u + 256u);
  EXPECT_EQ(Encode<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(sample), expected);
  quiral_lumo_msgs::msg::AllBasicStreamData decoded;
  ASSERT_TRUE(Decode<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(expected, decoded));
  EXPECT_EQ(decoded, sample);
}

TEST(GoldenBytes, BasicStreamWithSevenJointsInEverySequence) {
  quiral_lumo_msgs::msg::AllBasicStreamData sample;
  auto& j = sample.joint();
  for (std::vector<float>* seq :
       {&j.link_position(), &j.motor_position(), &j.link_velocity(), &j.motor_velocity(), &j.torque(),
        &j.torque_dot(), &j.torque_ext(), &j.torque_interact(), &j.torque_des(), &j.temperature(),
        &j.link_contact_force(), &j.link_contact_pos()}) {
    *seq = {1, 2, 3, 4, 5, 6, 7};
  }
  const Bytes bytes = Encode<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(sample);
  EXPECT_EQ(bytes.size(), 4u + 240u + 12u * 28u);
  // Decoding into a sample that held other values replaces all of them.
  quiral_lumo_msgs::msg::AllBasicStreamData decoded;
  decoded.joint().torque({9, 9, 9, 9, 9, 9, 9, 9, 9});
  ASSERT_TRUE(Decode<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(bytes, decoded));
  EXPECT_EQ(decoded, sample);
  EXPECT_EQ(decoded.joint().temperature().size(), 7u);

  // An empty sequence stays empty.
  EXPECT_EQ(Encode<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(
                quiral_lumo_msgs::msg::AllBasicStreamData())
                .size(),
            4u + 240u);
}

TEST(GoldenBytes, MotionCommandsWithWaypoints) {
  vek_msgs::msg::MotionCommands commands;
  commands.sequence_num(0x11);
  vek_msgs::msg::CartesianCommands waypoint;
  waypoint.pose()[3] = 1.0f;
  waypoint.max_angular_acc(4.0f);
  commands.cartesian_multi_commands({waypoint, waypoint, waypoint});
  commands.joint_multi_positions(std::vector<std::vector<float>>(3, std::vector<float>(7, 0.5f)));
  const Bytes bytes = Encode<vek_msgs::msg::MotionCommandsPubSubType>(commands);
  // 8, 30 (empty joint command), 2 padding, 116, 4 + 3 x 116, 4 + 3 x (4 + 28).
  ASSERT_EQ(bytes.size(), 4u + 608u);
  const Bytes first_part = Cat({
      {0x00, 0x01, 0x00, 0x00},                          // header
      {0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // 0: sequence_num
      Zeros(24),                                         // 8: six empty joint sequences
      Zeros(4),                                          // 32: friction_comp_scale
      {0x00, 0x00},                                      // 36: two booleans
      {0x00, 0x00},                                      // 38: padding
      Zeros(116),                                        // 40: cartesian_commands
      {0x03, 0x00, 0x00, 0x00},                          // 156: cartesian_multi_commands count
      Zeros(12), {0x00, 0x00, 0x80, 0x3F}, Zeros(96),    // 160: pose[3] 1.0f at 172
      {0x00, 0x00, 0x80, 0x40},                          // 272: max_angular_acc 4.0f
  });
  ASSERT_EQ(first_part.size(), 4u + 276u);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(first_part.size())), first_part);
  // 508: joint_multi_positions count 3, then the first inner count 7 at 512.
  EXPECT_EQ(Bytes(bytes.begin() + 4 + 508, bytes.begin() + 4 + 520),
            Bytes({0x03, 0, 0, 0, 0x07, 0, 0, 0, 0x00, 0x00, 0x00, 0x3F}));

  vek_msgs::msg::MotionCommands decoded;
  ASSERT_TRUE(Decode<vek_msgs::msg::MotionCommandsPubSubType>(bytes, decoded));
  EXPECT_EQ(decoded, commands);
  EXPECT_EQ(Encode<vek_msgs::msg::MotionCommandsPubSubType>(vek_msgs::msg::MotionCommands()).size(),
            4u + 164u);
}

TEST(GoldenBytes, ExtraStreamDefault) {
  EXPECT_EQ(Encode<quiral_lumo_msgs::msg::AllExtraStreamDataPubSubType>(
                quiral_lumo_msgs::msg::AllExtraStreamData()),
            Cat({{0x00, 0x01, 0x00, 0x00}, Zeros(8 + 76)}));
}

}  // namespace
