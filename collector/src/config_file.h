// The collector's TOML config: where to store, and the terminals to collect.
// Every error names the file, the line and the key, so a fleet's config with
// forty terminals can be fixed without guessing.
#pragma once

#include <pq640/pq640.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pq640collect {

// A terminal whose query is not the documented layout: 18 bytes, with the
// range's two times written at these offsets.
struct QueryTemplate {
  std::array<std::uint8_t, 18> bytes{};
  std::size_t from_offset = 1;
  std::size_t to_offset = 7;
};

struct TerminalConfig {
  std::string name;
  std::optional<std::string> tcp_address;  // exactly one of these two is set
  std::optional<std::uint16_t> serial_port;
  std::uint16_t baud_code = 2;
  std::uint16_t terminal_id = 0;
  std::chrono::seconds every{300};
  std::optional<std::string> time_zone;
  std::optional<std::chrono::seconds> keep_on_terminal;
  bool set_clock = false;
  // Above this drift (terminal minus host) status flags the clock, and
  // set_clock corrects it.
  std::chrono::seconds max_drift{120};
  bool admin_log = true;
  std::optional<QueryTemplate> query_template;
  // Records stamped before this local time are never collected (nor pruned).
  std::optional<PQ640_DateTime> collect_from;
  // The name this terminal's records were stored under until now.
  std::optional<std::string> renamed_from;
  int line = 0;  // where its [[terminal]] table starts, for messages
};

struct CollectorConfig {
  std::string path;       // the config file, as given
  std::string store_url;  // "sqlite:/absolute/path" or a PostgreSQL URL
  // First retry after a failed cycle; doubled per failure up to retry_max.
  std::chrono::seconds retry{30};
  std::chrono::seconds retry_max{3600};
  // No read allocates room for more log records than this.
  std::uint32_t max_read_records = 1'000'000;
  std::vector<TerminalConfig> terminals;
};

class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "tcp:127.0.0.1" or "serial:3", as stored in the terminals table.
std::string TerminalLinkText(const TerminalConfig& terminal);

// Throws ConfigError "FILE:LINE: KEY: what is wrong".
CollectorConfig LoadConfig(const std::string& path);
CollectorConfig ParseConfig(const std::string& text, const std::string& path);

}  // namespace pq640collect
