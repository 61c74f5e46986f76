// Malformed payloads that the decoders once took: each is refused with
// false, and nothing is thrown. Arbitrary corruption, forged counts and
// huge allocations are left to the fuzz targets.
#include "tests/msgs/msgs_test_util.h"

#include <gtest/gtest.h>

namespace {

using msgs_test::Bytes;
using msgs_test::Decode;
using msgs_test::Encode;
namespace vm = msgs_test::vm;
namespace lm = msgs_test::lm;

template <class Support>
void ExpectRefused(const Bytes& bytes, const std::string& what) {
  typename Support::type message;
  bool ok = true;
  EXPECT_NO_THROW(ok = Decode<Support>(bytes, message)) << what;
  EXPECT_FALSE(ok) << what;
}

TEST(Malformed, OtherEncapsulationsAndBooleanBytes) {
  // Plain CDR only: not XCDR2 plain, delimited or either version's
  // parameter list, nor nonsense. The option bytes carry nothing; bytes
  // after the last field are ignored.
  vm::RPCReply reply;
  reply.string_container({"a"});
  const Bytes valid = Encode<vm::RPCReplyPubSubType>(reply);
  for (uint16_t kind : {0x03, 0x07, 0x09, 0x0b, 0x0101}) {
    Bytes bytes = valid;
    bytes[0] = static_cast<uint8_t>(kind >> 8);
    bytes[1] = static_cast<uint8_t>(kind);
    ExpectRefused<vm::RPCReplyPubSubType>(bytes, "encapsulation " + std::to_string(kind));
  }
  Bytes bytes = valid;
  bytes[2] = 0x12;
  bytes[3] = 0x34;
  bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  EXPECT_TRUE(Decode<vm::RPCReplyPubSubType>(bytes, reply));

  // A boolean is 0 or 1, alone and in an array.
  ExpectRefused<std_msgs::msg::BoolPubSubType>({0x00, 0x01, 0x00, 0x00, 0x02}, "2");
  bytes = Encode<lm::AllBasicStreamDataPubSubType>({});
  bytes[4 + 12 + 17] = 0x02;  // digital_inputs[17]
  ExpectRefused<lm::AllBasicStreamDataPubSubType>(bytes, "digital_inputs[17]");
}

TEST(Malformed, EveryShortenedPayloadIsRefused) {
  // The body's last byte belongs to its last field, so every shorter
  // payload lacks part of a field, whether that field is read alone or in
  // a run of neighbours of one type read as one array.
  msgs_test::ForEach(msgs_test::TypeSupports(), [](auto tag) {
    using Support = typename decltype(tag)::type;
    using Message = typename Support::type;
    msgs_test::Random random(0x5eed0005);
    const Bytes bytes = Encode<Support>(msgs_test::RandomMessage<Message>(random));
    for (size_t length = 4; length < bytes.size(); ++length) {
      Message decoded;
      ASSERT_FALSE(Decode<Support>(Bytes(bytes.begin(), bytes.begin() + length), decoded))
          << Support().getName() << " cut to " << length << " of " << bytes.size() << " bytes";
    }
  });
}

TEST(Malformed, AStringCountWhoseBytesOverflow32BitsIsRefused) {
  // 4294967295 strings of at least 4 bytes each: more than any payload.
  Bytes bytes = {0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  bytes.insert(bytes.end(), 64, 0x00);
  ExpectRefused<lm::RPCReplyPubSubType>(bytes, "string count 4294967295");
}

}  // namespace
