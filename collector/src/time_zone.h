// Terminal clocks show local time. With a configured zone the collector also
// stores UTC and compares the clock with the host's time in that zone. The
// C library's zone database is reached through TZ, which is process-wide: the
// collector runs one terminal at a time per process, so that is safe here.
#pragma once

#include <pq640/pq640.h>

#include <optional>
#include <string>

namespace pq640collect {

bool TimeZoneExists(const std::string& zone);

// The host's clock now as a wall-clock value in `zone`, or in the host's own
// zone when none is given.
PQ640_DateTime HostNow(const std::optional<std::string>& zone);

// Converts local wall-clock values of one zone to UTC. Remembers the offset of
// each local hour, so a log of 100,000 records costs a few hundred lookups.
class UtcConverter {
 public:
  explicit UtcConverter(std::string zone);
  ~UtcConverter();
  UtcConverter(const UtcConverter&) = delete;
  UtcConverter& operator=(const UtcConverter&) = delete;
  // An ambiguous hour (clocks going back) takes the earlier offset, i.e. the
  // one in force before the change.
  PQ640_DateTime ToUtc(const PQ640_DateTime& local);
  // True in the repeated hour when clocks go back: the local time names two
  // instants, and ToUtc chose the earlier.
  bool Ambiguous(const PQ640_DateTime& local);

 private:
  void Look(std::int64_t hour);
  std::string zone_;
  std::int64_t cached_hour_ = -1;
  std::int64_t cached_offset_ = 0;
  bool cached_ambiguous_ = false;
};

}  // namespace pq640collect
