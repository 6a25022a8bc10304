#include "pq640sim/generated_records.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "pq640sim/enrolment_layout.h"
#include "pq640sim/little_endian.h"

namespace pq640sim {
namespace {

// A small linear congruential sequence seeded from the ID: cheap, and
// different for every ID, so a record that landed under another ID shows.
class ByteSequence {
 public:
  explicit ByteSequence(std::uint32_t id) : state_(id * 2654435761u + 0x9E3779B9u) {}
  std::uint8_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(state_ >> 24);
  }

 private:
  std::uint32_t state_;
};

void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// Templates, code length, code digits and info, from the template count on.
void AppendRecordBody(std::vector<std::uint8_t>& out, std::uint32_t id, std::uint8_t templates,
                      std::size_t info_size) {
  ByteSequence sequence(id);
  out.push_back(templates);
  for (std::size_t i = 0; i < kTemplateSize * templates; ++i) out.push_back(sequence.Next());
  const auto code_length = static_cast<std::uint8_t>(kMinCodeLength + id % 7);
  out.push_back(code_length);
  for (std::uint8_t i = 0; i < code_length; ++i) out.push_back(static_cast<std::uint8_t>('0' + sequence.Next() % 10));
  for (std::size_t i = 0; i < info_size; ++i) out.push_back(sequence.Next());
}

std::uint32_t Pick(std::span<const std::uint32_t> ids, std::size_t index) {
  return ids.empty() ? static_cast<std::uint32_t>(index + 1) : ids[index % ids.size()];
}

// Time of record i of `count`: evenly spread over the days before `now`'s date.
class Spread {
 public:
  Spread(std::size_t count, const DateTime& now) : count_(count) {
    using namespace std::chrono;
    const sys_seconds midnight = floor<days>(ToSysSeconds(now));
    end_ = midnight;
    start_ = midnight - days(kGeneratedLogDays);
  }
  std::array<std::uint8_t, 6> At(std::size_t index) const {
    const auto span = (end_ - start_).count();
    const auto offset = static_cast<long long>(index) * span / static_cast<long long>(count_);
    return ToBytes(FromSysSeconds(start_ + std::chrono::seconds(offset)));
  }

 private:
  std::size_t count_;
  std::chrono::sys_seconds start_;
  std::chrono::sys_seconds end_;
};

}  // namespace

std::vector<std::uint8_t> GeneratedUserRecord(std::uint32_t id) {
  std::vector<std::uint8_t> record;
  AppendU32(record, id);
  AppendRecordBody(record, id, 2, kUserInfoSize);
  return record;
}

std::vector<std::uint8_t> GeneratedAdminRecord(std::uint32_t id) {
  std::vector<std::uint8_t> record;
  AppendU32(record, id);
  record.push_back(static_cast<std::uint8_t>(id % 3));
  AppendRecordBody(record, id, 1, kAdminInfoSize);
  return record;
}

std::vector<LogRecord> GeneratedIoRecords(std::size_t count, std::span<const std::uint32_t> users,
                                          const DateTime& now) {
  std::vector<LogRecord> records(count);
  const Spread spread(count, now);
  const std::size_t user_count = users.empty() ? count : users.size();
  for (std::size_t i = 0; i < count; ++i) {
    LogRecord& record = records[i];
    const auto time = spread.At(i);
    std::copy(time.begin(), time.end(), record.begin() + kRecordTimeOffset);
    StoreU32(record, kRecordOwnerOffset, Pick(users, i));
    record[kIoVerificationOffset] = static_cast<std::uint8_t>(i % 3);
    record[kIoStateOffset] = static_cast<std::uint8_t>((i / user_count) % 2);
    StoreU32(record, kIoWorkCodeOffset, static_cast<std::uint32_t>(i % 4));
  }
  return records;
}

std::vector<LogRecord> GeneratedAdminLogRecords(std::size_t count,
                                                std::span<const std::uint32_t> admins,
                                                std::span<const std::uint32_t> users,
                                                const DateTime& now) {
  std::vector<LogRecord> records(count);
  const Spread spread(count, now);
  for (std::size_t i = 0; i < count; ++i) {
    LogRecord& record = records[i];
    const auto time = spread.At(i);
    std::copy(time.begin(), time.end(), record.begin() + kRecordTimeOffset);
    StoreU32(record, kRecordOwnerOffset, Pick(admins, i));
    record[kAdminOperationOffset] = static_cast<std::uint8_t>(i % 8);
    StoreU32(record, kAdminTargetOffset, Pick(users, i));
  }
  return records;
}

}  // namespace pq640sim
