// Files a controller keeps, in named stores ("urdf", "trajectory",
// "project", "mesh"), each with its CRC-32 (IEEE 802.3) computed once.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quiral::sim {

class FileStore {
 public:
  struct File {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    uint32_t crc = 0;
  };

  // Adds or replaces one file.
  void Put(const std::string& store, const std::string& name, std::vector<uint8_t> bytes);
  void Remove(const std::string& store, const std::string& name);
  // Null when the store holds no such file.
  const File* Find(const std::string& store, const std::string& name) const;
  // Names of one store's files, in name order.
  std::vector<std::string> Names(const std::string& store) const;
  // [{name, size, crc32, base64 (with_bytes only)}] in name order.
  nlohmann::json ToJson(const std::string& store, bool with_bytes) const;

 private:
  std::map<std::string, std::map<std::string, File>> stores_;
};

}  // namespace quiral::sim
