// The settings block as a raw 256-byte file, for saving, editing and restoring.
#pragma once

#include <pq640/pq640.h>

#include <optional>
#include <string>

namespace pq640admin {

// Nothing when the file cannot be read or is not exactly 256 bytes long.
std::optional<PQ640_SystemData> ReadSettingsFile(const std::string& path);
bool WriteSettingsFile(const std::string& path, const PQ640_SystemData& block);

}  // namespace pq640admin
