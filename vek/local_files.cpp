#include "vek/local_files.h"

#include <fcntl.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace quiral::vek::detail {
namespace {

namespace fs = std::filesystem;

bool HasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

// Closes a descriptor on every way out of a scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now; false when closing reports an error (a write that failed
  // late).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  const char* data = bytes.data();
  size_t size = bytes.size();
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A hidden name beside `path`, unique to this process and call, and short
// enough for the file system however long the target's name is.
fs::path TemporaryPath(const fs::path& path) {
  static std::atomic<uint64_t> counter{0};
  const std::string name = "." + path.filename().string().substr(0, 200) + ".part-" +
                           std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
  return path.parent_path() / name;
}

int MakeTemporaryBeside(const fs::path& target, unsigned mode, fs::path& temporary) {
  temporary = TemporaryPath(target);
  return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                static_cast<mode_t>(mode));
}

// Follows the symbolic links that `path` ends in, as the kernel does,
// leaving in `path` the file they lead to and in `info` its status (when
// `exists`). False with errno set when a look-up fails or the links loop.
bool FollowLinks(fs::path& path, struct stat& info, bool& exists) {
  constexpr int kMaxLinks = 40;
  for (int links = 0;; ++links) {
    if (::lstat(path.c_str(), &info) != 0) {
      exists = false;
      return errno == ENOENT;
    }
    exists = true;
    if (!S_ISLNK(info.st_mode)) return true;
    std::error_code error;
    const fs::path to = fs::read_symlink(path, error);
    if (error || links == kMaxLinks) {
      errno = error ? error.value() : ELOOP;
      return false;
    }
    path = to.is_absolute() ? to : path.parent_path() / to;
  }
}

// Gives the temporary file `fd` the owner, group and permission bits of
// the file it replaces. Where the process may not set the owner (not
// root), the group alone is tried, and a failure there is no error.
bool KeepOwnerAndMode(int fd, const struct stat& original) {
  struct stat made {};
  if (::fstat(fd, &made) != 0) return false;
  if ((made.st_uid != original.st_uid || made.st_gid != original.st_gid) &&
      ::fchown(fd, original.st_uid, original.st_gid) != 0) {
    if (errno != EPERM && errno != EINVAL) return false;
    ::fchown(fd, static_cast<uid_t>(-1), original.st_gid);
  }
  // After the owner: changing it clears the set-user-ID and set-group-ID bits.
  return ::fchmod(fd, original.st_mode & 07777) == 0;
}

// Flushes what was written to `fd` to disk and closes it; a close that
// fails shows a write that failed late.
bool FlushAndClose(Descriptor& fd) {
  const bool flushed = ::fsync(fd.get()) == 0;
  return fd.Close() && flushed;
}

// What a file of mode `mode` is, for a save that refuses anything but a
// regular file.
const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// How a save ended: `cause` is empty when it succeeded.
struct Outcome {
  std::string cause;
  static Outcome Ok() { return {}; }
  // `step` and the text of errno (or of `error`, when given).
  static Outcome Failed(const char* step, int error = 0) {
    return {std::string(step) + " failed: " + std::strerror(error != 0 ? error : errno)};
  }
  static Outcome NotRegular(const fs::path& target, mode_t mode) {
    return {"[" + target.string() + "] is " + KindOf(mode) + ", not a regular file"};
  }
  explicit operator bool() const { return cause.empty(); }
};

