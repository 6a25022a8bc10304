// The config: what it accepts, and that every refusal names file, line and key.
#include <gtest/gtest.h>

#include "config_file.h"
#include "durations.h"

namespace pq640collect {
namespace {

std::string ErrorOf(const std::string& text) {
  try {
    ParseConfig(text, "fleet.toml");
  } catch (const ConfigError& error) {
    return error.what();
  }
  return "(accepted)";
}

constexpr const char* kStore = "[store]\nurl = \"sqlite:/var/lib/att.db\"\n";

TEST(ConfigFile, ReadsTheIssueExampleWithItsDefaults) {
  const auto config = ParseConfig(std::string(kStore) +
                                      "[[terminal]]\nname = \"gate-1\"\ntcp = \"127.0.0.1\"\nid = 3\nevery = \"5m\"\n"
                                      "time_zone = \"Europe/Berlin\"\nkeep_on_terminal = \"30d\"\n"
                                      "[[terminal]]\nname = \"door\"\nserial = 3\nbaud_code = 4\n",
                                  "/etc/fleet.toml");
  ASSERT_EQ(config.terminals.size(), 2u);
  const auto& gate = config.terminals[0];
  EXPECT_EQ(*gate.tcp_address, "127.0.0.1");
  EXPECT_EQ(gate.terminal_id, 3);
  EXPECT_EQ(gate.every.count(), 300);
  EXPECT_EQ(gate.keep_on_terminal->count(), 30 * 86400);
  EXPECT_EQ(*gate.time_zone, "Europe/Berlin");
  EXPECT_TRUE(gate.admin_log);
  EXPECT_FALSE(gate.set_clock);
  const auto& door = config.terminals[1];
  EXPECT_FALSE(door.tcp_address.has_value());
  EXPECT_EQ(*door.serial_port, 3);
  EXPECT_EQ(door.baud_code, 4);
  EXPECT_FALSE(door.keep_on_terminal.has_value());
  EXPECT_EQ(config.store_url, "sqlite:/var/lib/att.db");
}

TEST(ConfigFile, RelativeDatabaseLivesBesideTheConfig) {
  const auto config = ParseConfig("[store]\nurl = \"sqlite:data/att.db\"\n[[terminal]]\nname = \"a\"\ntcp = \"127.0.0.1\"\n",
                                  "/etc/pq640/fleet.toml");
  EXPECT_EQ(config.store_url, "sqlite:/etc/pq640/data/att.db");
}

TEST(ConfigFile, RefusalsNameFileLineAndKey) {
  EXPECT_EQ(ErrorOf(std::string(kStore) + "[[terminal]]\nname = \"a\"\ntcp = \"127.0.0.1\"\nevery = \"5 min\"\n"),
            "fleet.toml:6: terminal \"a\".every: must be a duration such as \"90s\", \"5m\", \"12h\" or \"30d\", "
            "above zero");
  EXPECT_EQ(ErrorOf(std::string(kStore) + "[[terminal]]\nname = \"a\"\ntcp = \"127.0.0.1\"\nevry = \"5m\"\n"),
            "fleet.toml:6: terminal \"a\".evry: unknown key");
  EXPECT_EQ(ErrorOf(std::string(kStore) + "[[terminal]]\nname = \"a\"\ntcp = \"127.0.0.1\"\nid = 256\n"),
            "fleet.toml:6: terminal \"a\".id: must be an integer from 0 to 255");
  EXPECT_EQ(ErrorOf(std::string(kStore) + "[[terminal]]\nname = \"a\"\ntcp = \"127.0.0.1\"\n"
                                          "[[terminal]]\nname = \"a\"\ntcp = \"127.0.0.2\"\n"),
            "fleet.toml:6: terminal \"a\".name: the name is used twice");
  EXPECT_EQ(ErrorOf("[store]\nurl = \"mysql://x\"\n[[terminal]]\nname = \"a\"\ntcp = \"127.0.0.1\"\n"),
            "fleet.toml:2: store.url: must be \"sqlite:FILE\" or \"postgresql://...\"");
  EXPECT_EQ(ErrorOf(std::string(kStore) + "[[terminal]]\nname = \"a\"\ntcp = \"127.0.0.1\"\ntime_zone = \"Mars/Olympus\"\n"),
            "fleet.toml:6: terminal \"a\".time_zone: unknown time zone \"Mars/Olympus\"");
  // A TOML syntax error carries the parser's own line.
  EXPECT_EQ(ErrorOf(std::string(kStore) + "[[terminal]]\nname = \"a\nx").rfind("fleet.toml:4: ", 0), 0u);
}

TEST(ConfigFile, ATerminalNeedsAnExplicitLinkNeverTheLibraryDefault) {
  EXPECT_EQ(ErrorOf(std::string(kStore) + "[[terminal]]\nname = \"a\"\nid = 1\n"),
            "fleet.toml:3: terminal \"a\".tcp: give exactly one of tcp = \"ADDRESS\" or serial = PORT");
  EXPECT_EQ(ErrorOf(std::string(kStore) + "[[terminal]]\nname = \"a\"\ntcp = \"127.0.0.1\"\nserial = 1\n"),
            "fleet.toml:3: terminal \"a\".tcp: give exactly one of tcp = \"ADDRESS\" or serial = PORT");
  for (const char* bad : {"127.1", "localhost", "0.0.0.0", "127.0.0.256", " 127.0.0.1", "127.0.0.1.5"}) {
    EXPECT_NE(ErrorOf(std::string(kStore) + "[[terminal]]\nname = \"a\"\ntcp = \"" + bad + "\"\n")
                  .find("must be an IPv4 address"),
              std::string::npos)
        << bad;
  }
  EXPECT_EQ(ErrorOf(std::string(kStore)), "fleet.toml:1: terminal: at least one [[terminal]] table is required");
}

TEST(ConfigFile, QueryTemplateForATerminalWithItsOwnLayout) {
  const auto config = ParseConfig(std::string(kStore) +
                                      "[[terminal]]\nname = \"a\"\ntcp = \"127.0.0.1\"\n"
                                      "query_template = \"05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ff\"\n"
                                      "query_from_offset = 2\nquery_to_offset = 8\n",
                                  "fleet.toml");
  const auto& query = *config.terminals[0].query_template;
  EXPECT_EQ(query.bytes[0], 5);
  EXPECT_EQ(query.bytes[17], 0xff);
  EXPECT_EQ(query.from_offset, 2u);
  EXPECT_EQ(query.to_offset, 8u);
  EXPECT_NE(ErrorOf(std::string(kStore) + "[[terminal]]\nname = \"a\"\ntcp = \"127.0.0.1\"\n"
                                          "query_template = \"0500\"\n")
                .find("terminal \"a\".query_template: must be 18 bytes"),
            std::string::npos);
  EXPECT_NE(ErrorOf(std::string(kStore) + "[[terminal]]\nname = \"a\"\ntcp = \"127.0.0.1\"\n"
                                          "query_template = \"000000000000000000000000000000000000\"\n"
                                          "query_from_offset = 1\nquery_to_offset = 4\n")
                .find("the two times must not overlap"),
            std::string::npos);
}

TEST(Durations, WholeNumberAndUnitOnly) {
  EXPECT_EQ(ParseDuration("90s")->count(), 90);
  EXPECT_EQ(ParseDuration("5m")->count(), 300);
  EXPECT_EQ(ParseDuration("12h")->count(), 43200);
  EXPECT_EQ(ParseDuration("30d")->count(), 2592000);
  EXPECT_EQ(ParseDuration("0s")->count(), 0);
  for (const char* bad : {"", "5", "m", "-5m", "5 m", "1.5h", "5w", "99999d"}) {
    EXPECT_FALSE(ParseDuration(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace pq640collect
