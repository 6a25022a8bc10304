#include "record_export.h"

#include <nlohmann/json.hpp>

namespace pq640collect {
namespace {

// Terminal names are the only free text; quote them the CSV way.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

bool IsRealTime(const RawRecord& raw) {
  const PQ640_DateTime time = RecordTime(raw);
  return time.year <= 99 && time.month >= 1 && time.month <= 12 && time.day >= 1 && time.day <= 31 &&
         time.hour <= 23 && time.minute <= 59 && time.second <= 59;
}

std::uint32_t Bytes32(const RawRecord& raw, std::size_t at) {
  return static_cast<std::uint32_t>(raw[at]) | static_cast<std::uint32_t>(raw[at + 1]) << 8 |
         static_cast<std::uint32_t>(raw[at + 2]) << 16 | static_cast<std::uint32_t>(raw[at + 3]) << 24;
}

// The record's own fields, decoded from its 16 bytes as docs/records.md lays them out.
nlohmann::ordered_json Fields(LogKind log, const ExportRow& row) {
  nlohmann::ordered_json entry;
  const RawRecord& raw = row.raw;
  if (log == LogKind::kIo) {
    entry["time"] = TimeText(RecordTime(raw));
    entry["user_id"] = Bytes32(raw, 6);
    entry["verification"] = raw[10];
    entry["in_out_state"] = raw[11];
    entry["work_code"] = Bytes32(raw, 12);
    return entry;
  }
  if (IsRealTime(raw)) {
    entry["time"] = TimeText(RecordTime(raw));
  } else {
    entry["time_hex"] = HexDigits(std::span(raw).first(6));
  }
  entry["admin_id"] = Bytes32(raw, 6);
  entry["operation"] = raw[10];
  entry["target_user_id"] = Bytes32(raw, 11);
  entry["reserved"] = raw[15];
  return entry;
}

void AddExtra(const ExportRow& row, nlohmann::ordered_json& entry) {
  entry["terminal"] = row.terminal;
  entry["utc_time"] = row.utc_time ? nlohmann::ordered_json(*row.utc_time) : nullptr;
  entry["utc_ambiguous"] = row.utc_ambiguous;
  entry["seq"] = row.seq;
  entry["late"] = row.late;
  entry["raw"] = HexDigits(row.raw);
}

}  // namespace

std::size_t ExportRecords(Store& store, LogKind log, const ExportFilter& filter, ExportFormat format, bool extra,
                          std::ostream& out) {
  const bool io = log == LogKind::kIo;
  std::size_t written = 0;
  if (format == ExportFormat::kCsv) {
    out << (io ? "time,user_id,verification,in_out_state,work_code" : "time,admin_id,operation,target_user_id,reserved");
    if (extra) out << ",terminal,utc_time,utc_ambiguous,seq,late,raw";
    out << '\n';
    store.Export(log, filter, [&](const ExportRow& row) {
      const auto fields = Fields(log, row);
      bool first = true;
      for (const auto& [key, value] : fields.items()) {
        out << (first ? "" : ",") << (value.is_string() ? value.get<std::string>() : value.dump());
        first = false;
      }
      if (extra) {
        out << ',' << CsvField(row.terminal) << ',' << row.utc_time.value_or("") << ',' << int{row.utc_ambiguous}
            << ',' << row.seq << ',' << int{row.late} << ',' << HexDigits(row.raw);
      }
      out << '\n';
      ++written;
    });
    return written;
  }
  out << "[";
  store.Export(log, filter, [&](const ExportRow& row) {
    auto entry = Fields(log, row);
    if (extra) AddExtra(row, entry);
    out << (written == 0 ? "\n  " : ",\n  ") << entry.dump();
    ++written;
  });
  out << (written == 0 ? "]\n" : "\n]\n");
  return written;
}

}  // namespace pq640collect
