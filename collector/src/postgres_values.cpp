#include "postgres_values.h"

#include "record_layout.h"

namespace pq640collect::postgres {

std::string Hex(const RawRecord& raw) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : raw) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

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

std::optional<PQ640_DateTime> OptionalTime(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return ParseTimeText(*text);
}

const char* Table(LogKind log) { return log == LogKind::kIo ? "io_records" : "admin_records"; }

std::int64_t LockKey(const std::string& terminal) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a of a fixed prefix and the name
  for (char c : "pq640-collect:" + terminal) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return static_cast<std::int64_t>(hash);
}

}  // namespace pq640collect::postgres
