// The one writer of downloaded and synced files: what a replaced file keeps,
// links, the write in place and the log of a failed save. No controller.
#include "vek/local_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/log_capture.h"

namespace quiral::vek::detail {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}
struct stat Status(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info;
}

class LocalFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quiral-local-files-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path Old(const std::string& name, const std::string& bytes = "old content") {
    std::ofstream(dir_ / name) << bytes;
    return dir_ / name;
  }
  fs::path dir_;
};

// A folder that takes no new file, as the permission bits make it for a
// user that root is not: the temporary file cannot be made.
int NoTemporaryFile(const fs::path&, unsigned, fs::path&) { return errno = EACCES, -1; }
int DiskFull(const fs::path&, unsigned, fs::path&) { return errno = ENOSPC, -1; }

TEST_F(LocalFilesTest, AReplacedFileKeepsModeAndOwnerANewOneTakesTheUmask) {
  const fs::path secret = Old("secret");
  ::chmod(secret.c_str(), 0600);
  static_cast<void>(::chown(secret.c_str(), 1234, 1234));  // root only
  const struct stat before = Status(secret);
  ASSERT_TRUE(SaveFileBytes(secret, "new"));
  const struct stat after = Status(secret);
  EXPECT_EQ(Read(secret), "new");
  EXPECT_EQ(after.st_mode & 07777, 0600u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);

  const mode_t umask = ::umask(027);
  const bool saved = SaveFileBytes(dir_ / "fresh", "new");
  ::umask(umask);
  ASSERT_TRUE(saved);
  EXPECT_EQ(Status(dir_ / "fresh").st_mode & 07777, 0640u);
}

TEST_F(LocalFilesTest, HardLinksAllSeeTheBytesASymbolicLinkStaysALink) {
  const fs::path first = Old("first");
  fs::create_hard_link(first, dir_ / "second");
  ASSERT_TRUE(SaveFileBytes(first, "new"));
  EXPECT_EQ(Read(dir_ / "second"), "new");
  EXPECT_EQ(Status(first).st_ino, Status(dir_ / "second").st_ino);

  fs::create_directories(dir_ / "real");
  Old("real/file");
  fs::create_symlink("real/file", dir_ / "link");
  fs::create_symlink("real/absent", dir_ / "dangling");
  ASSERT_TRUE(SaveFileBytes(dir_ / "link", "through the link"));
  ASSERT_TRUE(SaveFileBytes(dir_ / "dangling", "made"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "link") && fs::is_symlink(dir_ / "dangling"));
  EXPECT_EQ(Read(dir_ / "real/file"), "through the link");
  EXPECT_EQ(Read(dir_ / "real/absent"), "made");
}

TEST_F(LocalFilesTest, WithoutATemporaryFileAWritableFileIsRewrittenInPlace) {
  const fs::path file = Old("file", "a longer old content");
  ::chmod(file.c_str(), 0640);
  const ino_t inode = Status(file).st_ino;
  ASSERT_TRUE(SaveFileBytes(file, "new", NoTemporaryFile));
  EXPECT_EQ(Read(file), "new");
  EXPECT_EQ(Status(file).st_ino, inode);
  EXPECT_EQ(Status(file).st_mode & 07777, 0640u);
  // Not for a file that does not exist yet, nor when the disk is full.
  EXPECT_FALSE(SaveFileBytes(dir_ / "absent", "new", NoTemporaryFile));
  EXPECT_FALSE(fs::exists(dir_ / "absent"));
  EXPECT_FALSE(SaveFileBytes(file, "newer", DiskFull));
  EXPECT_EQ(Read(file), "new");
}

TEST_F(LocalFilesTest, AFailedSaveIsLoggedWithItsCauseOnALineOfItsOwn) {
  test::LogCapture log;
  fs::create_directories(dir_ / "taken");  // a folder has the name
  EXPECT_FALSE(SaveFileBytes(dir_ / "taken", "new"));
  EXPECT_FALSE(SaveFileBytes(dir_ / std::string("a\0b", 3), "new"));
  EXPECT_FALSE(SaveFileBytes(dir_ / "", "new"));
  const std::string failed = "Failed to save raw bytes to file [";
  EXPECT_EQ(log.Count(spdlog::level::debug, failed + (dir_ / "taken").string() + "]"), 1);
  EXPECT_EQ(log.Count(spdlog::level::debug, failed + (dir_ / "").string() + "]"), 1);
  EXPECT_EQ(log.Starting(spdlog::level::debug, failed).size(), 3u);
  EXPECT_EQ(log.Starting(spdlog::level::debug, "Cause: ").size(), 3u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1) << "a temporary file is left";
}

}  // namespace
}  // namespace quiral::vek::detail
