#include "settings_file.h"

#include <cstring>

namespace pq640admin {

std::optional<PQ640_SystemData> SettingsFromText(const std::string& content) {
  PQ640_SystemData block{};
  if (content.size() != sizeof block.bytes) return std::nullopt;
  std::memcpy(block.bytes, content.data(), sizeof block.bytes);
  return block;
}

std::string SettingsFileText(const PQ640_SystemData& block) {
  return std::string(reinterpret_cast<const char*>(block.bytes), sizeof block.bytes);
}

}  // namespace pq640admin
