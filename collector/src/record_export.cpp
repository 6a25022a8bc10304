#include "record_export.h"

#include <nlohmann/json.hpp>

namespace pq640collect {
namespace {

std::string Hex(const RawRecord& raw) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : raw) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

// Terminal names are the only free text; quote them the CSV way.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::size_t ExportRecords(Store& store, LogKind log, const std::string& since, const std::string& until,
                          ExportFormat format, std::ostream& out) {
  const bool io = log == LogKind::kIo;
  std::size_t written = 0;
  if (format == ExportFormat::kCsv) {
    out << (io ? "terminal,local_time,utc_time,user_id,verification,in_out,work_code,raw\n"
               : "terminal,local_time,utc_time,admin_id,operation,target_user_id,raw\n");
    store.Export(log, since, until, [&](const ExportRow& row) {
      out << CsvField(row.terminal) << ',' << row.local_time << ',' << row.utc_time.value_or("") << ','
          << row.owner << ',' << int{row.kind} << ',';
      if (io) out << int{row.in_out} << ',';
      out << row.value << ',' << Hex(row.raw) << '\n';
      ++written;
    });
    return written;
  }
  out << "[";
  store.Export(log, since, until, [&](const ExportRow& row) {
    nlohmann::json entry{{"terminal", row.terminal}, {"local_time", row.local_time}};
    entry["utc_time"] = row.utc_time ? nlohmann::json(*row.utc_time) : nullptr;
    if (io) {
      entry["user_id"] = row.owner;
      entry["verification"] = row.kind;
      entry["in_out"] = row.in_out;
      entry["work_code"] = row.value;
    } else {
      entry["admin_id"] = row.owner;
      entry["operation"] = row.kind;
      entry["target_user_id"] = row.value;
    }
    entry["raw"] = Hex(row.raw);
    out << (written == 0 ? "\n  " : ",\n  ") << entry.dump();
    ++written;
  });
  out << (written == 0 ? "]\n" : "\n]\n");
  return written;
}

}  // namespace pq640collect
