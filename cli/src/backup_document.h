// A terminal's backup as one JSON document: users and administrators (with
// templates and codes), the settings block, the clock and both logs, under
// the top-level keys format, clock, settings, users, admins, io_records and
// admin_records. Records in the forms of docs/records.md.
#pragma once

#include <pq640/pq640.h>

#include <vector>

#include "record_json.h"

namespace pq640admin {

// Raised when a document's layout changes incompatibly. Format 1 (binary
// fields in base64, the older log record keys) is still read.
inline constexpr int kBackupFormat = 2;

struct Backup {
  PQ640_DateTime clock{};
  PQ640_SystemData settings{};
  std::vector<PQ640_UserData> users;
  std::vector<PQ640_AdminData> admins;
  std::vector<PQ640_IORecord> io_records;
  std::vector<PQ640_AdminRecord> admin_records;
};

Json BackupToJson(const Backup& backup);
// Throws RecordError naming the place ("users[3]: ...") of what is wrong.
Backup BackupFromJson(const Json& document);

}  // namespace pq640admin
