#include "sides.h"


#include "allocation_counter.h"
#include "raw_client.h"
#include "stopwatch.h"

namespace pq640bench {

Side LibrarySide(const std::string& address, const Scenario& scenario) {
  return [address, &scenario](std::string* error) -> std::optional<Sample> {
    // Closing drops the last connection at once; the pause belongs to a
    // reconnect on an open port only.
    PQ640_ClosePort();
    if (PQ640_SetTerminalIPAddr(address.c_str()) != PQ640_OK || PQ640_OpenPort() != PQ640_OK) {
      *error = scenario.name + ": cannot open the port to " + address;
      return std::nullopt;
    }
    scenario.reset_output();
    Sample sample;
    PQ640_ResultCode code = PQ640_OK;
    {
      const CountedAllocations counted;
      const Stopwatch stopwatch;
      code = scenario.call();
      const Elapsed elapsed = stopwatch.Read();
      sample = {elapsed.wall_seconds, elapsed.cpu_seconds, counted.Count()};
    }
    PQ640_ClosePort();
    if (code != PQ640_OK) {
      *error = scenario.name + " via " + address + ": library returned " + std::to_string(code);
      return std::nullopt;
    }
    std::string why;
    if (!scenario.check_output(&why)) {
      *error = scenario.name + " via " + address + ": " + why;
      return std::nullopt;
    }
    return sample;
  };
}

Side RawSide(const std::string& address, const Scenario& scenario, Bytes& buffer) {
  return [address, &scenario, &buffer](std::string* error) -> std::optional<Sample> {
    buffer.assign(scenario.exchange.response.size(), 0);
    const std::optional<Elapsed> elapsed =
        RawExchange(address, kTerminalPort, scenario.exchange.request, buffer);
    if (!elapsed || buffer != scenario.exchange.response) {
      *error = scenario.name + ": raw exchange with " + address + " failed";
      return std::nullopt;
    }
    return Sample{elapsed->wall_seconds, elapsed->cpu_seconds, 0};
  };
}

Side RawEncoderSide(const std::string& address, const Scenario& add_users,
                    const std::vector<PQ640_UserData>& users, Bytes& buffer) {
  return [address, &add_users, &users, &buffer](std::string* error) -> std::optional<Sample> {
    buffer.assign(add_users.exchange.response.size(), 0);
    const std::span<const std::uint8_t> head(add_users.exchange.request.data(), kAddUsersHeadBytes);
    // Every user is full, so its wire form is the first bytes of its slot.
    const std::size_t record_bytes = UserWire(users.front()).size();
    const std::optional<Elapsed> elapsed =
        RawEncoderExchange(address, kTerminalPort, head, users.data(), users.size(), sizeof(PQ640_UserData),
                           record_bytes, buffer);
    if (!elapsed || buffer != add_users.exchange.response) {
      *error = add_users.name + ": raw encoder exchange with " + address + " failed";
      return std::nullopt;
    }
    return Sample{elapsed->wall_seconds, elapsed->cpu_seconds, 0};
  };
}

}  // namespace pq640bench
