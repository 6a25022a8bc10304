// What the terminal stores and how it carries out each command.
//
// Thread-safe: the service thread runs Handle() while tests read snapshots or
// seed state through the setters.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <vector>

#include "pq640sim/date_time.h"
#include "pq640sim/result_bytes.h"
#include "pq640sim/system_data.h"
#include "pq640sim/terminal_clock.h"

namespace pq640sim {

// Communication and behaviour settings. A fresh terminal answers as ID 1 on
// line-setting word 2 (9600 baud code), communication mode 0 and matching
// value 5, with the default settings block.
struct TerminalSettings {
  std::uint16_t terminal_id = 1;
  std::uint16_t comm_state = 2;
  std::uint8_t comm_mode = 0;
  std::uint8_t matching_value = 5;
  SystemData system_data = DefaultSystemData();
};

// Enrolment and log stores, filled by the enrolment and log commands; kept
// here so that erasing the terminal has everything to wipe.
struct StoredRecords {
  std::map<std::uint32_t, std::vector<std::uint8_t>> users;           // by user ID
  std::map<std::uint32_t, std::vector<std::uint8_t>> administrators;  // by administrator ID
  std::vector<std::array<std::uint8_t, 16>> io_records;
  std::vector<std::array<std::uint8_t, 16>> admin_records;
};

struct ModelSnapshot {
  TerminalSettings settings;
  std::chrono::seconds clock_offset{0};  // terminal time minus host time (UTC)
  DateTime terminal_time;
  std::uint32_t erase_count = 0;  // successful DeleteAllDataRom commands
  StoredRecords stored;
};

// The terminal's answer to one request before framing.
struct Reply {
  std::uint8_t result = kResultOk;
  std::vector<std::uint8_t> payload;  // sent only when result is kResultOk
};

class TerminalModel {
 public:
  explicit TerminalModel(TerminalSettings initial = {}, TerminalClock clock = TerminalClock());

  // Carries out a command from the table; codes outside it get
  // kResultUnknownCommand, a payload of the wrong length kResultMalformedRequest.
  Reply Handle(std::uint8_t command, std::span<const std::uint8_t> payload);

  std::uint16_t TerminalId() const;
  ModelSnapshot Snapshot() const;

  // Seeding for tests. These bypass the terminal's checks on purpose, so that
  // a test can make the terminal hold e.g. a settings block the host rejects.
  void SetTerminalId(std::uint16_t id);
  void SetSystemData(const SystemData& block);
  // False (and the clock unchanged) for an invalid value.
  bool SetClock(const DateTime& now);
  void SetStoredRecords(StoredRecords records);
  // While on, the clock reads month 13 (an invalid value) to GetDateTime.
  void SetClockFault(bool on);

 private:
  Reply UpdateCommState(std::span<const std::uint8_t> payload);
  Reply GetSystemData();
  Reply SetSystemDataCommand(std::span<const std::uint8_t> payload);
  Reply GetDateTime();
  Reply SetDateTime(std::span<const std::uint8_t> payload);
  Reply SetTermCommMode(std::span<const std::uint8_t> payload);
  Reply SetMatchingPerform(std::span<const std::uint8_t> payload);
  Reply ChangeTerminalId(std::span<const std::uint8_t> payload);
  Reply DeleteAllDataRom(std::span<const std::uint8_t> payload);

  mutable std::mutex mutex_;
  TerminalSettings settings_;
  TerminalClock clock_;
  StoredRecords stored_;
  std::uint32_t erase_count_ = 0;
  bool clock_fault_ = false;
};

}  // namespace pq640sim
