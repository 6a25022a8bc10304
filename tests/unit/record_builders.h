// Enrolment and log records for the unit tests: caller-memory records filled
// with recognisable bytes, their wire form encoded independently of the
// library's codecs, and a recorder for progress callbacks.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "test_support.h"

namespace pq640::test {

inline Bytes U32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

// Every byte of the slot set to `fill` first, so bytes a codec must not touch show.
inline PQ640_UserData MakeUser(std::uint32_t id, std::uint8_t templates, std::uint8_t code_length,
                               std::uint8_t fill = 0xEE) {
  PQ640_UserData u;
  std::memset(&u, fill, sizeof u);
  u.id = id;
  u.template_count = templates;
  u.code_length = code_length;
  for (int t = 0; t < 2; ++t) {
    for (int i = 0; i < 480; ++i) u.templates[t][i] = static_cast<std::uint8_t>(id + t * 7 + i);
  }
  for (int i = 0; i < 10; ++i) u.code[i] = static_cast<std::uint8_t>('0' + i);
  for (int i = 0; i < 10; ++i) u.info[i] = static_cast<std::uint8_t>(0xA0 + i);
  return u;
}

inline PQ640_AdminData MakeAdmin(std::uint32_t id, std::uint8_t level, std::uint8_t templates,
                                 std::uint8_t code_length, std::uint8_t fill = 0xEE) {
  PQ640_AdminData a;
  std::memset(&a, fill, sizeof a);
  a.id = id;
  a.level = level;
  a.template_count = templates;
  a.code_length = code_length;
  for (int t = 0; t < 2; ++t) {
    for (int i = 0; i < 480; ++i) a.templates[t][i] = static_cast<std::uint8_t>(id * 3 + t + i);
  }
  for (int i = 0; i < 10; ++i) a.code[i] = static_cast<std::uint8_t>('a' + i);
  for (int i = 0; i < 9; ++i) a.info[i] = static_cast<std::uint8_t>(0xB0 + i);
  return a;
}

// The wire form: ID, [level], template count, templates in use, code length,
// code bytes in use, info. Counts are taken as given (up to the slot's room).
inline Bytes UserWire(const PQ640_UserData& u) {
  Bytes w = U32(u.id);
  w.push_back(u.template_count);
  for (int t = 0; t < u.template_count && t < 2; ++t) w.insert(w.end(), u.templates[t], u.templates[t] + 480);
  w.push_back(u.code_length);
  w.insert(w.end(), u.code, u.code + std::min<int>(u.code_length, 10));
  w.insert(w.end(), u.info, u.info + 10);
  return w;
}

inline Bytes AdminWire(const PQ640_AdminData& a) {
  Bytes w = U32(a.id);
  w.push_back(a.level);
  w.push_back(a.template_count);
  for (int t = 0; t < a.template_count && t < 2; ++t) w.insert(w.end(), a.templates[t], a.templates[t] + 480);
  w.push_back(a.code_length);
  w.insert(w.end(), a.code, a.code + std::min<int>(a.code_length, 10));
  w.insert(w.end(), a.info, a.info + 9);
  return w;
}

inline Bytes RecordBytes(const void* record, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(record);
  return Bytes(p, p + size);
}

// Progress callbacks as (total, index), in order.
class ProgressLog {
 public:
  using Call = std::pair<std::uint32_t, std::uint32_t>;
  static std::vector<Call>& Calls() {
    static std::vector<Call> calls;
    return calls;
  }
  static void PQ640_CALL Record(std::uint32_t total, std::uint32_t index) {
    Calls().emplace_back(total, index);
  }
};

// Bytes of the scripted input that the library never consumed: still in the
// socket, or received ahead and left in the read-ahead.
inline std::size_t UnreadInput(const fake::FakeSocket& socket) {
  std::size_t n = Port().read_ahead.end - Port().read_ahead.begin;
  for (const fake::Chunk& c : socket.script.input) n += c.bytes.size();
  return n;
}

}  // namespace pq640::test
