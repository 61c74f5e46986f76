#include "vek/local_files.h"

#include <fcntl.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cerrno>
#include <cstring>

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

bool WriteAll(int fd, const uint8_t* data, size_t size) {
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

// Removes the temporary file of a failed save; returns `result`.
bool Discard(const fs::path& temporary, bool result) {
  ::unlink(temporary.c_str());
  return result;
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

bool SaveFileBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  const auto failed = [&path](const char* step) {
    spdlog::debug("Failed to save raw bytes to file [{}] ({}: {})", path.string(), step,
                  std::strerror(errno));
    return false;
  };
  if (HasNul(path.native()) || path.filename().empty()) {
    errno = EINVAL;
    return failed("name");
  }
  const fs::path temporary = TemporaryPath(path);
  Descriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (fd.get() < 0) return failed("open");
  // Closing is checked too: a write that fails late shows there.
  bool written = WriteAll(fd.get(), bytes.data(), bytes.size()) && ::fsync(fd.get()) == 0;
  written = fd.Close() && written;
  if (!written) return Discard(temporary, failed("write"));
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    return Discard(temporary, failed("rename"));
  }
  return true;
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
