// A soak over the pseudo-terminal (no reconnect pause): mixed commands while
// the simulator injects seeded random faults. Every command returns within its
// bound with a code that fault allows, descriptors and memory stay flat, and
// the link works afterwards. PQ640_SOAK_COMMANDS and PQ640_SOAK_SEED make it
// longer or different (scripts/soak).
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "pq640sim/generated_records.h"
#include "sim_fixture.h"

namespace pq640::integration {
namespace {

struct SoakCommand {
  const char* name;
  std::uint32_t read_timeout_ms;
  std::size_t answer_bytes;  // the whole response frame when nothing fails
  std::uint32_t largest_read;  // bytes: a serial read may wait 100 ms for each
  std::function<PQ640_ResultCode()> call;
};

constexpr std::size_t kDripNoise = 45;
constexpr std::uint32_t kDripIntervalMs = 100;
// Only short answers are dripped: a long one would take minutes to finish.
constexpr std::size_t kLongestDrippedAnswer = 20;

enum class FaultKind { kNone, kNoise, kWrongId, kBadTrailer, kStall, kSilence, kDrip, kCount };

const char* Name(FaultKind kind) {
  static const char* const kNames[] = {"none", "noise", "wrong ID", "bad trailer", "stall", "silence", "drip"};
  return kNames[static_cast<int>(kind)];
}

// What a command may return under each fault.
std::set<PQ640_ResultCode> Allowed(FaultKind kind) {
  switch (kind) {
    case FaultKind::kNone:
    case FaultKind::kNoise: return {PQ640_OK};
    case FaultKind::kWrongId: return {PQ640_WRONG_TERMINAL};
    case FaultKind::kBadTrailer: return {PQ640_BAD_CHECKSUM};
    case FaultKind::kStall: return {PQ640_READ_FAILED, PQ640_SHORT_READ};
    case FaultKind::kSilence: return {PQ640_READ_FAILED};
    // A drip behind noise: the start-byte search gives up once the read wait
    // has passed, or the start byte came just in time.
    default: return {PQ640_READ_FAILED, PQ640_OK};
  }
}

int OpenDescriptors() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++n;
    closedir(dir);
  }
  return n;
}

long ResidentKiB() {
  long pages_total = 0, pages_resident = 0;
  std::ifstream("/proc/self/statm") >> pages_total >> pages_resident;
  return pages_resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::strtoull(text, nullptr, 10) : fallback;
}

struct Storage {
  PQ640_DateTime clock{26, 12, 8, 9, 30, 0};
  PQ640_SystemData block{};
  PQ640_UserData user{};
  std::uint32_t count = 0;
  std::uint32_t ids[64] = {};
  PQ640_RecordQuery all{};
  PQ640_IORecord punch{{26, 12, 8, 9, 30, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 0, 0}};
  std::unique_ptr<PQ640_IORecord[]> records = std::make_unique<PQ640_IORecord[]>(8192);
};

std::vector<SoakCommand> Commands(Storage& s) {
  return {
      {"CheckLink", 2000, 5, 2, [] { return PQ640_CheckLink(); }},
      {"GetDateTime", 2000, 11, 6, [&s] { return PQ640_GetDateTime(&s.clock); }},
      {"GetSystemData", 2000, 261, 256, [&s] { return PQ640_GetSystemData(&s.block); }},
      {"GetUserData", 2000, 1000, 960, [&s] { s.user.id = 3; return PQ640_GetUserData(&s.user); }},
      {"GetAllUserData", 10000, 170, 4, [&s] { return PQ640_GetAllUserData(&s.count, s.ids, PQ640_LIST_IDS, nullptr); }},
      {"GetIORecordNum", 2000, 9, 4, [&s] { return PQ640_GetIORecordNum(&s.all, &s.count); }},
      {"GetIORecord", 2000, 3000, 16, [&s] { return PQ640_GetIORecord(&s.all, &s.count, s.records.get(), nullptr); }},
      {"AddIORecord", 3000, 5, 2, [&s] { return PQ640_AddIORecord(&s.punch); }},
  };
}

pq640sim::Faults FaultsFor(FaultKind kind, std::mt19937& random) {
  pq640sim::Faults faults;
  switch (kind) {
    case FaultKind::kNoise:
      faults.noise_before_start.assign(1 + random() % 40, 0);
      for (std::uint8_t& b : faults.noise_before_start) b = static_cast<std::uint8_t>(random() % 0x7F);
      break;
    case FaultKind::kWrongId: faults.answer_terminal_id = 1 + random() % 255; break;
    case FaultKind::kBadTrailer: faults.corrupt_checksum = true; break;
    case FaultKind::kStall: faults.stall_after_bytes = 1 + random() % 4; break;
    case FaultKind::kSilence: faults.stall_after_bytes = 0; break;
    case FaultKind::kDrip:
      faults.noise_before_start.assign(kDripNoise, 'x');
      faults.drip_interval_ms = kDripIntervalMs;
      break;
    default: break;
  }
  return faults;
}

