// Internal: the local side of file transfers: reading a file to send,
// writing a received or updated one, names that are safe to use inside a
// folder, and folder creation with the caller's error text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace quiral::vek::detail {

enum class LoadStatus { kLoaded, kUnreadable, kTooLarge };

struct LoadedFile {
  std::vector<uint8_t> bytes;
  uint32_t crc = 0;   // CRC-32 (IEEE 802.3) of bytes
  uint64_t size = 0;  // the file's size, also when it was too large to read
};

// Reads the regular file `path` whole with its CRC-32. Its size is checked
// first: a file of more than `max_bytes` is not read (kTooLarge, `size`
// set). A path with '\0', a file that is not a regular file or cannot be
// read whole is kUnreadable (logged at debug level).
LoadStatus LoadFileBytes(const std::filesystem::path& path, std::size_t max_bytes,
                         LoadedFile& file);

// Writes `bytes` as the whole content of the file `path`; true when all of
// it reached the disk.
//
// A symbolic link is followed: the file it points to gets the bytes and
// the link stays a link. The bytes go to a new temporary file beside that
// file, are flushed to disk and the temporary file is renamed over it, so
// that a reader sees the old content or the new one, never a part. A file
// it replaces keeps its permission bits and, where the process may set
// them, its owner and group; a new file gets 0666 less the umask. Written
// in place instead, so that no reader is cut off from the new content:
// - a regular file with more than one hard link, so every name sees it;
// - a regular file in a folder where no temporary file may be made
//   (permission denied), when the file itself may be written.
// In place, the new size is reserved before a byte is written, so that a
// full disk or the file-size limit leaves the old content whole; then the
// bytes are written from the start, the file is cut to their length and
// flushed.
//
// Only a regular file is ever replaced or written: an existing target that
// is anything else once links are followed (a FIFO, a device, a socket, a
// folder) is refused and left as it is.
//
// False on any failure, logged at debug level as "Failed to save raw
// bytes to file [path]" and a line with the cause; a temporary file is
// removed then and the target keeps its old content (in place, once the
// new size is reserved, only an I/O error can still leave it part
// written). A path with '\0' or without a file name is refused.
bool SaveFileBytes(const std::filesystem::path& path, std::string_view bytes);
inline bool SaveFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  return SaveFileBytes(path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

// How SaveFileBytes makes its temporary file: opens a new file for writing
// beside `target` with permission bits `mode` (less the umask), stores its
// path in `temporary` and returns its descriptor; -1 with errno set when
// it cannot. SaveFileBytes above makes it with O_CREAT | O_EXCL; a test
// passes one that fails to reach the write in place.
using MakeTemporaryFile = int (*)(const std::filesystem::path& target, unsigned mode,
                                  std::filesystem::path& temporary);
bool SaveFileBytes(const std::filesystem::path& path, std::string_view bytes,
                   MakeTemporaryFile make_temporary);

// True when `name` names an entry directly inside a folder: not empty, not
// "." or "..", and without '/' or '\0'. A name from the controller is
// joined to a local folder only when this holds.
bool IsPlainFileName(const std::string& name);

// A std::filesystem::filesystem_error whose what() is exactly the text it
// was made with (the standard one adds its own wording and the paths).
class FolderError : public std::filesystem::filesystem_error {
 public:
  FolderError(const std::string& text, const std::filesystem::path& folder, std::error_code code)
      : std::filesystem::filesystem_error(text, folder, code), text_(text) {}
  const char* what() const noexcept override { return text_.what(); }

 private:
  std::runtime_error text_;  // copied without throwing
};

// Creates `folder` with every missing parent; an existing folder is fine.
// Throws FolderError `prefix` + " Failed to create directory [" + folder +
// "]: " + the file system's message (an empty path or one with '\0' is
// refused as an invalid argument).
void CreateFolder(const std::string& folder, std::string_view prefix);

}  // namespace quiral::vek::detail
