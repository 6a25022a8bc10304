// The commands the benchmark times: for each, the exact request a correct
// client sends, the response the replay server answers with, the library call
// that makes the exchange, and a check of what the call wrote.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pq640/pq640.h"
#include "replay_server.h"
#include "scenario_data.h"

namespace pq640bench {

enum class Target {
  kPerCommand,  // the library's whole call under a millisecond on loopback
  kRawReader,   // within 5 % of a raw reader of the same response
  kRawSender,   // within 5 % of a raw sender of the same request
};

inline constexpr const char* kCheckLinkName = "CheckLink, first command after OpenPort";
inline constexpr const char* kAddUsersName = "AddUsersData, 1000 users";
// The request of the bulk add up to its record count: preamble, start byte,
// terminal ID, command and count.
inline constexpr std::size_t kAddUsersHeadBytes = 23;

struct Scenario {
  std::string name;
  Target target = Target::kRawReader;
  bool bulk_read = false;  // also run end to end against the simulator
  Exchange exchange;
  std::function<void()> reset_output;  // so a stale buffer cannot pass the check
  std::function<PQ640_ResultCode()> call;
  std::function<bool(std::string* error)> check_output;
};

// Where the library calls write; sized for the largest answer.
struct Outputs {
  std::uint32_t count = 0;
  std::vector<PQ640_UserData> users;
  std::vector<PQ640_IORecord> io_records;
  std::vector<std::uint8_t> results;
};

// The scenarios refer to `data` and `outputs`, which must outlive them.
std::vector<Scenario> MakeScenarios(const DataSet& data, Outputs& outputs);

}  // namespace pq640bench
