#include "port/ipv4_address.h"

namespace pq640 {
namespace {

constexpr int kFields = 4;
constexpr int kMaxDigits = 3;
constexpr std::uint32_t kMaxField = 255;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool ParseTerminalAddress(const char* text, std::uint32_t* address) {
  std::uint8_t octets[kFields] = {};
  const char* p = text;
  for (int field = 0; field < kFields; ++field) {
    if (field > 0 && *p++ != '.') return false;
    std::uint32_t value = 0;
    int digits = 0;
    while (IsDigit(*p) && digits < kMaxDigits) {
      value = value * 10 + static_cast<std::uint32_t>(*p++ - '0');
      ++digits;
    }
    if (digits == 0 || IsDigit(*p) || value > kMaxField) return false;
    octets[field] = static_cast<std::uint8_t>(value);
  }
  if (*p != '\0') return false;
  // Network byte order: the first field is the lowest byte in memory.
  const std::uint32_t parsed = std::uint32_t{octets[0]} | std::uint32_t{octets[1]} << 8 |
                               std::uint32_t{octets[2]} << 16 | std::uint32_t{octets[3]} << 24;
  if (parsed == 0 || parsed == 0xFFFFFFFFu) return false;
  *address = parsed;
  return true;
}

}  // namespace pq640
