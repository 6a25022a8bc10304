#include "terminal_link.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <algorithm>

namespace pq640collect {
namespace {

// The capacity of the array handed to the running read. The library writes as
// many records as the terminal announces; if it announces more than the array
// holds, the progress callback sees that before the first record is stored,
// and the process ends on the spot: nothing is committed, nothing corrupted,
// and the next run reads again with a fresh count.
std::uint32_t g_read_capacity = 0;

void PQ640_CALL GuardCapacity(std::uint32_t total, std::uint32_t index) {
  if (index == 0 && total > g_read_capacity) {
    static const char message[] =
        "pq640-collect: the terminal announced more records than counted plus room to spare; "
        "stopping before the read overruns its array\n";
    [[maybe_unused]] const auto written = write(STDERR_FILENO, message, sizeof message - 1);
    _exit(70);
  }
}

void Check(const char* call, PQ640_ResultCode code) {
  if (code != PQ640_OK) throw LinkError(call, code);
}

}  // namespace

LinkError::LinkError(const std::string& call, PQ640_ResultCode code)
    : std::runtime_error(call + ": " + std::to_string(code) + " (" + PQ640_ResultText(code) + ")"), code_(code) {}

std::uint32_t ReadCapacity(std::uint32_t counted) {
  // A busy terminal adds a few punches a second; the read follows the count
  // within a second or two. An eighth more, and at least 1024, is plenty.
  return counted + std::max<std::uint32_t>(1024, counted / 8);
}

TerminalLink::TerminalLink(const TerminalConfig& terminal) : terminal_(terminal) {
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

std::vector<RawRecord> TerminalLink::Read(LogKind log, const PQ640_RecordQuery& query, std::uint32_t counted) {
  g_read_capacity = ReadCapacity(counted);
  std::vector<RawRecord> records(g_read_capacity);
  std::uint32_t count = 0;
  if (log == LogKind::kIo) {
    static_assert(sizeof(PQ640_IORecord) == sizeof(RawRecord));
    std::vector<PQ640_IORecord> buffer(g_read_capacity);
    const PQ640_ResultCode code = PQ640_GetIORecord(&query, &count, buffer.data(), GuardCapacity);
    if (code == PQ640_INVALID_ARGUMENT) {
      throw std::runtime_error("PQ640_GetIORecord: the terminal sent an IO record with an impossible time "
                               "(index " + std::to_string(count) + ")");
    }
    Check("PQ640_GetIORecord", code);
    std::memcpy(records.data(), buffer.data(), count * sizeof(RawRecord));
  } else {
    std::vector<PQ640_AdminRecord> buffer(g_read_capacity);
    Check("PQ640_GetAdminRecord", PQ640_GetAdminRecord(&query, &count, buffer.data(), GuardCapacity));
    std::memcpy(records.data(), buffer.data(), count * sizeof(RawRecord));
  }
  records.resize(count);
  return records;
}

void TerminalLink::Delete(LogKind log, const PQ640_RecordQuery& query) {
  if (log == LogKind::kIo) {
    Check("PQ640_DeleteIORecord", PQ640_DeleteIORecord(&query));
  } else {
    Check("PQ640_DeleteAdminRecord", PQ640_DeleteAdminRecord(&query));
  }
}

}  // namespace pq640collect
