#include "simulator_terminal.h"

#include <cstring>

namespace pq640bench {

std::unique_ptr<pq640sim::Simulator> StartSimulator(const std::string& address, const DataSet& data,
                                                    std::string* error) {
  pq640sim::SimulatorOptions options;
  options.settings.terminal_id = kTerminalId;
  options.start_clock = pq640sim::DateTime{25, 6, 1, 12, 0, 0};
  auto simulator = std::make_unique<pq640sim::Simulator>(options);

  // The same records the replay server's answers carry, so both answers are
  // byte for byte the same.
  pq640sim::StoredRecords records;
  for (const PQ640_UserData& user : data.users) records.users[user.id] = UserWire(user);
  records.io_records.resize(data.io_records.size());
  for (std::size_t i = 0; i < data.io_records.size(); ++i) {
    std::memcpy(records.io_records[i].data(), &data.io_records[i], sizeof(PQ640_IORecord));
  }
  simulator->Model().SetStoredRecords(std::move(records));

  if (!simulator->StartTcp(address)) {
    *error = "simulator: " + simulator->LastError();
    return nullptr;
  }
  return simulator;
}

}  // namespace pq640bench
