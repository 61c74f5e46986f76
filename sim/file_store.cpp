#include "sim/file_store.h"

#include <zlib.h>

#include "sim/base64.h"

namespace quiral::sim {

void FileStore::Put(const std::string& store, const std::string& name,
                    std::vector<uint8_t> bytes) {
  File f;
  f.crc = static_cast<uint32_t>(crc32_z(0, bytes.data(), bytes.size()));
  f.bytes = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
  stores_[store][name] = std::move(f);
}

void FileStore::Remove(const std::string& store, const std::string& name) {
  const auto s = stores_.find(store);
  if (s != stores_.end()) s->second.erase(name);
}

const FileStore::File* FileStore::Find(const std::string& store, const std::string& name) const {
  const auto s = stores_.find(store);
  if (s == stores_.end()) return nullptr;
  const auto f = s->second.find(name);
  return f == s->second.end() ? nullptr : &f->second;
}

std::vector<std::string> FileStore::Names(const std::string& store) const {
  std::vector<std::string> names;
  const auto s = stores_.find(store);
  if (s == stores_.end()) return names;
  for (const auto& entry : s->second) names.push_back(entry.first);
  return names;
}

nlohmann::json FileStore::ToJson(const std::string& store, bool with_bytes) const {
  nlohmann::json out = nlohmann::json::array();
  const auto s = stores_.find(store);
  if (s == stores_.end()) return out;
  for (const auto& [name, f] : s->second) {
    nlohmann::json item{{"name", name}, {"size", f.bytes->size()}, {"crc32", f.crc}};
    if (with_bytes) item["base64"] = Base64Encode(f.bytes->data(), f.bytes->size());
    out.push_back(std::move(item));
  }
  return out;
}

}  // namespace quiral::sim
