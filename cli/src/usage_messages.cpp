#include "usage_messages.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

namespace pq640admin {
namespace {

constexpr const char* kProgram = "pq640-admin: ";

// The value of a decimal or 0x hex number, or nothing (also on overflow).
std::optional<std::uint64_t> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Rewrites the text as plain decimal, so CLI11 cannot read "010" as octal.
std::string Normalise(std::string& text, std::optional<std::uint64_t>& value) {
  value = ParseNumber(text);
  if (!value) return "expected a whole number (decimal or 0x hex), got \"" + text + "\"";
  text = std::to_string(*value);
  return "";
}

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The deepest command the parse reached.
const CLI::App* DeepestCommand(const CLI::App& root) {
  const CLI::App* at = &root;
  for (;;) {
    const auto chosen = at->get_subcommands();
    if (chosen.empty()) return at;
    at = chosen.front();
  }
}

}  // namespace

CLI::Validator DecimalOrHex() {
  return CLI::Validator(
      [](std::string& text) {
        std::optional<std::uint64_t> value;
        return Normalise(text, value);
      },
      "");
}

CLI::Validator NumberIn(std::uint64_t low, std::uint64_t high, const std::string& what) {
  return CLI::Validator(
      [low, high, what](std::string& text) {
        const std::string original = text;
        std::optional<std::uint64_t> value;
        if (std::string problem = Normalise(text, value); !problem.empty()) {
          return what + " are " + std::to_string(low) + ".." + std::to_string(high) + "; " + problem;
        }
        if (*value < low || *value > high) {
          return what + " are " + std::to_string(low) + ".." + std::to_string(high) + ", got " + original;
        }
        return std::string();
      },
      "");
}

std::optional<std::uint16_t> ParseSerialPort(std::string_view text) {
  if (text.size() > 3 && (text.substr(0, 3) == "COM" || text.substr(0, 3) == "com")) text.remove_prefix(3);
  if (text.empty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      })) {
    return std::nullopt;
  }
  const int port = std::stoi(std::string(text));
  if (port < 1 || port > 10) return std::nullopt;
  return static_cast<std::uint16_t>(port);
}

std::optional<std::string> AddressProblem(std::string_view text) {
  in_addr parsed{};
  const std::string address(text);
  const bool dotted = std::count(address.begin(), address.end(), '.') == 3 &&
                      inet_pton(AF_INET, address.c_str(), &parsed) == 1;
  if (dotted) return std::nullopt;
  std::string why = "expected a dotted IPv4 address such as 127.0.0.1";
  if (address.find(':') != std::string::npos) {
    why += " without a port: the port is always 7413";
  } else {
    why += " (no host names; the port is always 7413)";
  }
  return "\"" + address + "\": " + why;
}

std::optional<std::string> NearestName(std::string_view typed, const std::vector<std::string>& names) {
  std::optional<std::string> best;
  std::size_t best_distance = 4;
  for (const std::string& name : names) {
    const std::size_t distance = EditDistance(typed, name);
    if (distance < best_distance) {
      best_distance = distance;
      best = name;
    }
  }
  return best;
}

std::string UsageMessage(const CLI::App& root, const CLI::Error& error) {
  const CLI::App* at = DeepestCommand(root);
  const auto commands = at->get_subcommands({});
  if (!commands.empty() && at->get_subcommands().empty()) {
    // A command was required here: the first word left over is what the
    // user typed instead.
    for (const std::string& word : root.remaining(true)) {
      if (word.empty() || word[0] == '-') continue;
      std::vector<std::string> names;
      for (const CLI::App* command : commands) names.push_back(command->get_name());
      const std::string where = at == &root ? "" : " of \"" + at->get_name() + "\"";
      std::string text = kProgram + std::string("unknown command \"") + word + "\"" + where;
      if (const auto nearest = NearestName(word, names)) text += "; did you mean \"" + *nearest + "\"?";
      std::string list;
      for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
      return text + "\n" + kProgram + "the commands" + where + " are: " + list + "\n";
    }
  }
  const bool names_the_rule = dynamic_cast<const CLI::ValidationError*>(&error) != nullptr;
  return kProgram + std::string(error.what()) + "\n" + (names_the_rule ? "" : kProgram + std::string("see --help\n"));
}

}  // namespace pq640admin
