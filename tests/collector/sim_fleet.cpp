#include "sim_fleet.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace pq640collect::testing {

SimFleet::SimFleet(int group, int count, const pq640sim::GeneratedRecordCounts& generated,
                   const pq640sim::DateTime& clock)
    : group_(group) {
  for (int i = 0; i < count; ++i) {
    pq640sim::SimulatorOptions options;
    options.start_clock = clock;
    options.generated = generated;
    auto terminal = std::make_unique<pq640sim::Simulator>(options);
    if (!terminal->StartTcp(Address(i))) {
      throw std::runtime_error("simulator on " + Address(i) + ": " + terminal->LastError());
    }
    terminals_.push_back(std::move(terminal));
  }
}

std::string SimFleet::Address(int index) const {
  return "127.55." + std::to_string(group_) + "." + std::to_string(index + 1);
}

Records SimFleet::Log(int index, LogKind log) {
  const auto stored = Terminal(index).Snapshot().stored;
  const auto& records = log == LogKind::kIo ? stored.io_records : stored.admin_records;
  return Records(records.begin(), records.end());
}

void SimFleet::Add(int index, LogKind log, const Records& records) {
  auto stored = Terminal(index).Snapshot().stored;
  auto& target = log == LogKind::kIo ? stored.io_records : stored.admin_records;
  target.insert(target.end(), records.begin(), records.end());
  Terminal(index).Model().SetStoredRecords(std::move(stored));  // stable sort by time
}

pq640sim::DateTime SimFleet::Clock(int index) { return Terminal(index).Snapshot().terminal_time; }

void SimFleet::SetClock(int index, const pq640sim::DateTime& time) {
  if (!Terminal(index).Model().SetClock(time)) throw std::invalid_argument("invalid clock");
}

RawRecord IoRecord(const PQ640_DateTime& time, std::uint32_t user, std::uint8_t in_out, std::uint32_t work_code) {
  RawRecord raw{};
  std::memcpy(raw.data(), &time, 6);
  for (int i = 0; i < 4; ++i) {
    raw[6 + i] = static_cast<std::uint8_t>(user >> (8 * i));
    raw[12 + i] = static_cast<std::uint8_t>(work_code >> (8 * i));
  }
  raw[10] = 1;
  raw[11] = in_out;
  return raw;
}

PQ640_DateTime Shifted(const pq640sim::DateTime& time, std::int64_t seconds) {
  const PQ640_DateTime base{time.year, time.month, time.day, time.hour, time.minute, time.second};
  return FromWallSeconds(WallSeconds(base) + seconds);
}

std::map<std::string, Records> DatabaseLogs(Store& store, LogKind log) {
  std::map<std::string, Records> logs;
  store.Export(log, ExportFilter{},
               [&](const ExportRow& row) { logs[row.terminal].push_back(row.raw); });
  return logs;
}

Records Sorted(Records records) {
  std::sort(records.begin(), records.end());
  return records;
}

ScratchDirectory::ScratchDirectory() {
  std::string pattern = std::filesystem::temp_directory_path() / "pq640-collect-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDirectory::Write(const std::string& name, const std::string& text) const {
  const std::string file = path_ + "/" + name;
  std::ofstream(file) << text;
  return file;
}

std::string FleetConfig(const std::string& store_url, const std::vector<std::string>& addresses,
                        const std::string& extra) {
  std::string text = "[store]\nurl = \"" + store_url + "\"\n";
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    text += "[[terminal]]\nname = \"t" + std::to_string(i + 1) + "\"\ntcp = \"" + addresses[i] + "\"\n" + extra + "\n";
  }
  return text;
}

}  // namespace pq640collect::testing
