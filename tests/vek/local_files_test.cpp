// The one writer of downloaded and synced files: what a replaced file keeps,
// links, the write in place and the log of a failed save. No controller.
#include "vek/local_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

// Files may grow to `bytes` while it lives; a write past that fails with
// EFBIG instead of ending the process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &before_);
    rlimit limit = before_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    handler_ = std::signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &before_);
    std::signal(SIGXFSZ, handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit before_{};
  void (*handler_)(int) = SIG_DFL;
};

// Puts a FIFO where the target was, between the save's look-up and its
// write in place, with a reader open (kept here) unless `open_fifo_reader` is
// off, then fails as a folder that takes no new file does.
bool open_fifo_reader = true;
int fifo_reader = -1;
int SwapForAFifo(const fs::path& target, unsigned, fs::path&) {
  ::unlink(target.c_str());
  ::mkfifo(target.c_str(), 0644);
  if (open_fifo_reader) fifo_reader = ::open(target.c_str(), O_RDONLY | O_NONBLOCK);
  return errno = EACCES, -1;
}

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

// Neither replaced nor written, named directly or through a link: a FIFO,
// a socket and, where the process may make one, a character device.
TEST_F(LocalFilesTest, ANodeThatIsNotARegularFileIsRefusedAndLeftAsItIs) {
  test::LogCapture log;
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, (dir_ / "socket").c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::vector<std::string> nodes = {"fifo", "socket"};
  if (::mknod((dir_ / "device").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) {
    nodes.push_back("device");
  }
  for (const std::string& node : nodes) {
    fs::create_symlink(node, dir_ / (node + "-link"));
    const struct stat before = Status(dir_ / node);
    for (const fs::path& path : {dir_ / node, dir_ / (node + "-link")}) {
      EXPECT_FALSE(SaveFileBytes(path, "new")) << path;
      const struct stat after = Status(dir_ / node);
      EXPECT_EQ(after.st_ino, before.st_ino) << path;
      EXPECT_EQ(after.st_mode, before.st_mode) << path;
      EXPECT_EQ(after.st_rdev, before.st_rdev) << path;
    }
  }
  ::close(socket);
  const auto cause = [this](const std::string& node, const std::string& kind) {
    return "Cause: [" + (dir_ / node).string() + "] is " + kind + ", not a regular file";
  };
  EXPECT_EQ(log.Count(spdlog::level::debug, cause("fifo", "a FIFO")), 2);
  EXPECT_EQ(log.Count(spdlog::level::debug, cause("socket", "a socket")), 2);
  if (nodes.size() == 3) {
    EXPECT_EQ(log.Count(spdlog::level::debug, cause("device", "a character device")), 2);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 2 * nodes.size())
      << "a temporary file is left";
}

// A FIFO swapped in after the look-up is found on the opened file: nothing
// is written to its reader, and without a reader the save does not wait.
TEST_F(LocalFilesTest, WritingInPlaceChecksTheFileItOpened) {
  const fs::path file = Old("file");
  EXPECT_FALSE(SaveFileBytes(file, "new", SwapForAFifo));
  ASSERT_GE(fifo_reader, 0);
  char buffer[16];
  EXPECT_EQ(::read(fifo_reader, buffer, sizeof buffer), 0) << "bytes were written to the FIFO";
  ::close(fifo_reader);
  EXPECT_TRUE(S_ISFIFO(Status(file).st_mode));

  open_fifo_reader = false;
  const fs::path other = Old("other");
  EXPECT_FALSE(SaveFileBytes(other, "new", SwapForAFifo));
  EXPECT_TRUE(S_ISFIFO(Status(other).st_mode));
}

// Disk full or the file-size limit: the new size is refused before a byte
// of the old content is overwritten, for both ways of writing in place.
TEST_F(LocalFilesTest, AWriteInPlaceThatCannotFinishKeepsTheOldContent) {
  const fs::path first = Old("first", "OLD-CONTENT");
  fs::create_hard_link(first, dir_ / "second");
  const fs::path lone = Old("lone", "OLD-CONTENT");
  bool linked_saved = true, lone_saved = true;
  {
    const FileSizeLimit limit(4);
    linked_saved = SaveFileBytes(first, "NEW-CONTENT-LONGER");
    lone_saved = SaveFileBytes(lone, "NEW-CONTENT-LONGER", NoTemporaryFile);
  }
  EXPECT_FALSE(linked_saved);
  EXPECT_FALSE(lone_saved);
  EXPECT_EQ(Read(first), "OLD-CONTENT");
  EXPECT_EQ(Read(dir_ / "second"), "OLD-CONTENT");
  EXPECT_EQ(Read(lone), "OLD-CONTENT");
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
