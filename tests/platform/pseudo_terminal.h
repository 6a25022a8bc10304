// Pseudo-terminals and the fixture of the serial seam's tests: the library
// opens the slave through a redirected COM name, the test plays the terminal
// on the master.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "platform/os_posix_testing.h"
#include "platform/posix/drain.h"

namespace serial_test {

namespace os = pq640::os;

inline std::uint64_t NowMs(clockid_t clock = CLOCK_MONOTONIC) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u;
}

inline os::SerialTimeouts ReadLimits(std::uint32_t interval, std::uint32_t per_byte, std::uint32_t constant) {
  os::SerialTimeouts limits;
  limits.read_interval_ms = interval;
  limits.read_total_per_byte_ms = per_byte;
  limits.read_total_constant_ms = constant;
  return limits;
}

// A pseudo-terminal pair. The test also holds the slave open itself, to look at
// its termios and input queue.
struct PseudoTerminal {
  int master = -1;
  int slave = -1;
  std::string slave_path;

  PseudoTerminal() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    const char* name = ptsname(master);
    if (name == nullptr) return;
    slave_path = name;
    slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~PseudoTerminal() {
    if (slave >= 0) close(slave);
    CloseMaster();
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool ok() const { return master >= 0 && slave >= 0; }
  void CloseMaster() {
    if (master >= 0) close(master);
    master = -1;
  }

  bool Send(const std::vector<std::uint8_t>& bytes) const {
    return write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Bytes waiting on the slave's input queue.
  int Queued() const {
    int count = -1;
    return ioctl(slave, FIONREAD, &count) == 0 ? count : -1;
  }

  // Waits (at most 3 s) until at least `count` bytes are queued on the slave.
  bool WaitQueued(int count) const {
    for (int i = 0; i < 300; ++i) {
      if (Queued() >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Reads what the library sent until `count` bytes came or 3 s passed.
  std::vector<std::uint8_t> Receive(std::size_t count) const {
    std::vector<std::uint8_t> bytes;
    const std::uint64_t give_up = NowMs() + 3000;
    while (bytes.size() < count && NowMs() < give_up) {
      pollfd entry{master, POLLIN, 0};
      if (poll(&entry, 1, 100) != 1) continue;
      std::uint8_t chunk[4096];
      const std::size_t want = count - bytes.size() < sizeof chunk ? count - bytes.size() : sizeof chunk;
      const ssize_t n = read(master, chunk, want);
      if (n <= 0) break;
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
  }
};

// A read or write that ignored its time-outs would wait forever on a silent
// line. After 4 s, longer than any bound here allows, the terminal sends and
// drains, so such a fault ends as a failed bound instead of a hang.
class Rescue {
 public:
  explicit Rescue(int master) : thread_([this, master] { Run(master); }) {}
  ~Rescue() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Rescue(const Rescue&) = delete;
  Rescue& operator=(const Rescue&) = delete;

 private:
  void Run(int master) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_for(lock, std::chrono::seconds(4), [this] { return cancelled_; })) return;
    lock.unlock();
    const std::uint8_t filler[512] = {};
    if (write(master, filler, sizeof filler) < 0) return;
    const std::uint64_t give_up = NowMs() + 5000;
    while (NowMs() < give_up) {
      {
        std::lock_guard<std::mutex> check(mutex_);
        if (cancelled_) return;
      }
      pollfd entry{master, POLLIN, 0};
      std::uint8_t sink[65536];
      if (poll(&entry, 1, 50) == 1 && read(master, sink, sizeof sink) <= 0) return;
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool cancelled_ = false;
  std::thread thread_;
};

inline constexpr unsigned kPort = 7;
inline constexpr const char* kPortName = "COM7";

class SerialPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    os::testing::SetSerialDevicePath(kPort, pty_.slave_path.c_str());
    rescue_.emplace(pty_.master);
  }
  void TearDown() override {
    rescue_.reset();
    if (handle_ != os::kInvalidSerialHandle) os::SerialClose(handle_);
    os::testing::SetSerialDevicePath(kPort, nullptr);
  }

  // Opens COM7 and puts the line into the mode the serial link uses.
  ::testing::AssertionResult OpenRaw() {
    handle_ = os::SerialOpen(kPortName);
    if (handle_ == os::kInvalidSerialHandle) return ::testing::AssertionFailure() << "open failed";
    if (!os::SerialSetLineSettings(handle_, os::LineSettings{})) {
      return ::testing::AssertionFailure() << "line settings refused";
    }
    return ::testing::AssertionSuccess();
  }

  struct TimedRead {
    std::uint32_t done = 99;  // a read that does not report its count shows up
    std::uint64_t elapsed_ms = 0;
  };

  // One read of `count` bytes, timed on the monotonic clock.
  TimedRead ReadTimed(std::uint8_t* buffer, std::uint32_t count) {
    TimedRead read;
    const std::uint64_t start = NowMs();
    EXPECT_TRUE(os::SerialRead(handle_, buffer, count, &read.done));
    read.elapsed_ms = NowMs() - start;
    return read;
  }

  PseudoTerminal pty_;
  std::optional<Rescue> rescue_;  // after pty_: stops before the master closes
  os::SerialHandle handle_ = os::kInvalidSerialHandle;
};

}  // namespace serial_test
