// Writes a seed corpus for the decode fuzz targets: for every type support,
// the default message and a few random ones, in both byte orders, one file
// each under <directory>/seeds/<decoder name>/, and an empty
// <directory>/found/<decoder name>/ for what the fuzz target finds.
#include "tests/msgs/payload_util.h"
#include "tests/msgs/random_messages.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using eprosima::fastcdr::Cdr;

constexpr size_t kLargestSeed = 4096;

void Write(const fs::path& file, const msgs_test::Bytes& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

template <class PubSubType>
void WriteSeeds(const fs::path& root, const char* name, msgs_test::Random& random) {
  using Message = typename PubSubType::type;
  // Inputs the fuzz target finds go to found/<name>; the seeds to seeds/<name>.
  fs::create_directories(root / "found" / name);
  const fs::path dir = root / "seeds" / name;
  fs::create_directories(dir);
  Write(dir / "default", msgs_test::Encode<PubSubType>(Message()));
  int written = 0;
  for (int attempt = 0; attempt < 100 && written < 8; ++attempt) {
    const Message message = msgs_test::RandomMessage<Message>(random);
    const msgs_test::Bytes bytes = msgs_test::EncodeInOrder(
        message, written % 2 == 0 ? Cdr::LITTLE_ENDIANNESS : Cdr::BIG_ENDIANNESS);
    if (bytes.size() > kLargestSeed) {
      continue;
    }
    Write(dir / ("random_" + std::to_string(written)), bytes);
    ++written;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  const fs::path root(argv[1]);
  msgs_test::Random random(0xf0220001);
  WriteSeeds<std_msgs::msg::BoolPubSubType>(root, "std_msgs__Bool", random);
  WriteSeeds<vek_msgs::msg::SystemStatusPubSubType>(root, "vek_msgs__SystemStatus", random);
  WriteSeeds<vek_msgs::msg::GripperStatesPubSubType>(root, "vek_msgs__GripperStates", random);
  WriteSeeds<vek_msgs::msg::RealtimeStatesPubSubType>(root, "vek_msgs__RealtimeStates", random);
  WriteSeeds<vek_msgs::msg::RPCRequestPubSubType>(root, "vek_msgs__RPCRequest", random);
  WriteSeeds<vek_msgs::msg::RPCReplyPubSubType>(root, "vek_msgs__RPCReply", random);
  WriteSeeds<vek_msgs::msg::JointCommandsPubSubType>(root, "vek_msgs__JointCommands", random);
  WriteSeeds<vek_msgs::msg::CartesianCommandsPubSubType>(root, "vek_msgs__CartesianCommands", random);
  WriteSeeds<vek_msgs::msg::MotionCommandsPubSubType>(root, "vek_msgs__MotionCommands", random);
  WriteSeeds<quiral_lumo_msgs::msg::RPCRequestPubSubType>(root, "quiral_lumo_msgs__RPCRequest", random);
  WriteSeeds<quiral_lumo_msgs::msg::RPCReplyPubSubType>(root, "quiral_lumo_msgs__RPCReply", random);
  WriteSeeds<quiral_lumo_msgs::msg::EventLogPubSubType>(root, "quiral_lumo_msgs__EventLog", random);
  WriteSeeds<quiral_lumo_msgs::msg::AllExtraStreamDataPubSubType>(root, "quiral_lumo_msgs__AllExtraStreamData",
                                                                  random);
  WriteSeeds<quiral_lumo_msgs::msg::AllBasicStreamDataPubSubType>(root, "quiral_lumo_msgs__AllBasicStreamData",
                                                                  random);
  return 0;
}
