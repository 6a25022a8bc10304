// The collector's conversation with one terminal, through the library's
// public functions only. The library holds one link per process, so a worker
// opens one terminal, runs its commands, and closes it before the next.
#pragma once

#include <pq640/pq640.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "config_file.h"
#include "record_layout.h"

namespace pq640collect {

// A library call that failed: its name and the result code, in words.
class LinkError : public std::runtime_error {
 public:
  LinkError(const std::string& call, PQ640_ResultCode code);
  PQ640_ResultCode code() const { return code_; }

 private:
  PQ640_ResultCode code_;
};

// A read that announced more records than the collector reads at once, or
// kept announcing more than it had just announced.
class ReadRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A read's array is resized to the announced count and the read asked again
// at most this often; a terminal that keeps growing its answer fails the cycle.
inline constexpr int kReadResizes = 3;

class TerminalLink {
 public:
  // Sets the address first (a TCP link never reaches the library's
  // built-in placeholder), then the link and the ID, and opens the port.
  // No read allocates room for more than `read_ceiling` records.
  TerminalLink(const TerminalConfig& terminal, std::uint32_t read_ceiling);
  ~TerminalLink();  // closes the port
  TerminalLink(const TerminalLink&) = delete;
  TerminalLink& operator=(const TerminalLink&) = delete;

  PQ640_DateTime ReadClock();
  void SetClock(const PQ640_DateTime& time);
  std::uint32_t Count(LogKind log, const PQ640_RecordQuery& query);
  // The records of the query's range, read with a capacity-checked call: the
  // array starts at `expected` plus room and follows the terminal's announced
  // count (never past the ceiling), so no answer can outgrow it.
  std::vector<RawRecord> Read(LogKind log, const PQ640_RecordQuery& query, std::uint64_t expected);
  void Delete(LogKind log, const PQ640_RecordQuery& query);
  std::uint32_t read_ceiling() const { return read_ceiling_; }

 private:
  const TerminalConfig& terminal_;
  std::uint32_t read_ceiling_;
};

// The first capacity a read tries for `expected` records: room for punches
// added between a count and the read, within the ceiling. 64-bit throughout.
std::uint32_t ReadCapacity(std::uint64_t expected, std::uint32_t ceiling);

}  // namespace pq640collect
