// Malformed payloads: every one is refused with false, nothing is thrown
// and nothing huge is allocated.
#include "msgs/std_msgs/bool.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "tests/msgs/payload_util.h"

#include <gtest/gtest.h>

namespace {

using msgs_test::Bytes;
using msgs_test::Decode;
using msgs_test::Encode;

template <class PubSubType>
void ExpectEveryTruncationRefused(const typename PubSubType::type& message) {
  const Bytes full = Encode<PubSubType>(message);
  ASSERT_FALSE(full.empty());
  for (size_t length = 0; length < full.size(); ++length) {
    const Bytes cut(full.begin(), full.begin() + static_cast<long>(length));
    typename PubSubType::type decoded;
    bool ok = true;
    EXPECT_NO_THROW(ok = Decode<PubSubType>(cut, decoded)) << "length " << length;
    EXPECT_FALSE(ok) << "length " << length << " of " << full.size();
  }
  typename PubSubType::type decoded;
  EXPECT_TRUE(Decode<PubSubType>(full, decoded));
  EXPECT_EQ(decoded, message);
}

TEST(Malformed, EveryTruncationOfLinkMessages) {
  std_msgs::msg::Bool heartbeat;
  heartbeat.data(true);
  ExpectEveryTruncationRefused<std_msgs::msg::BoolPubSubType>(heartbeat);

  vek_msgs::msg::RPCRequest request;
  request.procedure_id(9);
  request.int_args({1, 2, 3});
  request.float_args({0.25f});
  request.string_args({"one", "", "three"});
  request.long_string_arg("long text");
  request.raw_bytes_arg({1, 2, 3, 4, 5});
  request.tool_params().name("gripper");
  ExpectEveryTruncationRefused<vek_msgs::msg::RPCRequestPubSubType>(request);

  vek_msgs::msg::RPCReply reply;
  reply.success(true);
  reply.string_container({"x"});
  reply.raw_bytes_container({9});
  ExpectEveryTruncationRefused<vek_msgs::msg::RPCReplyPubSubType>(reply);
}

TEST(Malformed, BooleanByteOtherThanZeroOrOne) {
  std_msgs::msg::Bool decoded;
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00, 0x02}, decoded));
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00, 0xFF}, decoded));
  EXPECT_TRUE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00, 0x01}, decoded));

  vek_msgs::msg::RPCReply reply;
  Bytes bytes = Encode<vek_msgs::msg::RPCReplyPubSubType>(reply);
  bytes[4 + 4] = 0x02;  // success
  EXPECT_FALSE(Decode<vek_msgs::msg::RPCReplyPubSubType>(bytes, reply));
}

TEST(Malformed, OnlyPlainCdrHeadersAreRead) {
  std_msgs::msg::Bool decoded;
  // XCDR2 plain (0x0006/0x0007), delimited (0x0008/0x0009), parameter
  // lists of both versions (0x0002/0x0003, 0x000a/0x000b), and nonsense.
  for (uint8_t kind : {0x02, 0x03, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x10, 0xff}) {
    EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x00, kind, 0x00, 0x00, 0x01}, decoded))
        << int(kind);
  }
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x01, 0x01, 0x00, 0x00, 0x01}, decoded));
  // Header only, and less than a header.
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00}, decoded));
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01}, decoded));
  EXPECT_FALSE(Decode<std_msgs::msg::BoolPubSubType>({}, decoded));
  // Option bytes carry nothing here and are ignored.
  EXPECT_TRUE(Decode<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x12, 0x34, 0x01}, decoded));
}

TEST(Malformed, HugeCountsAreRefusedBeforeAllocating) {
  // A reply whose int_container count is 4294967295, in a short payload.
  const Bytes huge_ints = {0x00, 0x01, 0x00, 0x00,  // header
                           0x01, 0x00, 0x00, 0x00,  // 0: procedure_id
                           0x01, 0x00, 0x00, 0x00,  // 4: success, padding
                           0xFF, 0xFF, 0xFF, 0xFF,  // 8: int_container count
                           0x00, 0x00, 0x00, 0x00};
  vek_msgs::msg::RPCReply reply;
  EXPECT_FALSE(Decode<vek_msgs::msg::RPCReplyPubSubType>(huge_ints, reply));
  EXPECT_EQ(reply.int_container().capacity(), 0u);

  // 1000 strings need at least 4000 bytes; 3999 zero bytes hold 999 empty
  // strings (count 0) at most.
  Bytes strings = {0x00, 0x01, 0x00, 0x00,  // header
                   0x01, 0x00, 0x00, 0x00,  // 0: procedure_id
                   0x01, 0x00, 0x00, 0x00,  // 4: success, padding
                   0x00, 0x00, 0x00, 0x00,  // 8: int_container empty
                   0x00, 0x00, 0x00, 0x00,  // 12: float_container empty
                   0xE8, 0x03, 0x00, 0x00};  // 16: string_container count 1000
  strings.insert(strings.end(), 3999, 0x00);
  EXPECT_FALSE(Decode<vek_msgs::msg::RPCReplyPubSubType>(strings, reply));
  EXPECT_EQ(reply.string_container().capacity(), 0u);

  // A string count beyond the payload.
  Bytes long_string = {0x00, 0x01, 0x00, 0x00,  // header
                       0x01, 0x00, 0x00, 0x00,  // 0: procedure_id, padding
                       0x00, 0x00, 0x00, 0x00,  // 4: int_args empty
                       0x00, 0x00, 0x00, 0x00,  // 8: float_args empty
                       0x00, 0x00, 0x00, 0x00,  // 12: string_args empty
                       0xFF, 0xFF, 0xFF, 0x7F,  // 16: long_string_arg count
                       'a', 'b', 'c', 0x00};
  vek_msgs::msg::RPCRequest request;
  EXPECT_FALSE(Decode<vek_msgs::msg::RPCRequestPubSubType>(long_string, request));
}

}  // namespace
