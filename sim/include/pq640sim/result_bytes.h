// The result bytes the simulated terminal answers with: the one table of them.
//
// | Value | Name                      | Answered when                                                  |
// |-------|---------------------------|----------------------------------------------------------------|
// | 0x00  | kResultOk                 | the command was carried out                                    |
// | 0x01  | kResultUnknownCommand     | the command byte is not one the terminal knows; answered once  |
// |       |                           | the line has been idle (input drained) for the idle time       |
// | 0x02  | kResultValueOutOfRange    | ChangeTerminalID with an ID above 255, SetTermCommMode with a  |
// |       |                           | mode above 2                                                   |
// | 0x03  | kResultInvalidDateTime    | SetDateTime with an impossible date or time                    |
// | 0x04  | kResultSystemDataRejected | SetSystemData with a block that breaks an acceptance rule      |
// | 0x05  | kResultEraseNotConfirmed  | DeleteAllDataRom whose payload is not the word "Delete"        |
// | 0x06  | kResultMalformedRequest   | a variable-length payload whose length fields cannot be right; |
// |       |                           | answered after the input is drained, like an unknown command   |
// | 0x07  | kResultUnknownId          | GetUserData, DeleteUserData, GetAdminData, DeleteAdminData for |
// |       |                           | an ID the terminal does not hold; per ID in DeleteUsersData    |
// | 0x08  | kResultTableFull          | adding a new ID to a full user or administrator table (also    |
// |       |                           | per record in AddUsersData); replacing a held ID always works  |
// | 0x09  | kResultMalformedRecord    | a user or administrator record with a code length of 1 to 3,   |
// |       |                           | or an administrator level above 2 (also per record in          |
// |       |                           | AddUsersData)                                                  |
// | 0x0A  | kResultLogFull            | AddIORecord or AddAdminRecord to a full log                    |
// | 0x0B  | kResultUnknownQueryKind   | a record query whose kind byte is above 3                      |
//
// AddIORecord and AddAdminRecord with an impossible date or time answer 0x03:
// the logs are kept in time order, so a record needs a real time.
//
// Per-record results of AddUsersData are 0x00 for a record added and for one
// that replaced a held ID alike.
//
// Never answered at all (the terminal stays silent, as it must on a shared line):
// a request with a bad checksum (its address may be the corrupted part) and a
// request addressed to another terminal ID.
//
// The values stay clear of 242 and 243, which the host library also produces
// itself, so a test can tell the terminal's refusal from the library's.
#pragma once

#include <cstdint>

namespace pq640sim {

inline constexpr std::uint8_t kResultOk = 0x00;
inline constexpr std::uint8_t kResultUnknownCommand = 0x01;
inline constexpr std::uint8_t kResultValueOutOfRange = 0x02;
inline constexpr std::uint8_t kResultInvalidDateTime = 0x03;
inline constexpr std::uint8_t kResultSystemDataRejected = 0x04;
inline constexpr std::uint8_t kResultEraseNotConfirmed = 0x05;
inline constexpr std::uint8_t kResultMalformedRequest = 0x06;
inline constexpr std::uint8_t kResultUnknownId = 0x07;
inline constexpr std::uint8_t kResultTableFull = 0x08;
inline constexpr std::uint8_t kResultMalformedRecord = 0x09;
inline constexpr std::uint8_t kResultLogFull = 0x0A;
inline constexpr std::uint8_t kResultUnknownQueryKind = 0x0B;

}  // namespace pq640sim
