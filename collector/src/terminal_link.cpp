#include "terminal_link.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace pq640collect {
namespace {

void Check(const char* call, PQ640_ResultCode code) {
  if (code != PQ640_OK) throw LinkError(call, code);
}

static_assert(sizeof(PQ640_IORecord) == sizeof(RawRecord) && sizeof(PQ640_AdminRecord) == sizeof(RawRecord));

// One capacity-checked read into an array of `capacity` records; the
// terminal's announced count comes back in `count` on -105.
template <typename Record>
PQ640_ResultCode ReadInto(LogKind log, const PQ640_RecordQuery& query, std::vector<Record>& buffer,
                          std::uint32_t& count) {
  const auto capacity = static_cast<std::uint32_t>(buffer.size());
  if constexpr (std::is_same_v<Record, PQ640_IORecord>) {
    (void)log;
    return PQ640_GetIORecordBounded(&query, capacity, &count, buffer.data(), nullptr);
  } else {
    return PQ640_GetAdminRecordBounded(&query, capacity, &count, buffer.data(), nullptr);
  }
}

template <typename Record>
std::vector<RawRecord> ReadResizing(const TerminalConfig& terminal, LogKind log, const PQ640_RecordQuery& query,
                                    std::uint32_t capacity, std::uint32_t ceiling) {
  const char* call = log == LogKind::kIo ? "PQ640_GetIORecordBounded" : "PQ640_GetAdminRecordBounded";
  for (int attempt = 0;; ++attempt) {
    std::vector<Record> buffer(capacity);
    std::uint32_t count = 0;
    const PQ640_ResultCode code = ReadInto(log, query, buffer, count);
    if (code == PQ640_BUFFER_TOO_SMALL) {
      if (count > ceiling) {
        throw ReadRefused("terminal \"" + terminal.name + "\" announced " + std::to_string(count) +
                          " records in one read, above the ceiling of " + std::to_string(ceiling) +
                          " (collector.max_read_records raises it)");
      }
      if (attempt == kReadResizes) {
        throw ReadRefused("terminal \"" + terminal.name + "\" announced more records than the previous answer on " +
                          std::to_string(kReadResizes + 1) + " reads in a row (last " + std::to_string(count) + ")");
      }
      capacity = count;
      continue;
    }
    if (code == PQ640_INVALID_ARGUMENT && log == LogKind::kIo) {
      throw std::runtime_error(std::string(call) + ": the terminal sent an IO record with an impossible time (index " +
                               std::to_string(count) + ")");
    }
    Check(call, code);
    std::vector<RawRecord> records(std::min<std::uint32_t>(count, capacity));
    if (!records.empty()) std::memcpy(records.data(), buffer.data(), records.size() * sizeof(RawRecord));
    return records;
  }
}

}  // namespace

LinkError::LinkError(const std::string& call, PQ640_ResultCode code)
    : std::runtime_error(call + ": " + std::to_string(code) + " (" + PQ640_ResultText(code) + ")"), code_(code) {}

std::uint32_t ReadCapacity(std::uint64_t expected, std::uint32_t ceiling) {
  // A busy terminal adds a few punches a second and the read follows the
  // count within a second or two: an eighth more, and at least 64, is plenty;
  // the announced count corrects a short guess at the cost of one more read.
  const std::uint64_t wanted = expected + std::max<std::uint64_t>(64, expected / 8);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, ceiling));
}

TerminalLink::TerminalLink(const TerminalConfig& terminal, std::uint32_t read_ceiling)
    : terminal_(terminal), read_ceiling_(read_ceiling) {
  if (terminal.tcp_address) {
    Check("PQ640_SetTerminalIPAddr", PQ640_SetTerminalIPAddr(terminal.tcp_address->c_str()));
    Check("PQ640_SetPortAndCommState", PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, terminal.baud_code));
  } else {
    Check("PQ640_SetPortAndCommState",
          PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, *terminal.serial_port, terminal.baud_code));
  }
  Check("PQ640_SetTerminalID", PQ640_SetTerminalID(terminal.terminal_id));
  Check("PQ640_OpenPort", PQ640_OpenPort());
  if (terminal.serial_port) PQ640_WakeUp();
}

TerminalLink::~TerminalLink() { PQ640_ClosePort(); }

PQ640_DateTime TerminalLink::ReadClock() {
  PQ640_DateTime time{};
  Check("PQ640_GetDateTime", PQ640_GetDateTime(&time));
  return time;
}

void TerminalLink::SetClock(const PQ640_DateTime& time) { Check("PQ640_SetDateTime", PQ640_SetDateTime(&time)); }

std::uint32_t TerminalLink::Count(LogKind log, const PQ640_RecordQuery& query) {
  std::uint32_t count = 0;
  if (log == LogKind::kIo) {
    Check("PQ640_GetIORecordNum", PQ640_GetIORecordNum(&query, &count));
  } else {
    Check("PQ640_GetAdminRecordNum", PQ640_GetAdminRecordNum(&query, &count));
  }
  return count;
}

std::vector<RawRecord> TerminalLink::Read(LogKind log, const PQ640_RecordQuery& query, std::uint64_t expected) {
  const std::uint32_t capacity = ReadCapacity(expected, read_ceiling_);
  if (log == LogKind::kIo) return ReadResizing<PQ640_IORecord>(terminal_, log, query, capacity, read_ceiling_);
  return ReadResizing<PQ640_AdminRecord>(terminal_, log, query, capacity, read_ceiling_);
}

void TerminalLink::Delete(LogKind log, const PQ640_RecordQuery& query) {
  if (log == LogKind::kIo) {
    Check("PQ640_DeleteIORecord", PQ640_DeleteIORecord(&query));
  } else {
    Check("PQ640_DeleteAdminRecord", PQ640_DeleteAdminRecord(&query));
  }
}

}  // namespace pq640collect
