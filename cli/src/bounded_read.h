// Reading a listing into an array the tool sizes itself. The terminal's count
// is a number from the network: the array is sized from it only up to a
// ceiling, the library is told the array's capacity (the Bounded reads), and
// when the terminal announces more than that (-105, punches arriving between
// the count and the read) the array is resized to the announced count and
// the read asked again, a bounded number of times.
#pragma once

#include <pq640/pq640.h>

#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "progress_bar.h"

namespace pq640admin {

// The most entries the tool allocates for, unless the user raises them
// (--max-log-records, --max-enrolments).
inline constexpr std::uint32_t kDefaultLogCeiling = 1'000'000;
inline constexpr std::uint32_t kDefaultEnrolmentCeiling = 100'000;
// Reads asked again after a -105 before the operation fails.
inline constexpr int kMaxRereads = 3;

struct ReadCeilings {
  std::uint32_t log_records = kDefaultLogCeiling;
  std::uint32_t enrolments = kDefaultEnrolmentCeiling;
};
void SetReadCeilings(const ReadCeilings& ceilings);
const ReadCeilings& CurrentReadCeilings();

// What a bounded read is about, for its messages.
struct ReadSubject {
  std::string what;            // "IO records"
  std::uint32_t ceiling;       // the ceiling that applies
  const char* ceiling_option;  // "--max-log-records"
};

// Why a count cannot be read into memory: above the ceiling. Empty when it can.
std::string CeilingProblem(const ReadSubject& subject, std::uint64_t count);

// The failure reports used below (defined in terminal_transfer.cpp).
int FailRead(const ReadSubject& subject, PQ640_ResultCode code);
int FailReadWith(const ReadSubject& subject, const std::string& why);

// read(capacity, &count, data, callback) is one Bounded call. `counted` is
// what the matching count call said. Fills `out` with exactly the entries
// read; returns an exit status, having printed any failure.
template <typename Entry>
int BoundedRead(const ReadSubject& subject, std::uint32_t counted, std::vector<Entry>& out,
                const std::function<PQ640_ResultCode(std::uint32_t, std::uint32_t*, Entry*,
                                                     PQ640_ProgressCallback)>& read) {
  std::uint64_t wanted = counted;
  for (int attempt = 0; attempt <= kMaxRereads; ++attempt) {
    if (const std::string problem = CeilingProblem(subject, wanted); !problem.empty()) {
      return FailReadWith(subject, problem);
    }
    const auto capacity = static_cast<std::uint32_t>(wanted);
    try {
      out.assign(capacity == 0 ? 1 : capacity, Entry{});  // data() is never null
    } catch (const std::bad_alloc&) {
      return FailReadWith(subject, "no memory for " + std::to_string(capacity) + " entries");
    }
    std::uint32_t count = 0;
    PQ640_ResultCode r;
    {
      ProgressScope progress("reading " + subject.what);
      r = read(capacity, &count, out.data(), progress.Callback());
    }
    if (r == PQ640_BUFFER_TOO_SMALL) {
      wanted = count;  // the announced count; checked against the ceiling above
      continue;
    }
    if (r != PQ640_OK) {
      out.clear();
      return FailRead(subject, r);
    }
    out.resize(count < capacity ? count : capacity);
    return 0;
  }
  out.clear();
  return FailReadWith(subject, "the terminal announced more entries than it counted " +
                                   std::to_string(kMaxRereads + 1) +
                                   " times in a row (last " + std::to_string(wanted) +
                                   "); try again when it is idle");
}

}  // namespace pq640admin
