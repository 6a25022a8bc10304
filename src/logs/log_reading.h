// Reading log records out of a response: the terminal's count, then fixed
// 16-byte records into the caller's array, with progress reports.
#pragma once

#include <cstdint>
#include <optional>

#include "port/port_state.h"

namespace pq640 {

inline constexpr std::uint32_t kLogRecordSize = 16;
inline constexpr std::uint32_t kRecordQuerySize = 18;
inline constexpr std::uint32_t kDateTimeSize = 6;

static_assert(sizeof(PQ640_IORecord) == kLogRecordSize);
static_assert(sizeof(PQ640_AdminRecord) == kLogRecordSize);
static_assert(sizeof(PQ640_RecordQuery) == kRecordQuerySize);
static_assert(sizeof(PQ640_DateTime) == kDateTimeSize);

// From the record count to the response trailer. *count becomes 0 when the
// count arrives and grows with every record whose time stamp is valid; an
// invalid one ends the read with -104, left in the array after the valid ones.
// With a capacity, a count above it is -105: *count is that count, nothing
// else is read or written.
ResultCode ReceiveIORecords(std::uint32_t* count, PQ640_IORecord* records,
                            PQ640_ProgressCallback callback, std::optional<std::uint32_t> capacity);

// A count-only answer: the count, then the trailer.
ResultCode ReceiveRecordCount(std::uint32_t* count);

}  // namespace pq640
