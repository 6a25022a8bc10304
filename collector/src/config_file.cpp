#include "config_file.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <toml++/toml.h>

#include "durations.h"
#include "record_layout.h"
#include "time_zone.h"

namespace pq640collect {
namespace {

// The form PQ640_SetTerminalIPAddr accepts: four decimal fields of one to
// three digits, 0..255, and neither 0.0.0.0 nor 255.255.255.255.
bool IsDottedQuad(const std::string& text) {
  int fields = 0;
  std::size_t at = 0;
  while (fields < 4) {
    std::size_t digits = 0;
    int value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
      value = value * 10 + (text[at++] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    ++fields;
    if (fields < 4) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
  }
  return at == text.size() && text != "0.0.0.0" && text != "255.255.255.255";
}

class ConfigReader {
 public:
  explicit ConfigReader(std::string path) : path_(std::move(path)) {}

  [[noreturn]] void Fail(const toml::source_region& where, const std::string& key,
                         const std::string& what) const {
    std::ostringstream message;
    message << path_ << ":" << where.begin.line << ": " << key << ": " << what;
    throw ConfigError(message.str());
  }

  // Unknown keys are typos more often than not; refuse them.
  void OnlyKeys(const toml::table& table, const std::string& prefix,
                const std::set<std::string>& known) const {
    for (const auto& [key, node] : table) {
      if (!known.contains(std::string(key.str()))) {
        Fail(node.source(), prefix + std::string(key.str()), "unknown key");
      }
    }
  }

  std::optional<std::string> String(const toml::table& table, const std::string& prefix,
                                    const char* key) const {
    const toml::node* node = table.get(key);
    if (node == nullptr) return std::nullopt;
    if (!node->is_string()) Fail(node->source(), prefix + key, "must be a string");
    return node->value<std::string>();
  }

  std::optional<std::int64_t> Integer(const toml::table& table, const std::string& prefix,
                                      const char* key, std::int64_t low, std::int64_t high) const {
    const toml::node* node = table.get(key);
    if (node == nullptr) return std::nullopt;
    const auto value = node->value_exact<std::int64_t>();
    if (!value || *value < low || *value > high) {
      Fail(node->source(), prefix + key,
           "must be an integer from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return value;
  }

  std::optional<bool> Boolean(const toml::table& table, const std::string& prefix,
                              const char* key) const {
    const toml::node* node = table.get(key);
    if (node == nullptr) return std::nullopt;
    if (!node->is_boolean()) Fail(node->source(), prefix + key, "must be true or false");
    return node->value<bool>();
  }

  std::optional<std::chrono::seconds> Duration(const toml::table& table, const std::string& prefix,
                                               const char* key, bool zero_allowed) const {
    const auto text = String(table, prefix, key);
    if (!text) return std::nullopt;
    const auto value = ParseDuration(*text);
    if (!value || (!zero_allowed && value->count() == 0)) {
      Fail(table.get(key)->source(), prefix + key,
           "must be a duration such as \"90s\", \"5m\", \"12h\" or \"30d\"" +
               std::string(zero_allowed ? "" : ", above zero"));
    }
    return value;
  }

  std::optional<PQ640_DateTime> Date(const toml::table& table, const std::string& prefix, const char* key) const {
    const auto text = String(table, prefix, key);
    if (!text) return std::nullopt;
    const auto value = ParseTimeText(*text);
    if (!value) Fail(table.get(key)->source(), prefix + key, "must be \"YYYY-MM-DD\" or \"YYYY-MM-DD hh:mm:ss\"");
    return value;
  }

  std::string StoreUrl(const toml::table& root) const {
    const toml::node* store_node = root.get("store");
    if (store_node == nullptr || !store_node->is_table()) {
      Fail(root.source(), "store", "a [store] table with url is required");
    }
    const toml::table& store = *store_node->as_table();
    OnlyKeys(store, "store.", {"url"});
    const auto url = String(store, "store.", "url");
    if (!url) Fail(store.source(), "store.url", "is required");
    if (url->rfind("postgresql://", 0) == 0 || url->rfind("postgres://", 0) == 0) return *url;
    if (url->rfind("sqlite:", 0) == 0 && url->size() > 7) {
      // A relative database path is relative to the config file, so that a
      // service and a person at a shell open the same database.
      std::filesystem::path file(url->substr(7));
      if (file.is_relative()) {
        file = std::filesystem::absolute(std::filesystem::path(path_).parent_path() / file);
      }
      return "sqlite:" + file.lexically_normal().string();
    }
    Fail(store.get("url")->source(), "store.url",
         "must be \"sqlite:FILE\" or \"postgresql://...\"");
  }

  QueryTemplate Query(const toml::table& table, const std::string& prefix) const {
    QueryTemplate query;
    const std::string hex = *String(table, prefix, "query_template");
    std::string digits;
    for (char c : hex) {
      if (c != ' ') digits += c;
    }
    if (digits.size() != 36 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      Fail(table.get("query_template")->source(), prefix + "query_template",
           "must be 18 bytes in hex (36 digits)");
    }
    for (std::size_t i = 0; i < 18; ++i) {
      query.bytes[i] = static_cast<std::uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
    }
    query.from_offset = static_cast<std::size_t>(
        Integer(table, prefix, "query_from_offset", 0, 12).value_or(1));
    query.to_offset = static_cast<std::size_t>(
        Integer(table, prefix, "query_to_offset", 0, 12).value_or(7));
    const auto overlap = query.from_offset > query.to_offset
                             ? query.from_offset - query.to_offset
                             : query.to_offset - query.from_offset;
    if (overlap < 6) {
      Fail(table.source(), prefix + "query_to_offset", "the two times must not overlap");
    }
    return query;
  }

  TerminalConfig Terminal(const toml::table& table, std::size_t index) const {
    // Messages name the terminal once its name is known.
    std::string prefix = "terminal[" + std::to_string(index) + "].";
    TerminalConfig terminal;
    terminal.line = static_cast<int>(table.source().begin.line);
    const auto name = String(table, prefix, "name");
    if (!name || name->empty()) Fail(table.source(), prefix + "name", "is required");
    terminal.name = *name;
    prefix = "terminal \"" + terminal.name + "\".";
    OnlyKeys(table, prefix,
             {"name", "tcp", "serial", "baud_code", "id", "every", "time_zone", "keep_on_terminal",
              "set_clock", "max_drift", "admin_log", "query_template", "query_from_offset",
              "query_to_offset", "collect_from", "renamed_from"});

    terminal.tcp_address = String(table, prefix, "tcp");
    if (const auto port = Integer(table, prefix, "serial", 1, 10)) {
      terminal.serial_port = static_cast<std::uint16_t>(*port);
    }
    // Never fall back to the library's built-in address: a terminal without
    // an explicit link is an error, not a guess.
    if (terminal.tcp_address.has_value() == terminal.serial_port.has_value()) {
      Fail(table.source(), prefix + "tcp",
           "give exactly one of tcp = \"ADDRESS\" or serial = PORT");
    }
    if (terminal.tcp_address && !IsDottedQuad(*terminal.tcp_address)) {
      Fail(table.get("tcp")->source(), prefix + "tcp",
           "must be an IPv4 address such as \"127.0.0.1\"");
    }
    terminal.baud_code = static_cast<std::uint16_t>(
        Integer(table, prefix, "baud_code", 0, 6).value_or(terminal.baud_code));
    terminal.terminal_id = static_cast<std::uint16_t>(Integer(table, prefix, "id", 0, 255).value_or(0));
    terminal.every = Duration(table, prefix, "every", false).value_or(terminal.every);
    terminal.time_zone = String(table, prefix, "time_zone");
    if (terminal.time_zone && !TimeZoneExists(*terminal.time_zone)) {
      Fail(table.get("time_zone")->source(), prefix + "time_zone",
           "unknown time zone \"" + *terminal.time_zone + "\"");
    }
    terminal.keep_on_terminal = Duration(table, prefix, "keep_on_terminal", true);
    terminal.set_clock = Boolean(table, prefix, "set_clock").value_or(false);
    terminal.max_drift = Duration(table, prefix, "max_drift", false).value_or(terminal.max_drift);
    terminal.admin_log = Boolean(table, prefix, "admin_log").value_or(true);
    terminal.collect_from = Date(table, prefix, "collect_from");
    terminal.renamed_from = String(table, prefix, "renamed_from");
    if (terminal.renamed_from && (terminal.renamed_from->empty() || *terminal.renamed_from == terminal.name)) {
      Fail(table.get("renamed_from")->source(), prefix + "renamed_from", "must be the terminal's former name");
    }
    if (table.contains("query_template")) {
      terminal.query_template = Query(table, prefix);
    } else if (table.contains("query_from_offset") || table.contains("query_to_offset")) {
      Fail(table.source(), prefix + "query_template", "the offsets need a query_template");
    }
    return terminal;
  }

  CollectorConfig Config(const toml::table& root) const {
    OnlyKeys(root, "", {"store", "collector", "terminal"});
    CollectorConfig config;
    config.path = path_;
    config.store_url = StoreUrl(root);
    std::optional<PQ640_DateTime> global_from;
    if (const toml::node* node = root.get("collector")) {
      if (!node->is_table()) Fail(node->source(), "collector", "must be a table");
      const toml::table& collector = *node->as_table();
      OnlyKeys(collector, "collector.", {"retry", "retry_max", "max_read_records", "collect_from"});
      config.max_read_records = static_cast<std::uint32_t>(
          Integer(collector, "collector.", "max_read_records", 1, 0xFFFFFFFFll).value_or(config.max_read_records));
      global_from = Date(collector, "collector.", "collect_from");
      config.retry = Duration(collector, "collector.", "retry", false).value_or(config.retry);
      config.retry_max =
          Duration(collector, "collector.", "retry_max", false).value_or(config.retry_max);
    }
    const toml::node* list = root.get("terminal");
    if (list == nullptr || !list->is_array_of_tables() || list->as_array()->empty()) {
      Fail(root.source(), "terminal", "at least one [[terminal]] table is required");
    }
    std::set<std::string> names;
    std::map<std::string, std::string> links;  // "tcp:ADDRESS#ID" -> name
    std::size_t index = 0;
    for (const toml::node& entry : *list->as_array()) {
      TerminalConfig terminal = Terminal(*entry.as_table(), index++);
      if (!names.insert(terminal.name).second) {
        Fail(entry.source(), "terminal \"" + terminal.name + "\".name", "the name is used twice");
      }
      // One terminal under two names would be collected twice over.
      const std::string link = TerminalLinkText(terminal) + "#" + std::to_string(terminal.terminal_id);
      if (const auto [at, fresh] = links.emplace(link, terminal.name); !fresh) {
        Fail(entry.source(), "terminal \"" + terminal.name + "\".tcp",
             "the same terminal (" + TerminalLinkText(terminal) + ", id " + std::to_string(terminal.terminal_id) +
                 ") is already configured as \"" + at->second + "\"");
      }
      if (!terminal.collect_from) terminal.collect_from = global_from;
      config.terminals.push_back(std::move(terminal));
    }
    return config;
  }

 private:
  std::string path_;
};

}  // namespace

std::string TerminalLinkText(const TerminalConfig& terminal) {
  return terminal.tcp_address ? "tcp:" + *terminal.tcp_address : "serial:" + std::to_string(*terminal.serial_port);
}

CollectorConfig ParseConfig(const std::string& text, const std::string& path) {
  toml::table root;
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error& error) {
    std::ostringstream message;
    message << path << ":" << error.source().begin.line << ": " << error.description();
    throw ConfigError(message.str());
  }
  return ConfigReader(path).Config(root);
}

CollectorConfig LoadConfig(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw ConfigError(path + ": cannot be read");
  std::ostringstream text;
  text << file.rdbuf();
  return ParseConfig(text.str(), path);
}

}  // namespace pq640collect
