// Wire bytes of real messages against payloads worked out by hand from the
// CDR rules. Offsets in the comments are body offsets: 0 is the first byte
// after the 4-byte payload header, and alignment counts from there.
#include "msgs/std_msgs/bool.h"
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

}  // namespace
