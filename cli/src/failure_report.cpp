#include "failure_report.h"

#include <iostream>

#include "progress_bar.h"

namespace pq640admin {
namespace {

constexpr const char* kProgram = "pq640-admin: ";
LinkOptions g_link;

}  // namespace

std::string ReportedLinkText() {
  const std::string id = "terminal ID " + std::to_string(g_link.terminal_id);
  if (g_link.tcp_address) return *g_link.tcp_address + ":" + std::to_string(PQ640_TCP_PORT) + ", " + id;
  return "COM" + std::to_string(g_link.serial_port.value_or(0)) + ", " + id;
}

namespace {

// What the user can do about a code, where the code alone does not say.
std::string Hint(PQ640_ResultCode code) {
  const bool tcp = g_link.tcp_address.has_value();
  if ((tcp && code == PQ640_TCP_FAILED) || (!tcp && code == PQ640_READ_FAILED)) {
    return "no answer from " + ReportedLinkText() + ": check the address and the terminal ID (--id)";
  }
  if (tcp && code == PQ640_READ_FAILED) {
    return "could not talk to " + ReportedLinkText() + ": check the address and that the terminal is on";
  }
  if (code == PQ640_WRONG_TERMINAL) return "check the terminal ID (--id)";
  if (code == PQ640_OPEN_FAILED) return "check that the serial port exists and is not in use";
  return "";
}

}  // namespace

void SetReportedLink(const LinkOptions& link) { g_link = link; }

int Fail(const std::string& what, PQ640_ResultCode code) {
  ClearProgressLine();
  std::cerr << kProgram << what << " failed: " << code << " (" << PQ640_ResultText(code) << ")\n";
  if (const std::string hint = Hint(code); !hint.empty()) std::cerr << kProgram << hint << "\n";
  return kExitFailed;
}

int Refuse(const std::string& message) {
  ClearProgressLine();
  std::cerr << kProgram << message << "\n";
  return kExitUsage;
}

int FailWith(const std::string& message) {
  ClearProgressLine();
  std::cerr << kProgram << message << "\n";
  return kExitFailed;
}

void Note(const std::string& message) {
  ClearProgressLine();
  std::cerr << kProgram << message << "\n";
}

std::string BrokenRuleText(const PQ640_SystemData& block) {
  const PQ640_SystemDataRule* rule = PQ640_BrokenSystemDataRule(&block);
  if (rule == nullptr) return "";
  const std::uint32_t value = PQ640_SystemDataField(&block, rule->offset, rule->width);
  const std::uint32_t high = PQ640_SystemDataRuleHigh(&block, rule);
  std::string text = "offset " + std::to_string(rule->offset) + " (" +
                     std::to_string(rule->width) + "-byte field) holds " + std::to_string(value) +
                     ", but must be ";
  if (value < rule->low) return text + "at least " + std::to_string(rule->low);
  text += "at most " + std::to_string(high);
  if (rule->limit_offset != PQ640_NO_LIMIT_FIELD) {
    text += ", the value at offset " + std::to_string(rule->limit_offset);
  }
  return text;
}

}  // namespace pq640admin