// Replaces the content of the existing regular file `target` in place. The
// file is opened without blocking (a FIFO put in its place has no reader
// to wait for) and checked to be a regular file on the descriptor itself,
// so that nothing else put in its place since the look-up is written to.
// The new size is reserved before anything is written: a full disk or the
// file-size limit then fails with the old content whole. The bytes are
// then written from the start, the file cut to their length and flushed.
Outcome WriteInPlace(const fs::path& target, std::string_view bytes) {
  Descriptor fd(
      ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
  if (fd.get() < 0) return Outcome::Failed("opening the file to write in place");
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return Outcome::Failed("checking the opened file");
  if (!S_ISREG(info.st_mode)) return Outcome::NotRegular(target, info.st_mode);
  const auto size = static_cast<off_t>(bytes.size());
  if (size > 0) {
    const int reserved = ::posix_fallocate(fd.get(), 0, size);
    if (reserved != 0) return Outcome::Failed("reserving the new size", reserved);
  }
  if (!WriteAll(fd.get(), bytes)) return Outcome::Failed("writing in place");
  if (::ftruncate(fd.get(), size) != 0) return Outcome::Failed("cutting the file to its length");
  if (!FlushAndClose(fd)) return Outcome::Failed("flushing the file");
  return Outcome::Ok();
}

// Saves `bytes` as the whole content of `path` (see SaveFileBytes).
Outcome Save(const fs::path& path, std::string_view bytes, MakeTemporaryFile make_temporary) {
  if (HasNul(path.native()) || path.filename().empty()) {
    return Outcome::Failed("checking the file name", EINVAL);
  }
  fs::path target = path;
  struct stat original {};
  bool exists = false;
  if (!FollowLinks(target, original, exists)) return Outcome::Failed("following the path");
  // A device, FIFO, socket or folder in the way stays as it is.
  if (exists && !S_ISREG(original.st_mode)) return Outcome::NotRegular(target, original.st_mode);
  if (exists && original.st_nlink > 1) return WriteInPlace(target, bytes);
  // A replaced file's content stays private to its owner until its own
  // permission bits are set.
  fs::path temporary;
  Descriptor fd(make_temporary(target, exists ? 0600 : 0666, temporary));
  if (fd.get() < 0) {
    if (exists && (errno == EACCES || errno == EPERM)) return WriteInPlace(target, bytes);
    return Outcome::Failed("creating a temporary file");
  }
  // Removes the temporary file of a failed save.
  const auto discard = [&temporary](Outcome failure) {
    ::unlink(temporary.c_str());
    return failure;
  };
  if (exists && !KeepOwnerAndMode(fd.get(), original)) {
    return discard(Outcome::Failed("keeping owner and permissions"));
  }
  if (!WriteAll(fd.get(), bytes) || !FlushAndClose(fd)) {
    return discard(Outcome::Failed("writing"));
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    return discard(Outcome::Failed("renaming"));
  }
  return Outcome::Ok();
}

}  // namespace

LoadStatus LoadFileBytes(const fs::path& path, size_t max_bytes, LoadedFile& file) {
  const auto unreadable = [&path]() {
    spdlog::debug("Failed to read file [{}] into raw bytes", path.string());
    return LoadStatus::kUnreadable;
  };
  // Not blocking: a FIFO given by mistake is refused below instead of
  // waiting for a writer.
  const Descriptor fd(
      HasNul(path.native()) ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    spdlog::debug("Failed to open file [{}]", path.string());
    return LoadStatus::kUnreadable;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return unreadable();
  file.size = static_cast<uint64_t>(info.st_size);
  if (file.size > max_bytes) return LoadStatus::kTooLarge;
  file.bytes.assign(static_cast<size_t>(file.size), 0);
  if (!ReadAll(fd.get(), file.bytes.data(), file.bytes.size())) return unreadable();
  file.crc = static_cast<uint32_t>(crc32_z(0, file.bytes.data(), file.bytes.size()));
  return LoadStatus::kLoaded;
}

bool SaveFileBytes(const fs::path& path, std::string_view bytes) {
  return SaveFileBytes(path, bytes, MakeTemporaryBeside);
}

bool SaveFileBytes(const fs::path& path, std::string_view bytes,
                   MakeTemporaryFile make_temporary) {
  const Outcome outcome = Save(path, bytes, make_temporary);
  if (!outcome) {
    spdlog::debug("Failed to save raw bytes to file [{}]", path.string());
    spdlog::debug("Cause: {}", outcome.cause);
  }
  return static_cast<bool>(outcome);
}

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         !HasNul(name);
}

void CreateFolder(const std::string& folder, std::string_view prefix) {
  std::error_code code;
  if (folder.empty() || HasNul(folder)) {
    code = std::make_error_code(std::errc::invalid_argument);
  } else {
    fs::create_directories(folder, code);
  }
  if (code) {
    throw FolderError(
        std::string(prefix) + " Failed to create directory [" + folder + "]: " + code.message(),
        folder, code);
  }
}

}  // namespace quiral::vek::detail
