// Simulated terminals on 127.55.GROUP.n for the collector's tests, and the
// helpers that compare a database with the terminals' logs.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pq640sim/simulator.h"
#include "store.h"

namespace pq640collect::testing {

using Records = std::vector<RawRecord>;

class SimFleet {
 public:
  // Terminals 127.55.group.1 .. 127.55.group.count, their clocks at `clock`.
  SimFleet(int group, int count, const pq640sim::GeneratedRecordCounts& generated,
           const pq640sim::DateTime& clock = {26, 3, 15, 12, 0, 0});
  std::string Address(int index) const;
  pq640sim::Simulator& Terminal(int index) { return *terminals_.at(static_cast<std::size_t>(index)); }
  int size() const { return static_cast<int>(terminals_.size()); }

  Records Log(int index, LogKind log);
  // Appends records as the terminal would: after held records of the same second.
  void Add(int index, LogKind log, const Records& records);
  pq640sim::DateTime Clock(int index);
  void SetClock(int index, const pq640sim::DateTime& time);

 private:
  int group_;
  std::vector<std::unique_ptr<pq640sim::Simulator>> terminals_;
};

RawRecord IoRecord(const PQ640_DateTime& time, std::uint32_t user, std::uint8_t in_out = 0,
                   std::uint32_t work_code = 0);
PQ640_DateTime Shifted(const pq640sim::DateTime& time, std::int64_t seconds);

// Every record of one log in the database, per terminal name.
std::map<std::string, Records> DatabaseLogs(Store& store, LogKind log);
Records Sorted(Records records);

// A directory of its own under the test temp dir, removed at the end.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::string& path() const { return path_; }
  std::string Write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

// A config with one [[terminal]] per address; `extra` goes into each table.
std::string FleetConfig(const std::string& store_url, const std::vector<std::string>& addresses,
                        const std::string& extra = "");

}  // namespace pq640collect::testing
