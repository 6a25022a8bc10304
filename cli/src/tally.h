// What a command that changes several records did, kind by kind: how many
// were done, how many the terminal refused (counted per result byte: the
// bytes are the terminal's own, so no meaning is made up for them) and how
// many were skipped (not tried after the link failed, or already there).
// Every such command ends with one summary line per kind.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "record_json.h"

namespace pq640admin {

struct Tally {
  Tally(std::string kind_name, std::string verb) : kind(std::move(kind_name)), done_verb(std::move(verb)) {}

  std::string kind;       // "users"
  std::string done_verb;  // "enrolled"
  std::uint64_t done = 0;
  std::uint64_t skipped = 0;
  std::string skipped_reason;  // "already on the terminal"; default: not tried
  std::map<unsigned, std::uint64_t> refused;  // result byte -> how many

  std::uint64_t Refused() const;
  // Counts one refusal; says which record on stderr for the first few.
  void Refuse(const std::string& record, unsigned result_byte);
  // "users: 10 enrolled, 40 refused (result byte 8: 40), 0 skipped"
  std::string Line() const;
  Json ToJson() const;
};

// The summary lines (or with --json one object) on stdout; returns 1 when
// anything was refused or `status` is already a failure, else 0.
int Summarise(const std::vector<const Tally*>& tallies, int status);

}  // namespace pq640admin
