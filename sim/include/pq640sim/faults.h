// Misbehaviour the simulated terminal can be told to show, for tests. A fault
// stays in force until it is replaced or cleared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace pq640sim {

struct Faults {
  // Sent before the response's start byte, exactly as given.
  std::vector<std::uint8_t> noise_before_start;
  // Frame the response with this terminal ID instead of the terminal's own.
  std::optional<std::uint16_t> answer_terminal_id;
  // Answer every request with this result byte and no payload (correct
  // checksum). The command is not carried out.
  std::optional<std::uint8_t> answer_result;
  // Send the checksum trailer inverted (XOR 0xFF), so it never matches.
  bool corrupt_checksum = false;
  // Wait this long after a request before answering it.
  std::uint32_t response_delay_ms = 0;
  // Send only the first k bytes of each response (noise included) and then
  // nothing more for that request; the connection stays open.
  std::optional<std::size_t> stall_after_bytes;
  // Send the first k bytes of each response, then close the TCP connection
  // (on the serial line: send nothing more). Wins over stall_after_bytes.
  std::optional<std::size_t> close_after_bytes;
  // TCP: stop listening, so connection attempts are refused (ECONNREFUSED).
  bool refuse_connections = false;
  // Send each byte of a response on its own, this long after the one before
  // (a terminal that babbles slowly). 0: the response goes out at once.
  std::uint32_t drip_interval_ms = 0;
  // GetDateTime reports month 13.
  bool invalid_clock = false;
  // Every GetIORecord and GetUsersIORecord answer with more than k records
  // sends the record at index k (0-based) with month 13; the count and the
  // other records are unchanged, and so is the stored log.
  std::optional<std::size_t> invalid_io_record_at;
  // Every reading answer (user and administrator listings in modes 1 and 2,
  // GetIORecord, GetAdminRecord, GetUsersIORecord) announces this many more
  // entries than the matching count gives, as if punches arrived between a
  // host's count and its read, and sends copies of its last entry after the
  // real ones (at most kMaxSurplusSent; the answer then ends short).
  std::optional<std::uint32_t> count_surplus;
};

}  // namespace pq640sim
