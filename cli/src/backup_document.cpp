#include "backup_document.h"

#include <cstring>
#include <string>

#include "base64.h"
#include "text_format.h"

namespace pq640admin {
namespace {

template <typename Record, typename Convert>
Json ArrayOf(const std::vector<Record>& records, Convert convert) {
  Json array = Json::array();
  for (const Record& record : records) array.push_back(convert(record));
  return array;
}

template <typename Record, typename Convert>
std::vector<Record> RecordsOf(const Json& document, const char* key, RecordForm form, Convert convert) {
  const auto found = document.find(key);
  if (found == document.end() || !found->is_array()) {
    throw RecordError(std::string("\"") + key + "\" must be an array");
  }
  std::vector<Record> records;
  for (std::size_t i = 0; i < found->size(); ++i) {
    try {
      records.push_back(convert((*found)[i], form));
    } catch (const RecordError& error) {
      throw RecordError(std::string(key) + "[" + std::to_string(i) + "]: " + error.what());
    }
  }
  return records;
}

}  // namespace

Json BackupToJson(const Backup& backup) {
  Json document;
  document["format"] = kBackupFormat;
  document["clock"] = FormatDateTime(backup.clock);
  document["settings"] = EncodeBase64(backup.settings.bytes);
  document["users"] = ArrayOf(backup.users, UserToJson);
  document["admins"] = ArrayOf(backup.admins, AdminToJson);
  document["io_records"] = ArrayOf(backup.io_records, IoRecordToJson);
  document["admin_records"] = ArrayOf(backup.admin_records, AdminRecordToJson);
  return document;
}

Backup BackupFromJson(const Json& document) {
  if (!document.is_object()) throw RecordError("a backup is a JSON object");
  const auto format = document.find("format");
  if (format == document.end() || !format->is_number_integer() ||
      (*format != kBackupFormat && *format != 1)) {
    throw RecordError("not a backup of format 1 or " + std::to_string(kBackupFormat) +
                      " (\"format\" is missing or different)");
  }
  const RecordForm form = *format == 1 ? RecordForm::kFormat1 : RecordForm::kCurrent;
  Backup backup;
  const auto clock = document.find("clock");
  const auto clock_value =
      clock != document.end() && clock->is_string() ? ParseDateTime(clock->get<std::string>()) : std::nullopt;
  if (!clock_value) throw RecordError("\"clock\" must be \"YYYY-MM-DD hh:mm:ss\"");
  backup.clock = *clock_value;
  const auto settings = document.find("settings");
  const auto bytes = settings != document.end() && settings->is_string()
                         ? DecodeBase64(settings->get<std::string>())
                         : std::nullopt;
  if (!bytes || bytes->size() != sizeof backup.settings.bytes) {
    throw RecordError("\"settings\" must be the 256-byte settings block in base64");
  }
  std::memcpy(backup.settings.bytes, bytes->data(), sizeof backup.settings.bytes);
  backup.users = RecordsOf<PQ640_UserData>(document, "users", form, UserFromJson);
  backup.admins = RecordsOf<PQ640_AdminData>(document, "admins", form, AdminFromJson);
  backup.io_records = RecordsOf<PQ640_IORecord>(document, "io_records", form, IoRecordFromJson);
  backup.admin_records = RecordsOf<PQ640_AdminRecord>(document, "admin_records", form, AdminRecordFromJson);
  return backup;
}

}  // namespace pq640admin
