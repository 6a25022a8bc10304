// The JSON forms of enrolment and log records, shared by the record output,
// the input files of `users add`, `admins add`, `logs ... add`, and backups:
// the vocabulary of docs/records.md. Codes and info are text when printable
// ASCII (else `code_hex` / `info_hex`), templates base64. Log records are
// split into the fields of the layout the simulator documents; together the
// fields cover all sixteen bytes, so any record survives a round trip.
#pragma once

#include <pq640/pq640.h>

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace pq640admin {

using Json = nlohmann::ordered_json;

// What is wrong with a record read from JSON, naming the field.
class RecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Backups of format 1 wrote every binary field as base64 and other log
// record keys; they are still read.
enum class RecordForm { kCurrent, kFormat1 };

// The CSV and table cell of a record's `code` or `info` (its JSON form):
// the text, or "hex:" and the hex digits of the `_hex` form.
std::string TextCell(const Json& record, const char* key);
// The six time bytes of an administrator log record as a cell: the time,
// or 12 hex digits when they are no real date and time.
std::string AdminRecordTimeCell(const Json& record);

Json UserToJson(const PQ640_UserData& user);
Json AdminToJson(const PQ640_AdminData& admin);
Json IoRecordToJson(const PQ640_IORecord& record);
Json AdminRecordToJson(const PQ640_AdminRecord& record);

// Each checks what the terminal would otherwise refuse (counts, lengths,
// levels, a real date) and throws RecordError. Missing info is all zeros,
// missing templates none.
PQ640_UserData UserFromJson(const Json& json, RecordForm form = RecordForm::kCurrent);
PQ640_AdminData AdminFromJson(const Json& json, RecordForm form = RecordForm::kCurrent);
PQ640_IORecord IoRecordFromJson(const Json& json, RecordForm form = RecordForm::kCurrent);
PQ640_AdminRecord AdminRecordFromJson(const Json& json, RecordForm form = RecordForm::kCurrent);

// A file of records holds one record object or an array of them.
Json RecordArray(const Json& document);

}  // namespace pq640admin
