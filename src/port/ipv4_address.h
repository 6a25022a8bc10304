// The terminal's address: strictly four dotted decimal fields, parsed by the
// library itself so that every platform reads an address the same way.
#pragma once

#include <cstdint>

namespace pq640 {

// The longest text that can be an address: "255.255.255.255".
inline constexpr std::uint32_t kMaxAddressLength = 15;

// Exactly four decimal fields of one to three digits, each 0 to 255, joined
// by single dots, and nothing else. Leading zeros are decimal: terminals show
// zero-padded addresses ("192.168.001.010" is .1.10, never octal). The
// unspecified 0.0.0.0 and the broadcast 255.255.255.255 name no terminal.
// On success `address` holds the address in network byte order.
bool ParseTerminalAddress(const char* text, std::uint32_t* address);

}  // namespace pq640
