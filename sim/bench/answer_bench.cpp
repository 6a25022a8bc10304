// pq640-sim-bench: how long the terminal model takes to build its largest
// answers. Target: each well under a second; exits 1 when one takes longer.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "pq640sim/terminal_model.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr auto kTarget = std::chrono::milliseconds(1000);

bool Measure(const char* what, pq640sim::TerminalModel& model, std::uint8_t command,
             const Bytes& payload) {
  const auto start = std::chrono::steady_clock::now();
  const pq640sim::Reply reply = model.Handle(command, payload);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
  std::printf("%-44s %9zu bytes %9.3f ms%s\n", what, reply.payload.size(), us / 1000.0,
              reply.result == pq640sim::kResultOk ? "" : "  (refused)");
  return reply.result == pq640sim::kResultOk && elapsed < kTarget;
}

Bytes Query(std::uint8_t kind, Bytes from = Bytes(6, 0), Bytes to = Bytes(6, 0)) {
  Bytes query{kind};
  query.insert(query.end(), from.begin(), from.end());
  query.insert(query.end(), to.begin(), to.end());
  query.resize(18, 0);
  return query;
}

// All 3000 users, whole of 2025.
Bytes ThousandUsersQuery() {
  Bytes payload{0xE8, 0x03, 0x00, 0x00};
  for (std::uint32_t id = 1; id <= 1000; ++id) {
    for (int i = 0; i < 4; ++i) payload.push_back(static_cast<std::uint8_t>(id >> (8 * i)));
  }
  payload.push_back(0xFF);
  payload.insert(payload.end(), {25, 1, 1, 0, 0, 0, 25, 12, 31, 23, 59, 59});
  return payload;
}

}  // namespace

int main() {
  pq640sim::TerminalModel model;
  model.SetClock(pq640sim::DateTime{25, 6, 15, 12, 0, 0});
  model.Generate({.users = 3000, .administrators = 100, .io_records = 100000, .admin_records = 10000});

  bool ok = true;
  ok &= Measure("GetAllUserData, 3000 two-template users", model, 20, {2});
  ok &= Measure("GetIORecord, all 100000 records", model, 72, Query(0));
  ok &= Measure("GetIORecord, one day of 100000", model, 72,
                Query(1, {25, 6, 1, 0, 0, 0}, {25, 6, 1, 23, 59, 59}));
  ok &= Measure("GetUsersIORecord, 1000 users of 3000", model, 76, ThousandUsersQuery());
  ok &= Measure("GetAdminRecord, all 10000 records", model, 64, Query(0));
  return ok ? 0 : 1;
}
