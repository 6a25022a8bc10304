#include "log_query.h"

#include <cstring>

#include "text_format.h"

namespace pq640admin {
namespace {

constexpr PQ640_DateTime kFirstSecond{0, 1, 1, 0, 0, 0};
constexpr PQ640_DateTime kLastSecond{99, 12, 31, 23, 59, 59};

constexpr std::size_t kFromOffset = 1;
constexpr std::size_t kToOffset = 7;
constexpr std::size_t kUserOffset = 13;

}  // namespace

PQ640_RecordQuery BuildQuery(const LogFilter& filter) {
  PQ640_RecordQuery query{};
  const bool has_range = filter.from || filter.to;
  query.bytes[0] = static_cast<std::uint8_t>((has_range ? 1 : 0) + (filter.user ? 2 : 0));
  if (has_range) {
    const PQ640_DateTime from = filter.from.value_or(kFirstSecond);
    const PQ640_DateTime to = filter.to.value_or(kLastSecond);
    std::memcpy(query.bytes + kFromOffset, &from, sizeof from);
    std::memcpy(query.bytes + kToOffset, &to, sizeof to);
  }
  if (filter.user) {
    for (int i = 0; i < 4; ++i) {
      query.bytes[kUserOffset + i] = static_cast<std::uint8_t>(*filter.user >> (8 * i));
    }
  }
  return query;
}

std::optional<PQ640_DateTime> ParseTimeBound(std::string_view text, bool end_of_range) {
  auto value = ParseDateTime(text);
  if (!value) value = ParseDay(text, end_of_range);
  if (!value || !PQ640_IsValidDateTime(&*value)) return std::nullopt;
  return value;
}

std::optional<PQ640_RecordQuery> ParseQueryHex(std::string_view text) {
  const auto bytes = ParseHex(text);
  PQ640_RecordQuery query{};
  if (!bytes || bytes->size() != sizeof query.bytes) return std::nullopt;
  std::memcpy(query.bytes, bytes->data(), sizeof query.bytes);
  return query;
}

bool TimeBefore(const PQ640_DateTime& a, const PQ640_DateTime& b) {
  return std::memcmp(&a, &b, sizeof a) < 0;
}

}  // namespace pq640admin
