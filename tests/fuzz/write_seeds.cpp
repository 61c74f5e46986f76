// Writes a seed corpus for the decode fuzz targets: for every type support,
// the default message and a few random ones, in both byte orders, one file
// each under <directory>/seeds/<decoder name>/, and an empty
// <directory>/found/<decoder name>/ for what the fuzz target finds. The
// decoder name of "vek_msgs::msg::dds_::RPCRequest_" is
// "vek_msgs__RPCRequest". The other targets named on the command line (the
// parsers, whose seeds are files in the source tree) get their empty
// <directory>/found/<name>/ too.
#include "tests/msgs/msgs_test_util.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using eprosima::fastcdr::Cdr;

void Write(const fs::path& file, const msgs_test::Bytes& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string DecoderName(const std::string& dds_name) {
  const std::string middle = "::msg::dds_::";
  const size_t at = dds_name.find(middle);
  return dds_name.substr(0, at) + "__" +
         dds_name.substr(at + middle.size(), dds_name.size() - at - middle.size() - 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY [TARGET...]\n", argv[0]);
    return 2;
  }
  const fs::path root(argv[1]);
  for (int i = 2; i < argc; ++i) fs::create_directories(root / "found" / argv[i]);
  msgs_test::Random random(0xf0220001);
  msgs_test::ForEach(msgs_test::TypeSupports(), [&](auto tag) {
    using Support = typename decltype(tag)::type;
    using Message = typename Support::type;
    const std::string name = DecoderName(Support().getName());
    fs::create_directories(root / "found" / name);
    const fs::path dir = root / "seeds" / name;
    fs::create_directories(dir);
    Write(dir / "default", msgs_test::Encode<Support>(Message()));
    for (int attempt = 0, written = 0; attempt < 100 && written < 8; ++attempt) {
      const msgs_test::Bytes bytes =
          msgs_test::EncodeInOrder(msgs_test::RandomMessage<Message>(random),
                                   written % 2 == 0 ? Cdr::LITTLE_ENDIANNESS : Cdr::BIG_ENDIANNESS);
      if (bytes.size() <= 4096) {
        Write(dir / ("random_" + std::to_string(written++)), bytes);
      }
    }
  });
  return 0;
}
