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

}  // namespace pq640sim
