// Files moved between a folder of the test's own and the simulated
// controller, byte for byte, and the names and sizes refused.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <iterator>

#include "sim/base64.h"
#include "tests/vek/robot_test_util.h"
#include "vek/file_io.h"

namespace quiral::vek {
namespace {

using namespace testing_util;
namespace fs = std::filesystem;

std::string F(const std::string& operation) { return "[quiral::vek::FileIO::" + operation + "]"; }
std::string Read(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}
void Write(const fs::path& path, const std::string& bytes) { std::ofstream(path) << bytes; }
std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}
std::string Link(const std::string& name, const std::string& mesh) {
  return "<link name=\"" + name + "\"><collision><geometry><mesh filename=\"" + mesh +
         "\"/></geometry></collision></link>";
}

class FileIOTest : public RobotTest {
 protected:
  void SetUp() override {
    RobotTest::SetUp();
    dir_ = fs::temp_directory_path() / ("quiral-" + UniqueSerial("files"));  // unique to the test
    fs::create_directories(dir_);
    files_ = std::make_unique<FileIO>(robot());
  }
  void TearDown() override { fs::remove_all(dir_); }
  // The bytes of a file the controller stores; storing one.
  std::string Stored(const std::string& store, const std::string& name) {
    const json args = {{"serial", env_->serial}, {"store", store}, {"with_bytes", true}};
    const json files = env_->sim.Command("files", args)["files"];
    for (const json& f : files) {
      if (f["name"] != name) continue;
      const std::vector<uint8_t> bytes = sim::Base64Decode(f["base64"].get<std::string>());
      return std::string(bytes.begin(), bytes.end());
    }
    return "(none)";
  }
  void Store(const std::string& store, const std::string& name, const std::string& bytes) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const std::string base64 = sim::Base64Encode(data, bytes.size());
    const json file = {{"store", store}, {"name", name}, {"base64", base64}};
    env_->sim.Set(env_->serial, {{"files", {file}}});
  }
  void StoreUrdf(const std::string& links) {
    Store("urdf", robot().info().serial_number + ".urdf", "<robot>" + links + "</robot>");
  }
  std::string In(const std::string& name) { return (dir_ / name).string(); }

  fs::path dir_;
  std::unique_ptr<FileIO> files_;
};

TEST_F(FileIOTest, UploadsUpToTheSizeLimit) {
  for (const size_t size : {size_t{0}, FileIO::kMaxFileSize}) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7);
    Write(dir_ / "t.traj", bytes);
    files_->UploadTrajFile(dir_.string(), "t.traj");
    EXPECT_TRUE(Stored("trajectory", "t.traj") == bytes) << size;
  }
  // The size is checked before anything is read: a sparse 64 GiB file too.
  Write(dir_ / "big.traj", std::string(FileIO::kMaxFileSize + 1, 'x'));
  Write(dir_ / "huge.traj", "");
  fs::resize_file(dir_ / "huge.traj", uint64_t{1} << 36);
  const auto upload = [&](const std::string& name) {
    return [&, name] { files_->UploadTrajFile(dir_.string(), name); };
  };
  const std::string text = F("UploadTrajFile") + " ";
  for (const auto& [name, size] : {std::pair{"big.traj", "1000001"}, {"huge.traj", "68719476736"}}) {
    env_->Refused<std::length_error>(upload(name), text + "Size of the trajectory file [" +
                                                       In(name) + "] has exceeded limit (" +
                                                       size + "/1000000 bytes)");
  }
  env_->Refused<std::length_error>(upload(std::string(10001, 'n')),
                                   text + "Input parameter [file_name] is too long to transmit "
                                          "(10001/10000 characters)");
  env_->Refused<std::invalid_argument>(
      upload(std::string("t\0x", 3)),
      text + "Input parameter [file_name] contains a null character");
  for (const std::string name : {"missing.traj", ""}) {  // no file; a folder
    env_->Refused<std::invalid_argument>(
        upload(name), text + "Failed to load trajectory file [" + In(name) + "]");
  }
}

