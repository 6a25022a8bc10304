// The log commands on one EventLog: count, read, add and delete by query,
// and the IO records of a list of users.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "pq640sim/event_log.h"
#include "pq640sim/reply.h"

namespace pq640sim {

// Payloads as the command table delimits them. `invalid_at` plants month 13
// in the record at that index of the answer (IO logs, for fault tests).
Reply CountLogRecords(const EventLog& log, std::span<const std::uint8_t> query);
Reply GetLogRecords(const EventLog& log, std::span<const std::uint8_t> query,
                    std::optional<std::size_t> invalid_at = std::nullopt);
Reply DeleteLogRecords(EventLog& log, std::span<const std::uint8_t> query);
Reply AddLogRecord(EventLog& log, std::span<const std::uint8_t> record);

// Count, IDs, selector, from, to (GetUsersIORecord and its Num form).
Reply CountUsersIoRecords(const EventLog& log, std::span<const std::uint8_t> payload);
Reply GetUsersIoRecords(const EventLog& log, std::span<const std::uint8_t> payload,
                        std::optional<std::size_t> invalid_at = std::nullopt);

}  // namespace pq640sim
