// The settings block as a raw 256-byte file, for saving, editing and restoring.
#pragma once

#include <pq640/pq640.h>

#include <optional>
#include <string>

namespace pq640admin {

// Nothing unless the text is exactly 256 bytes long.
std::optional<PQ640_SystemData> SettingsFromText(const std::string& content);
std::string SettingsFileText(const PQ640_SystemData& block);

}  // namespace pq640admin