// Faults that cost seconds (time-outs) come rarely, so a short soak stays short.
FaultKind PickFault(std::mt19937& random) {
  const unsigned roll = random() % 100;
  if (roll < 45) return FaultKind::kNone;
  if (roll < 65) return FaultKind::kNoise;
  if (roll < 77) return FaultKind::kWrongId;
  if (roll < 89) return FaultKind::kBadTrailer;
  if (roll < 94) return FaultKind::kStall;
  if (roll < 98) return FaultKind::kSilence;
  return FaultKind::kDrip;
}

TEST_F(SimulatorTest, SoakOverThePseudoTerminal) {
  const std::uint64_t total = EnvNumber("PQ640_SOAK_COMMANDS", 100);
  const std::uint64_t seed = EnvNumber("PQ640_SOAK_SEED", 640);
  pq640sim::StoredRecords stored;
  for (std::uint32_t id = 1; id <= 40; ++id) stored.users[id] = pq640sim::GeneratedUserRecord(id);
  const std::uint32_t users[3] = {1, 2, 3};
  stored.io_records = pq640sim::GeneratedIoRecords(200, users, pq640sim::DateTime{26, 12, 8, 12, 0, 0});
  sim_.Model().SetStoredRecords(stored);
  Connect(Link::kSerial);

  Storage storage;
  const std::vector<SoakCommand> commands = Commands(storage);
  std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
  std::map<std::string, int> codes_seen;
  std::map<std::string, int> faults_seen;
  long long longest_ms = 0;
  const int fds_before = OpenDescriptors();
  const long memory_before = ResidentKiB();

  for (std::uint64_t i = 0; i < total; ++i) {
    const SoakCommand& command = commands[random() % commands.size()];
    // The log must not outgrow the read's array.
    if (std::string(command.name) == "AddIORecord" && sim_.Snapshot().stored.io_records.size() > 4000) continue;
    FaultKind kind = PickFault(random);
    if (kind == FaultKind::kDrip && command.answer_bytes > kLongestDrippedAnswer) kind = FaultKind::kNoise;
    sim_.SetFaults(FaultsFor(kind, random));
    PQ640_ResultCode result = 0;
    const long long ms = ElapsedMs([&] { result = command.call(); });
    sim_.ClearFaults();
    ++faults_seen[Name(kind)];
    ++codes_seen[std::to_string(result)];
    longest_ms = std::max(longest_ms, ms);
    const std::set<PQ640_ResultCode> allowed = Allowed(kind);
    ASSERT_TRUE(allowed.count(result)) << "#" << i << " " << command.name << " under " << Name(kind)
                                       << " returned " << result;
    // Bound: a serial read that gets nothing waits its time-out plus 100 ms a
    // byte asked for; one after a partial answer, the 2 s gap. Plus slack.
    const std::uint32_t bound_ms = command.read_timeout_ms + 1000 + 100 * command.largest_read + 2000 + 3000;
    ASSERT_LT(ms, bound_ms) << "#" << i << " " << command.name << " under " << Name(kind);
    if (kind == FaultKind::kDrip) {
      // The terminal may still be dripping the rest; let it finish before the next request.
      const long long drip_ms = static_cast<long long>((kDripNoise + command.answer_bytes) * kDripIntervalMs);
      if (drip_ms > ms) std::this_thread::sleep_for(std::chrono::milliseconds(drip_ms - ms + 200));
    }
  }

  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
  const int fds_after = OpenDescriptors();
  const long memory_after = ResidentKiB();
  EXPECT_EQ(fds_after, fds_before);
  EXPECT_LT(memory_after - memory_before, 8 * 1024) << "KiB";

  std::cout << "soak: " << total << " commands, seed " << seed << ", longest call " << longest_ms
            << " ms, descriptors " << fds_before << " -> " << fds_after << ", resident " << memory_before
            << " -> " << memory_after << " KiB\n  faults:";
  for (const auto& [name, n] : faults_seen) std::cout << " " << name << " " << n << ";";
  std::cout << "\n  codes:";
  for (const auto& [code, n] : codes_seen) std::cout << " " << code << " x" << n << ";";
  std::cout << std::endl;
}

}  // namespace
}  // namespace pq640::integration
