// Turns the byte stream arriving at the terminal into request frames.
//
// Anything before the preamble is skipped (wake-up zeros, line noise, the
// unread rest of an aborted exchange). A preamble not followed by the start
// byte is not a frame; the search resumes one byte after it. Requests may
// arrive split at any byte boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pq640sim/command_table.h"

namespace pq640sim {

struct RequestFrame {
  enum class Kind {
    kRequest,           // complete, checksum correct
    kBadChecksum,       // complete, checksum wrong
    kUnknownCommand,    // header only: the command byte is not in the table
    kMalformedPayload,  // header only: the payload reader rejected the length fields
  };
  Kind kind = Kind::kRequest;
  std::uint16_t terminal_id = 0;
  std::uint8_t command = 0;
  std::vector<std::uint8_t> payload;
  // From the preamble to the checksum; for the header-only kinds, to the command byte.
  std::vector<std::uint8_t> raw;
};

class RequestParser {
 public:
  explicit RequestParser(CommandLookup lookup = &FindCommand);

  void Feed(std::span<const std::uint8_t> bytes);
  // The next frame found in the input, or nothing until more bytes arrive.
  // After a header-only frame the search continues after its command byte.
  std::optional<RequestFrame> Next();
  // Forgets all buffered input (the terminal drained the line).
  void Reset();
  std::size_t BufferedBytes() const { return buffer_.size(); }

 private:
  CommandLookup lookup_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace pq640sim
