#include "commands/system_data_rules.h"

#include <array>
#include <cstdint>

namespace pq640 {
namespace {

// One rule: the little-endian field at `offset` lies between `low` and a high
// limit that is either `high` or, for the later fields of a group, the value
// of the group's first field.
struct FieldRule {
  std::uint8_t offset;
  std::uint8_t width;
  std::uint32_t low;
  std::uint32_t high;
  int bounded_by_offset;  // -1: `high` is the limit
};

constexpr std::array<FieldRule, 14> kRules = {{
    {0, 1, 0, 30, -1},
    {1, 1, 0, 1, -1},
    {2, 1, 0, 2, -1},
    {4, 2, 0, 99, -1},
    {32, 4, 1, 10, -1},
    {36, 4, 0, 0, 32},
    {68, 4, 0, 0, 32},
    {40, 4, 0, 1000, -1},
    {44, 4, 0, 0, 40},
    {64, 4, 0, 1000, -1},
    {48, 4, 0, 1000, -1},
    {52, 4, 0, 0, 48},
    {56, 4, 0, 50000, -1},
    {60, 4, 0, 0, 56},
}};

std::uint32_t ReadField(const PQ640_SystemData& block, std::uint32_t offset, std::uint32_t width) {
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < width; ++i) value |= std::uint32_t{block.bytes[offset + i]} << (8 * i);
  return value;
}

bool Holds(const PQ640_SystemData& block, const FieldRule& rule) {
  const std::uint32_t value = ReadField(block, rule.offset, rule.width);
  const std::uint32_t high = rule.bounded_by_offset < 0
                                 ? rule.high
                                 : ReadField(block, static_cast<std::uint32_t>(rule.bounded_by_offset), 4);
  return value >= rule.low && value <= high;
}

}  // namespace

ResultCode CheckSystemData(const PQ640_SystemData& block, Direction direction) {
  for (const FieldRule& rule : kRules) {
    if (!Holds(block, rule)) {
      return direction == Direction::kWriting ? PQ640_OUT_OF_RANGE : PQ640_INVALID_ARGUMENT;
    }
  }
  return PQ640_OK;
}

}  // namespace pq640
