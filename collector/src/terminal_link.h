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

class TerminalLink {
 public:
  // Sets the address first (a TCP link never reaches the library's
  // built-in placeholder), then the link and the ID, and opens the port.
  explicit TerminalLink(const TerminalConfig& terminal);
  ~TerminalLink();  // closes the port
  TerminalLink(const TerminalLink&) = delete;
  TerminalLink& operator=(const TerminalLink&) = delete;

  PQ640_DateTime ReadClock();
  void SetClock(const PQ640_DateTime& time);
  std::uint32_t Count(LogKind log, const PQ640_RecordQuery& query);
  // The read carries no capacity: the array is sized from `counted` with
  // room to spare for records added in between (see terminal_link.cpp).
  std::vector<RawRecord> Read(LogKind log, const PQ640_RecordQuery& query, std::uint32_t counted);
  void Delete(LogKind log, const PQ640_RecordQuery& query);

 private:
  const TerminalConfig& terminal_;
};

// Room left beyond the counted records in a read.
std::uint32_t ReadCapacity(std::uint32_t counted);

}  // namespace pq640collect
