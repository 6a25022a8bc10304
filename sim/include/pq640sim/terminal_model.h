// What the terminal stores and how it carries out each command.
//
// Thread-safe: the service thread runs Handle() while tests read snapshots or
// seed state through the setters.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "pq640sim/command_table.h"
#include "pq640sim/date_time.h"
#include "pq640sim/enrolment_store.h"
#include "pq640sim/event_log.h"
#include "pq640sim/log_layout.h"
#include "pq640sim/reply.h"
#include "pq640sim/result_bytes.h"
#include "pq640sim/system_data.h"
#include "pq640sim/terminal_clock.h"

namespace pq640sim {

// Communication and behaviour settings. A fresh terminal answers as ID 0 (the
// host library's own default, so a first program works without setting one)
// on line-setting word 2 (9600 baud code), communication mode 0 and matching
// value 5, with the default settings block.
struct TerminalSettings {
  std::uint16_t terminal_id = 0;
  std::uint16_t comm_state = 2;
  std::uint8_t comm_mode = 0;
  std::uint8_t matching_value = 5;
  SystemData system_data = DefaultSystemData();
};

// How many records the terminal's memory holds; beyond them an add is refused
// (kResultTableFull, kResultLogFull).
struct StoreCapacities {
  std::size_t users = 3000;
  std::size_t administrators = 100;
  std::size_t io_records = 200000;
  std::size_t admin_records = 10000;
};

// Records to generate at start (generated_records.h), capped at the capacities.
struct GeneratedRecordCounts {
  std::size_t users = 0;           // IDs 1..n
  std::size_t administrators = 0;  // IDs 1..n
  std::size_t io_records = 0;      // over the users held, before the clock's date
  std::size_t admin_records = 0;   // over the administrators and users held
};

// Everything the enrolment and log commands store, in the form seen on the
// wire: records by ID as received, log records in time order.
struct StoredRecords {
  RecordTable users;           // by user ID
  RecordTable administrators;  // by administrator ID
  std::vector<LogRecord> io_records;
  std::vector<LogRecord> admin_records;
};

struct ModelSnapshot {
  TerminalSettings settings;
  std::chrono::seconds clock_offset{0};  // terminal time minus host time (UTC)
  DateTime terminal_time;
  std::uint32_t erase_count = 0;  // successful DeleteAllDataRom commands
  StoredRecords stored;
};

class TerminalModel {
 public:
  explicit TerminalModel(TerminalSettings initial = {}, TerminalClock clock = TerminalClock(),
                         StoreCapacities capacities = {});

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
  // Replaces all four stores as given (no capacity or record checks); the logs
  // are put in time order, records of equal time keeping their given order.
  void SetStoredRecords(StoredRecords records);
  // Replaces the stores with generated records (generated_records.h).
  void Generate(const GeneratedRecordCounts& counts);
  // Applies to later adds; records already held stay.
  void SetCapacities(const StoreCapacities& capacities);
  StoreCapacities Capacities() const;
  // While on, the clock reads month 13 (an invalid value) to GetDateTime.
  void SetClockFault(bool on);
  // While set, IO record answers carry month 13 in the record at this index.
  void SetInvalidIoRecordAt(std::optional<std::size_t> index);
  // While set, reading answers announce this many more entries than held.
  void SetCountSurplus(std::optional<std::uint32_t> surplus);

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
  Reply Dispatch(Command command, std::span<const std::uint8_t> payload);
  void AddSurplus(Command command, std::span<const std::uint8_t> payload, Reply& reply) const;
  Reply Enrolment(Command command, std::span<const std::uint8_t> payload);
  Reply Logs(Command command, std::span<const std::uint8_t> payload);

  mutable std::mutex mutex_;
  TerminalSettings settings_;
  TerminalClock clock_;
  EnrolmentStore enrolment_;
  EventLog io_log_;
  EventLog admin_log_;
  std::uint32_t erase_count_ = 0;
  bool clock_fault_ = false;
  std::optional<std::size_t> invalid_io_record_at_;
  std::optional<std::uint32_t> count_surplus_;
};

}  // namespace pq640sim
