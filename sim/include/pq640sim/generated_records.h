// Deterministic records for a terminal started with --users, --admins,
// --io-records or --admin-records. Every byte follows from the ID (records) or
// from the index, the ID lists and the clock (logs), so a test or a host
// developer can regenerate a record and compare a copy with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "pq640sim/date_time.h"
#include "pq640sim/log_layout.h"

namespace pq640sim {

// Wire form: two templates, a code of 4 + id % 7 digits, ten info bytes.
std::vector<std::uint8_t> GeneratedUserRecord(std::uint32_t id);
// Wire form: level id % 3, one template, a code of 4 + id % 7 digits, nine info bytes.
std::vector<std::uint8_t> GeneratedAdminRecord(std::uint32_t id);

// The days before `now`'s date over which generated log records are spread.
inline constexpr int kGeneratedLogDays = 30;

// `count` IO records in time order, evenly spread from midnight 30 days before
// `now`'s date up to that date's midnight. Record i belongs to users[i % size]
// (IDs 1..count when `users` is empty), verification method i % 3, in/out
// state alternating 0/1 per user, work code i % 4.
std::vector<LogRecord> GeneratedIoRecords(std::size_t count, std::span<const std::uint32_t> users,
                                          const DateTime& now);

// As above for the administrator log: administrator admins[i % size], operation
// i % 8, target user users[i % size] (IDs 1..count for an empty list).
std::vector<LogRecord> GeneratedAdminLogRecords(std::size_t count,
                                                std::span<const std::uint32_t> admins,
                                                std::span<const std::uint32_t> users,
                                                const DateTime& now);

}  // namespace pq640sim
