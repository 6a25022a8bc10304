// User and administrator records as they travel on the wire, and the payload
// readers of the enrolment commands. Integers are little-endian.
//
// User record:                        Administrator record:
// | Bytes        | Field          |   | Bytes        | Field          |
// |--------------|----------------|   |--------------|----------------|
// | 4            | ID             |   | 4            | ID             |
// | 1            | template count |   | 1            | level (0..2)   |
// | 480 x count  | templates      |   | 1            | template count |
// | 1            | code length    |   | 480 x count  | templates      |
// | code length  | code           |   | 1            | code length    |
// | 10           | info           |   | code length  | code           |
//                                     | 9            | info           |
//
// The terminal holds at most 2 templates and 10 code bytes per record, so a
// larger count or length cannot start a record at all (the payload reader
// calls it malformed). A code length of 1 to 3 can be read but is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "pq640sim/command_table.h"

namespace pq640sim {

inline constexpr std::size_t kTemplateSize = 480;
inline constexpr std::uint8_t kMaxTemplates = 2;
inline constexpr std::uint8_t kMaxCodeLength = 10;
inline constexpr std::uint8_t kMinCodeLength = 4;  // when there is a code at all
inline constexpr std::size_t kUserInfoSize = 10;
inline constexpr std::size_t kAdminInfoSize = 9;
inline constexpr std::uint8_t kMaxAdminLevel = 2;
// Entries in one AddUsersData, DeleteUsersData, GetUsersData or
// GetUsersIORecord request.
inline constexpr std::uint32_t kMaxBatch = 1000;

// Listing modes of GetAllUserData and GetAllAdminData; any other mode gets
// the count alone.
inline constexpr std::uint8_t kListCount = 0;
inline constexpr std::uint8_t kListIds = 1;
inline constexpr std::uint8_t kListRecords = 2;

// One record at the start of `received`.
PayloadScan ScanUserRecord(std::span<const std::uint8_t> received);
PayloadScan ScanAdminRecord(std::span<const std::uint8_t> received);

// Count (1..1000), then that many user records.
PayloadScan ScanUserBatch(std::span<const std::uint8_t> received);
// Count (1..1000), then that many 4-byte IDs.
PayloadScan ScanIdList(std::span<const std::uint8_t> received);
// An ID list, then selector (1), from and to (6 each): GetUsersIORecord(Num).
PayloadScan ScanUsersLogQuery(std::span<const std::uint8_t> received);

// For a complete record (as the scanners found it): whether the terminal
// takes it. Refused: a code length of 1 to 3, an administrator level above 2.
bool IsAcceptableUserRecord(std::span<const std::uint8_t> record);
bool IsAcceptableAdminRecord(std::span<const std::uint8_t> record);

}  // namespace pq640sim
