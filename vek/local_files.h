// Internal: the local side of file transfers: reading a file to send,
// writing a received one so that no half-written file ever carries the
// target's name, names that are safe to use inside a folder, and folder
// creation with the caller's error text.
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

// Writes `bytes` to a new temporary file in the folder of `path`, flushes
// it to disk and renames it to `path`, replacing a file of that name. False
// on any failure (logged at debug level); the temporary file is removed
// then and `path` is left as it was.
bool SaveFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

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
