#include "postgres_values.h"

#include "record_layout.h"

namespace pq640collect::postgres {

RawRecord FromHex(const std::string& text) {
  RawRecord raw{};
  for (std::size_t i = 0; i < raw.size() && 2 + 2 * i + 1 < text.size(); ++i) {
    raw[i] = static_cast<std::uint8_t>(std::stoul(text.substr(2 + 2 * i, 2), nullptr, 16));
  }
  return raw;
}

std::string ArrayLiteral(const std::vector<std::optional<std::string>>& values) {
  std::string text = "{";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ',';
    text += values[i] ? "\"" + *values[i] + "\"" : "NULL";
  }
  return text + "}";
}

std::int64_t LockKey(const std::string& terminal) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a of a fixed prefix and the name
  for (char c : "pq640-collect:" + terminal) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return static_cast<std::int64_t>(hash);
}

InsertArrays ToInsertArrays(LogKind log, const std::vector<LogRow>& rows) {
  std::vector<std::optional<std::string>> local, utc, owner, kind, in_out, value, raw, twin, flags;
  for (const LogRow& row : rows) {
    local.push_back(TimeText(RecordTime(row.raw)));
    utc.push_back(row.utc ? std::optional<std::string>(TimeText(*row.utc)) : std::nullopt);
    if (log == LogKind::kIo) {
      const IoFields fields = DecodeIo(row.raw);
      owner.push_back(std::to_string(fields.user_id));
      kind.push_back(std::to_string(fields.verification));
      in_out.push_back(std::to_string(fields.in_out));
      value.push_back(std::to_string(fields.work_code));
    } else {
      const AdminFields fields = DecodeAdmin(row.raw);
      owner.push_back(std::to_string(fields.admin_id));
      kind.push_back(std::to_string(fields.operation));
      in_out.push_back("0");
      value.push_back(std::to_string(fields.target_user_id));
    }
    raw.push_back(HexDigits(row.raw));
    twin.push_back(std::to_string(row.twin));
    flags.push_back(std::to_string((row.late ? 1 : 0) + (row.utc_ambiguous ? 2 : 0)));
  }
  return {ArrayLiteral(local), ArrayLiteral(utc), ArrayLiteral(owner), ArrayLiteral(kind), ArrayLiteral(in_out),
          ArrayLiteral(value), ArrayLiteral(raw), ArrayLiteral(twin), ArrayLiteral(flags)};
}

}  // namespace pq640collect::postgres