TEST_F(FileIOTest, DownloadsReplaceTheTargetWholeOrNotAtAll) {
  const std::string bytes("\0\x01\xff\r\nz", 6), download = F("DownloadTrajFile");
  Store("trajectory", "bin.traj", bytes);
  EXPECT_EQ(files_->DownloadTrajFile("bin.traj"), bytes);
  // A private file stays private; a second hard link sees the new bytes.
  fs::create_directories(dir_ / "a/b");
  Write(dir_ / "a/b/bin.traj", "old");
  fs::permissions(dir_ / "a/b/bin.traj", fs::perms::owner_read | fs::perms::owner_write);
  files_->DownloadTrajFile("bin.traj", In("a/b"));
  EXPECT_EQ(fs::status(dir_ / "a/b/bin.traj").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  fs::create_hard_link(dir_ / "a/b/bin.traj", dir_ / "link");
  Write(dir_ / "link", "old");
  files_->DownloadTrajFile("bin.traj", In("a/b"));
  EXPECT_TRUE(Read(dir_ / "a/b/bin.traj") == bytes && Read(dir_ / "link") == bytes);
  env_->sim.Fault(env_->serial, {{"procedure_id", 62}, {"kind", "bad_crc"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { files_->DownloadTrajFile("bin.traj", In("new")); },
      download + " Failed to download trajectory file [bin.traj]"));
  EXPECT_FALSE(fs::exists(dir_ / "new"));
  fs::create_directories(dir_ / "c/bin.traj");  // a folder has the name: no file, no leftover
  LogCapture log;
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { files_->DownloadTrajFile("bin.traj", In("c")); },
      download + " Failed to save file [" + In("c/bin.traj") + "]"));
  EXPECT_EQ(Listing(dir_ / "c"), std::set<std::string>{"bin.traj"});
  EXPECT_EQ(log.Count(spdlog::level::debug,
                      "Failed to save raw bytes to file [" + In("c/bin.traj") + "]"),
            1);
  try {
    files_->DownloadTrajFile("bin.traj", In("link/sub"));  // below a regular file
    ADD_FAILURE();
  } catch (const fs::filesystem_error& e) {
    EXPECT_EQ(e.what(), download + " Failed to create directory [" + In("link/sub") +
                            "]: Not a directory");
  }
}

TEST_F(FileIOTest, ProjectFoldersWithTheirMarker) {
  fs::create_directories(dir_ / "P1");
  Write(dir_ / "P1/P1.proj", "<project/>");
  Write(dir_ / "P1/P1.plan", std::string("plan\0", 5));
  const size_t since = env_->OpsTotal();
  files_->UploadProject(In("P1"));
  const auto sent = env_->Requests(since, 64);
  EXPECT_TRUE(sent.size() == 2 && sent[0]["long_string"] == "P1.proj" &&
              sent[1]["long_string"] == "P1.plan");
  EXPECT_EQ(files_->projects_list(), (std::vector<std::string>{"P1", "SimProject"}));
  files_->DownloadProject("P1", In("out"));
  EXPECT_EQ(Listing(dir_ / "out/P1"), (std::set<std::string>{".project", "P1.plan", "P1.proj"}));
  EXPECT_EQ(Read(dir_ / "out/P1/P1.plan"), Stored("project", "P1.plan"));
  EXPECT_EQ(Read(dir_ / "out/P1/P1.proj"), "<project/>");
  EXPECT_EQ(fs::file_size(dir_ / "out/P1/.project"), 0u);
}

TEST_F(FileIOTest, CollisionMeshesInTheCheckersFolderFormat) {
  files_->DownloadCollisionMesh(In("L_coll_meshes"));
  for (int i = 0; i <= 7; ++i) {  // base_link and 7 links
    const std::string link = i == 0 ? "base_link" : "link" + std::to_string(i);
    const std::string bytes = Read(dir_ / "L_coll_meshes" / (link + ".stl"));
    EXPECT_TRUE(bytes == Stored("mesh", "meshes/" + link + ".stl")) << link;
    uint32_t triangles = 0;  // binary STL: 80-byte header, count, 50 bytes per triangle
    std::memcpy(&triangles, bytes.data() + 80, 4);
    EXPECT_EQ(bytes.size(), 84 + 50 * triangles);
  }
  EXPECT_EQ(Listing(dir_ / "L_coll_meshes").size(), 8u);
  // Link name + the mesh file's extension; a link without a mesh gets none.
  Store("mesh", "noext", "raw");
  StoreUrdf(Link("base", "meshes/link1.stl") + Link("plain", "noext") +
            Link("same", "package://meshes/link1.stl") + "<link name=\"free\"/>");
  files_->DownloadCollisionMesh(In("m"));
  EXPECT_EQ(Listing(dir_ / "m"), (std::set<std::string>{"base.stl", "plain", "same.stl"}));
}

TEST_F(FileIOTest, NamesFromTheControllerThatAreNotPlainFileNamesWriteNothing) {
  const size_t before = env_->OpsTotal();
  for (const std::string name : {"../up", "/abs", "a/b", ".."}) {
    Store("trajectory", name, "x");
    Store("project", name + ".proj", "x");
    StoreUrdf(Link("ok", "noext") + Link(name, "noext"));
    const std::string plain = " is not a plain file name";
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { files_->DownloadTrajFile(name, In("t")); },
        F("DownloadTrajFile") + " The trajectory file name [" + name + "]" + plain));
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { files_->DownloadProject(name, In("p")); },
        F("DownloadProject") + " The project name [" + name + "]" + plain));
    EXPECT_TRUE(Throws<std::runtime_error>(
        [&] { files_->DownloadCollisionMesh(In("m")); },
        F("DownloadCollisionMesh") + " The file name [" + name + "] of link [" + name +
            "] in URDF" + plain));
  }
  EXPECT_TRUE(Listing(dir_).empty());
  EXPECT_EQ(env_->OpsTotal(), before + 4 * 3);  // the two lists and the URDF, no download
}

}  // namespace
}  // namespace quiral::vek
