#include "status_report.h"

#include <ctime>
#include <algorithm>
#include <cstdlib>
#include <iomanip>
#include <nlohmann/json.hpp>

namespace pq640collect {
namespace {

std::string HostTimeText(std::int64_t at) {
  const std::time_t time = static_cast<std::time_t>(at);
  std::tm tm{};
  localtime_r(&time, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const auto& part : parts) text += (text.empty() ? "" : ",") + part;
  return text.empty() ? "ok" : text;
}

}  // namespace

std::vector<std::string> Attention(const TerminalStatus& row, std::int64_t now) {
  std::vector<std::string> flags;
  if (row.failures > 0) flags.push_back("failing");
  const std::int64_t every = row.every_seconds.value_or(300);
  const std::optional<std::int64_t> due =
      row.failures > 0 ? row.next_due : row.last_success ? std::optional(*row.last_success + every) : std::nullopt;
  if (due && now > *due + std::max<std::int64_t>(60, every)) flags.push_back("overdue");
  if (row.clock_drift && row.max_drift_seconds && std::abs(*row.clock_drift) > *row.max_drift_seconds) {
    flags.push_back("drift");
  }
  if (row.clock_event) flags.push_back("clock");
  return flags;
}

bool AnyFailingOrOverdue(const std::vector<TerminalStatus>& rows, std::int64_t now) {
  for (const auto& row : rows) {
    for (const auto& flag : Attention(row, now)) {
      if (flag == "failing" || flag == "overdue") return true;
    }
  }
  return false;
}

void PrintStatusTable(const std::vector<TerminalStatus>& rows, std::int64_t now, std::ostream& out) {
  out << std::left << std::setw(16) << "TERMINAL" << std::setw(21) << "LAST SUCCESS" << std::right
      << std::setw(10) << "IO" << std::setw(8) << "ADMIN" << std::setw(9) << "LAG" << std::setw(8) << "DRIFT"
      << "  " << std::left << std::setw(14) << "ATTENTION" << "LAST ERROR\n";
  for (const TerminalStatus& row : rows) {
    out << std::left << std::setw(16) << row.name << std::setw(21)
        << (row.last_success ? HostTimeText(*row.last_success) : "never") << std::right << std::setw(10)
        << row.io_records << std::setw(8) << row.admin_records << std::setw(9)
        << (row.last_success ? std::to_string(now - *row.last_success) + " s" : "-") << std::setw(8)
        << (row.clock_drift ? std::to_string(*row.clock_drift) + " s" : "-") << "  " << std::left << std::setw(14)
        << Joined(Attention(row, now))
        << (row.last_error && row.failures > 0
                ? *row.last_error + " (" + std::to_string(row.failures) + " failures in a row)"
                : "-")
        << "\n";
    if (row.clock_event) out << "  " << row.name << ": " << *row.clock_event << "\n";
  }
}

void PrintStatusJson(const std::vector<TerminalStatus>& rows, std::int64_t now, std::ostream& out) {
  nlohmann::json list = nlohmann::json::array();
  for (const TerminalStatus& row : rows) {
    nlohmann::json entry{{"terminal", row.name},
                         {"io_records", row.io_records},
                         {"admin_records", row.admin_records},
                         {"failures", row.failures}};
    entry["last_success"] = row.last_success ? nlohmann::json(HostTimeText(*row.last_success)) : nullptr;
    entry["lag_seconds"] = row.last_success ? nlohmann::json(now - *row.last_success) : nullptr;
    entry["clock_drift_seconds"] = row.clock_drift ? nlohmann::json(*row.clock_drift) : nullptr;
    entry["io_watermark"] = row.io_watermark ? nlohmann::json(*row.io_watermark) : nullptr;
    entry["last_error"] = row.last_error && row.failures > 0 ? nlohmann::json(*row.last_error) : nullptr;
    entry["attention"] = Attention(row, now);
    entry["late_records"] = row.late_records;
    entry["clock_event"] = row.clock_event ? nlohmann::json(*row.clock_event) : nullptr;
    list.push_back(std::move(entry));
  }
  out << list.dump(2) << "\n";
}

}  // namespace pq640collect
