#include "tally.h"

#include <vector>

#include "command_groups.h"
#include "failure_report.h"

namespace pq640admin {
namespace {

// Refusals named one by one on stderr before they are only counted.
constexpr std::uint64_t kNamedRefusals = 5;

}  // namespace

std::uint64_t Tally::Refused() const {
  std::uint64_t total = 0;
  for (const auto& [byte, n] : refused) total += n;
  return total;
}

void Tally::Refuse(const std::string& record, unsigned result_byte) {
  const std::uint64_t before = Refused();
  ++refused[result_byte];
  if (before < kNamedRefusals) {
    Note(record + " was refused by the terminal: result byte " + std::to_string(result_byte));
  } else if (before == kNamedRefusals) {
    Note("more " + kind + " refused; the summary counts them");
  }
}

std::string Tally::Line() const {
  std::string text = kind + ": " + std::to_string(done) + " " + done_verb + ", " +
                     std::to_string(Refused()) + " refused";
  if (!refused.empty()) {
    std::string bytes;
    for (const auto& [byte, n] : refused) {
      bytes += (bytes.empty() ? "" : ", ") + std::string("result byte ") + std::to_string(byte) + ": " +
               std::to_string(n);
    }
    text += " (" + bytes + ")";
  }
  text += ", " + std::to_string(skipped) + " skipped";
  if (skipped > 0) text += " (" + (skipped_reason.empty() ? std::string("not tried") : skipped_reason) + ")";
  return text;
}

Json Tally::ToJson() const {
  Json bytes = Json::object();
  for (const auto& [byte, n] : refused) bytes[std::to_string(byte)] = n;
  return Json{{done_verb, done}, {"refused", Refused()}, {"refused_by_result_byte", bytes}, {"skipped", skipped}};
}

int Summarise(const std::vector<const Tally*>& tallies, int status) {
  std::string text;
  Json object = Json::object();
  for (const Tally* tally : tallies) {
    text += (text.empty() ? "" : "\n") + tally->Line();
    object[tally->kind] = tally->ToJson();
    if (tally->Refused() > 0 && status == 0) status = 1;
  }
  Say(text, object);
  return status;
}

}  // namespace pq640admin
