// Request and response frames: preamble, start byte, terminal ID, command or
// result byte, payload and XOR checksum trailer; plus the command transaction
// built from them.
#pragma once

#include <cstdint>

#include "port/port_state.h"
#include "protocol/command_table.h"

namespace pq640 {

inline constexpr char kPreamble[] = "QQAVRENPROTOCOL";
inline constexpr std::uint32_t kPreambleLength = sizeof kPreamble - 1;
inline constexpr std::uint8_t kStartByte = 0x7F;
// A terminal that keeps sending other bytes cannot hold the start-byte search.
inline constexpr std::uint32_t kMaxDiscardedBeforeStart = 65536;

// Whether a payload follows the response header.
enum class ResponsePayload : bool { kNone, kFollows };

ResultCode SetReadTimeout(std::uint32_t timeout_ms);
ResultCode BeginRequest(std::uint8_t command);
// Sends the request trailer and reads the response up to its result byte.
// Returns the result byte or a failure code. Without a payload to follow, the
// response trailer is read and checked here too.
ResultCode ReadResponseHeader(ResponsePayload payload);
ResultCode VerifyChecksum();
// The rest of the answer is not wanted (it would not fit the caller's array):
// a TCP connection is dropped at once; serial input is discarded, as before
// every request.
void AbandonAnswer();

// Read time-out and request header of `command`: the start of every transaction.
ResultCode StartRequest(const CommandInfo& command);

// A whole transaction with a request payload and no response payload.
ResultCode Transact(const CommandInfo& command, const std::uint8_t* request,
                    std::uint32_t request_size);

// A whole transaction whose response payload is `response_size` bytes.
ResultCode TransactReading(const CommandInfo& command, const std::uint8_t* request,
                           std::uint32_t request_size, std::uint8_t* response,
                           std::uint32_t response_size);

}  // namespace pq640
