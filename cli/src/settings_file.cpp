#include "settings_file.h"

#include <fstream>

namespace pq640admin {

std::optional<PQ640_SystemData> ReadSettingsFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  PQ640_SystemData block{};
  file.read(reinterpret_cast<char*>(block.bytes), sizeof block.bytes);
  if (file.gcount() != static_cast<std::streamsize>(sizeof block.bytes)) return std::nullopt;
  // One byte more means the file is not a settings block either.
  if (file.peek() != std::ifstream::traits_type::eof()) return std::nullopt;
  return block;
}

bool WriteSettingsFile(const std::string& path, const PQ640_SystemData& block) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(block.bytes), sizeof block.bytes);
  file.close();
  return static_cast<bool>(file);
}

}  // namespace pq640admin
