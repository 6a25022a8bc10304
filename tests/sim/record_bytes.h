// Enrolment records, log records and queries as a host would send them,
// built by hand so the tests do not lean on the simulator's own layout code.
#pragma once

#include <cstdint>
#include <array>
#include <initializer_list>
#include <vector>

namespace pq640sim::test {

using Bytes = std::vector<std::uint8_t>;

inline void PutU32(Bytes& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline Bytes U32(std::uint32_t value) {
  Bytes out;
  PutU32(out, value);
  return out;
}

// Template and code bytes are `fill`, info bytes `fill + 1`, so two records
// with different fills differ in every part.
inline Bytes UserWire(std::uint32_t id, std::uint8_t templates, std::uint8_t code_length,
                      std::uint8_t fill = 0x5A) {
  Bytes out;
  PutU32(out, id);
  out.push_back(templates);
  out.insert(out.end(), 480u * templates, fill);
  out.push_back(code_length);
  out.insert(out.end(), code_length, fill);
  out.insert(out.end(), 10, static_cast<std::uint8_t>(fill + 1));
  return out;
}

inline Bytes AdminWire(std::uint32_t id, std::uint8_t level, std::uint8_t templates,
                       std::uint8_t code_length, std::uint8_t fill = 0xA5) {
  Bytes out;
  PutU32(out, id);
  out.push_back(level);
  out.push_back(templates);
  out.insert(out.end(), 480u * templates, fill);
  out.push_back(code_length);
  out.insert(out.end(), code_length, fill);
  out.insert(out.end(), 9, static_cast<std::uint8_t>(fill + 1));
  return out;
}

// Count, then the given parts concatenated.
inline Bytes Batch(std::uint32_t count, std::initializer_list<Bytes> parts) {
  Bytes out = U32(count);
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

inline Bytes IdList(std::initializer_list<std::uint32_t> ids) {
  Bytes out = U32(static_cast<std::uint32_t>(ids.size()));
  for (std::uint32_t id : ids) PutU32(out, id);
  return out;
}

using Time = std::array<std::uint8_t, 6>;

inline Bytes IoRecordBytes(Time time, std::uint32_t user, std::uint8_t state,
                           std::uint8_t verification = 1, std::uint32_t work_code = 0) {
  Bytes out(time.begin(), time.end());
  PutU32(out, user);
  out.push_back(verification);
  out.push_back(state);
  PutU32(out, work_code);
  return out;
}

inline Bytes AdminRecordBytes(Time time, std::uint32_t admin, std::uint8_t operation,
                              std::uint32_t target) {
  Bytes out(time.begin(), time.end());
  PutU32(out, admin);
  out.push_back(operation);
  PutU32(out, target);
  out.push_back(0);
  return out;
}

inline Bytes Query(std::uint8_t kind, Time from = {}, Time to = {}, std::uint32_t user = 0) {
  Bytes out{kind};
  out.insert(out.end(), from.begin(), from.end());
  out.insert(out.end(), to.begin(), to.end());
  PutU32(out, user);
  out.push_back(0);
  return out;
}

// Request payload of GetUsersIORecord(Num).
inline Bytes UsersQuery(std::initializer_list<std::uint32_t> ids, std::uint8_t selector, Time from,
                        Time to) {
  Bytes out = IdList(ids);
  out.push_back(selector);
  out.insert(out.end(), from.begin(), from.end());
  out.insert(out.end(), to.begin(), to.end());
  return out;
}

}  // namespace pq640sim::test
