#include "scenario_data.h"

#include <chrono>
#include <cstring>

namespace pq640bench {
namespace {

constexpr std::uint8_t kQueryAll = 0;
constexpr std::uint8_t kQueryTimeRange = 1;

PQ640_DateTime ToDateTime(std::chrono::sys_seconds time) {
  using namespace std::chrono;
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  return PQ640_DateTime{static_cast<std::uint8_t>(static_cast<int>(date.year()) - 2000),
                        static_cast<std::uint8_t>(static_cast<unsigned>(date.month())),
                        static_cast<std::uint8_t>(static_cast<unsigned>(date.day())),
                        static_cast<std::uint8_t>(clock.hours().count()),
                        static_cast<std::uint8_t>(clock.minutes().count()),
                        static_cast<std::uint8_t>(clock.seconds().count())};
}

void PutU32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

PQ640_UserData MakeUser(std::uint32_t id) {
  PQ640_UserData user{};
  user.id = id;
  user.template_count = 2;
  for (std::size_t t = 0; t < PQ640_MAX_TEMPLATES; ++t) {
    for (std::size_t i = 0; i < PQ640_TEMPLATE_SIZE; ++i) {
      user.templates[t][i] = static_cast<std::uint8_t>(id * 7 + t * 31 + i);
    }
  }
  user.code_length = PQ640_MAX_CODE_LENGTH;
  for (std::size_t i = 0; i < PQ640_MAX_CODE_LENGTH; ++i) {
    user.code[i] = static_cast<std::uint8_t>('0' + (id + i) % 10);
  }
  for (std::size_t i = 0; i < sizeof user.info; ++i) user.info[i] = static_cast<std::uint8_t>(id + i);
  return user;
}

Bytes UserWire(const PQ640_UserData& user) {
  Bytes wire;
  AppendU32(wire, user.id);
  AppendU8(wire, user.template_count);
  AppendBytes(wire, {&user.templates[0][0], std::size_t{user.template_count} * PQ640_TEMPLATE_SIZE});
  AppendU8(wire, user.code_length);
  AppendBytes(wire, {user.code, user.code_length});
  AppendBytes(wire, user.info);
  return wire;
}

PQ640_DateTime IoRecordTime(std::size_t index) {
  using namespace std::chrono;
  const sys_seconds start = sys_days{year{2025} / January / 1};
  return ToDateTime(start + seconds{static_cast<long long>(index)});
}

PQ640_IORecord MakeIoRecord(std::size_t index) {
  PQ640_IORecord record{};
  record.time = IoRecordTime(index);
  PutU32(&record.data[0], static_cast<std::uint32_t>(1 + index % kUserCount));
  record.data[4] = static_cast<std::uint8_t>(index % 3);
  record.data[5] = static_cast<std::uint8_t>((index / kUserCount) % 2);
  PutU32(&record.data[6], static_cast<std::uint32_t>(index % 4));
  return record;
}

PQ640_RecordQuery AllRecordsQuery() {
  PQ640_RecordQuery query{};
  query.bytes[0] = kQueryAll;
  return query;
}

PQ640_RecordQuery TimeRangeQuery(const PQ640_DateTime& from, const PQ640_DateTime& to) {
  PQ640_RecordQuery query{};
  query.bytes[0] = kQueryTimeRange;
  std::memcpy(&query.bytes[1], &from, sizeof from);
  std::memcpy(&query.bytes[7], &to, sizeof to);
  return query;
}

DataSet MakeDataSet() {
  DataSet data;
  for (std::uint32_t id = 1; id <= kUserCount; ++id) {
    data.users.push_back(MakeUser(id));
    data.user_ids.push_back(id);
  }
  data.io_records.reserve(kLogRecordCount);
  for (std::size_t i = 0; i < kLogRecordCount; ++i) data.io_records.push_back(MakeIoRecord(i));
  return data;
}

bool SameUser(const PQ640_UserData& a, const PQ640_UserData& b) {
  // Only the bytes the wire carries: the rest of the slot is the caller's.
  return UserWire(a) == UserWire(b);
}

}  // namespace pq640bench
