// The two ways of making a scenario's exchange that the benchmark compares:
// the library through its public functions, and the raw socket yardstick.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "paired_runs.h"
#include "scenarios.h"
#include "wire_frames.h"

namespace pq640bench {

inline constexpr std::uint16_t kTerminalPort = PQ640_TCP_PORT;

// Points the library at `address` and reopens the port, so the timed call is
// the first after PQ640_OpenPort: it connects without the reconnect pause
// that a command on an open connection would wait. Times only the call.
Side LibrarySide(const std::string& address, const Scenario& scenario);

// RawExchange of the scenario's bytes; `buffer` receives the response.
Side RawSide(const std::string& address, const Scenario& scenario, Bytes& buffer);

// RawEncoderExchange of the bulk add's users, straight from `users`.
Side RawEncoderSide(const std::string& address, const Scenario& add_users,
                    const std::vector<PQ640_UserData>& users, Bytes& buffer);

}  // namespace pq640bench
