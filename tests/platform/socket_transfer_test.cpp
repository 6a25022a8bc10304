// Moving bytes over real loopback connections: bounded sends and receives,
// signals in the middle of their waits, a peer that has gone.
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "loopback_sockets.h"

using namespace loopback;

TEST(SocketTransfer, RoundTripOverLoopback) {
  StartedLayer layer;
  ASSERT_TRUE(layer.started());
  Listener listener;
  ASSERT_NE(listener.port, 0);
  const os::Socket socket = os::SocketCreate();
  ASSERT_NE(socket, os::kInvalidSocket);
  os::SocketSetReceiveBufferSize(socket, 1024);
  ASSERT_TRUE(ConnectLoopback(socket, listener.port));
  ASSERT_TRUE(os::SocketSetBlocking(socket, true));
  const int peer = listener.Accept(3000);
  ASSERT_GE(peer, 0);

  // Slices go out in order, an empty one skipped.
  const std::uint8_t request[] = {0x7F, 0x01, 0x00, 0x08};
  const os::SendSlice slices[] = {{request, 1}, {request + 1, 0}, {request + 1, 3}};
  EXPECT_EQ(os::SocketSend(socket, slices, 3, 1000), 4);
  std::uint8_t seen[8] = {};
  pollfd entry{peer, POLLIN, 0};
  ASSERT_EQ(poll(&entry, 1, 3000), 1);
  ASSERT_EQ(recv(peer, seen, sizeof seen, 0), 4);
  EXPECT_EQ(std::memcmp(seen, request, 4), 0);

  // Nothing sent yet: the waits run out, each after its own time.
  timespec start = Now();
  EXPECT_EQ(os::SocketWaitReadable(socket, 300), os::WaitResult::kTimedOut);
  EXPECT_GE(ElapsedMs(start), 280u);
  EXPECT_LE(ElapsedMs(start), 3000u);
  std::uint8_t received[16] = {};
  for (const std::uint32_t wait_ms : {300u, 100u, 300u}) {
    start = Now();
    EXPECT_EQ(os::SocketReceive(socket, received, sizeof received, wait_ms), os::kReceiveTimedOut);
    EXPECT_GE(ElapsedMs(start), wait_ms - 20) << "wait " << wait_ms;
    EXPECT_LE(ElapsedMs(start), wait_ms + 2000) << "wait " << wait_ms;
  }

  const std::uint8_t response[] = {0x7F, 0x01, 0x00, 0x00, 0x42, 0x99};
  ASSERT_EQ(send(peer, response, sizeof response, 0), 6);
  EXPECT_EQ(os::SocketWaitReadable(socket, 3000), os::WaitResult::kReady);
  std::int32_t total = 0;
  for (int i = 0; i < 10 && total < 6; ++i) {
    const std::int32_t n = os::SocketReceive(socket, received + total, 16 - total, 3000);
    ASSERT_GT(n, 0);
    total += n;
  }
  ASSERT_EQ(total, 6);
  EXPECT_EQ(std::memcmp(received, response, 6), 0);

  // The peer closes: the wait reports ready and the receive reports 0.
  close(peer);
  EXPECT_EQ(os::SocketWaitReadable(socket, 3000), os::WaitResult::kReady);
  EXPECT_EQ(os::SocketReceive(socket, received, sizeof received, 3000), 0);
  os::SocketClose(socket);
}

namespace {

void IgnoreAlarm(int) {}

// SIGALRM every 40 ms, its handler installed without SA_RESTART so that every
// blocking call it meets is interrupted; restored when the case ends. Helper
// threads are started with the signal blocked, so it lands in the test's own.
class AlarmStorm {
 public:
  AlarmStorm() {
    struct sigaction action {};
    action.sa_handler = &IgnoreAlarm;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, &previous_);
    const itimerval every{{0, 40000}, {0, 40000}};
    setitimer(ITIMER_REAL, &every, nullptr);
  }
  ~AlarmStorm() {
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous_, nullptr);
  }
  AlarmStorm(const AlarmStorm&) = delete;
  AlarmStorm& operator=(const AlarmStorm&) = delete;

 private:
  struct sigaction previous_ {};
};

// A thread that never takes SIGALRM: it inherits a mask with it blocked.
template <typename Body>
std::thread QuietThread(Body body) {
  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &alarm, &previous);
  std::thread thread(std::move(body));
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return thread;
}

// Ends a wait the seam failed to bound: after 10 s it shuts the socket down,
// which wakes any send or receive on it, so a regression fails the case
// instead of hanging it.
class Watchdog {
 public:
  explicit Watchdog(os::Socket socket)
      : thread_(QuietThread([this, socket] {
          for (int i = 0; i < 1000 && !done_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
          if (!done_) os::SocketShutdown(socket);
        })) {}
  ~Watchdog() {
    done_ = true;
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

struct Connection {
  os::Socket socket = os::kInvalidSocket;
  int peer = -1;
};

Connection ConnectToListener(const Listener& listener) {
  Connection c;
  c.socket = os::SocketCreate();
  if (c.socket == os::kInvalidSocket || !ConnectLoopback(c.socket, listener.port) ||
      !os::SocketSetBlocking(c.socket, true)) {
    return c;
  }
  c.peer = listener.Accept(3000);
  return c;
}

}  // namespace

// Signals neither end a receive's wait early nor stretch it, and bytes that
// arrive in the middle of it are taken.
TEST(SocketTransfer, ReceiveWaitsThroughSignals) {
  StartedLayer layer;
  ASSERT_TRUE(layer.started());
  Listener listener;
  ASSERT_NE(listener.port, 0);
  const Connection c = ConnectToListener(listener);
  ASSERT_GE(c.peer, 0);
  std::uint8_t received[8] = {};
  {
    const AlarmStorm storm;
    const Watchdog watchdog(c.socket);
    timespec start = Now();
    EXPECT_EQ(os::SocketReceive(c.socket, received, sizeof received, 400), os::kReceiveTimedOut);
    EXPECT_GE(ElapsedMs(start), 380u);
    EXPECT_LE(ElapsedMs(start), 3000u);

    std::thread late = QuietThread([peer = c.peer] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      const std::uint8_t byte = 0x5A;
      (void)send(peer, &byte, 1, 0);
    });
    start = Now();
    EXPECT_EQ(os::SocketReceive(c.socket, received, sizeof received, 3000), 1);
    EXPECT_EQ(received[0], 0x5A);
    EXPECT_LE(ElapsedMs(start), 2900u);
    late.join();
  }
  close(c.peer);
  os::SocketClose(c.socket);
}

// A peer that never reads: signals every 40 ms must not restart the wait for
// room, or a host's interval timer would hold the send for ever.
TEST(SocketTransfer, SendWaitsThroughSignals) {
  StartedLayer layer;
  ASSERT_TRUE(layer.started());
  Listener listener;
  ASSERT_NE(listener.port, 0);
  const Connection c = ConnectToListener(listener);
  ASSERT_GE(c.peer, 0);
  std::vector<std::uint8_t> bytes(32u << 20, 0x33);
  const os::SendSlice all{bytes.data(), static_cast<std::uint32_t>(bytes.size())};
  std::int64_t sent = 0;
  std::uint64_t waited_ms = 0;
  {
    const AlarmStorm storm;
    const Watchdog watchdog(c.socket);
    const timespec start = Now();
    sent = os::SocketSend(c.socket, &all, 1, 400);
    waited_ms = ElapsedMs(start);
  }
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, static_cast<std::int64_t>(bytes.size()));
  EXPECT_GE(waited_ms, 380u);
  EXPECT_LE(waited_ms, 5000u) << "the watchdog ended it: signals restarted the wait";
  close(c.peer);
  os::SocketClose(c.socket);
}

namespace {

// Runs in a child process: keeps sending after the peer has gone. Exits 0 when
// a send reported -1, 1 when none did; SIGPIPE would kill it instead.
[[noreturn]] void SendUntilTheClosedPeerIsNoticed() {
  signal(SIGPIPE, SIG_DFL);  // the default action is fatal: nothing hides it
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  sigprocmask(SIG_UNBLOCK, &pipe_only, nullptr);

  StartedLayer layer;
  Listener listener;
  const os::Socket socket = os::SocketCreate();
  if (!layer.started() || listener.port == 0 || !ConnectLoopback(socket, listener.port) ||
      !os::SocketSetBlocking(socket, true)) {
    _exit(2);
  }
  const int peer = listener.Accept(3000);
  if (peer < 0) _exit(3);
  close(peer);

  std::uint8_t block[512] = {};
  const os::SendSlice whole{block, sizeof block};
  for (int i = 0; i < 100; ++i) {
    if (os::SocketSend(socket, &whole, 1, 1000) == -1) _exit(0);
    os::SleepMs(10);
  }
  _exit(1);
}

}  // namespace

TEST(SocketTransfer, SendingToAClosedPeerFailsWithoutSigpipe) {
  EXPECT_EXIT(SendUntilTheClosedPeerIsNoticed(), ::testing::ExitedWithCode(0), "");
}
// A peer that stops reading holds a send only for the wait; a peer that
// reads gets every byte of many slices, in order, however the kernel splits
// the sends.
TEST(SocketTransfer, SendsAreWholeOrBoundedByTheWait) {
  StartedLayer layer;
  ASSERT_TRUE(layer.started());
  Listener listener;
  ASSERT_NE(listener.port, 0);
  const os::Socket socket = os::SocketCreate();
  ASSERT_NE(socket, os::kInvalidSocket);
  os::SocketSetNoDelay(socket);
  ASSERT_TRUE(ConnectLoopback(socket, listener.port));
  ASSERT_TRUE(os::SocketSetBlocking(socket, true));
  const int peer = listener.Accept(3000);
  ASSERT_GE(peer, 0);

  // More than the kernel buffers on both ends can hold (a few MB on loopback).
  std::vector<std::uint8_t> bytes(32u << 20);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  const std::uint8_t* big = bytes.data();
  const os::SendSlice all{big, static_cast<std::uint32_t>(bytes.size())};
  const timespec start = Now();
  const std::int64_t sent = os::SocketSend(socket, &all, 1, 300);
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, static_cast<std::int64_t>(bytes.size()));  // nobody reads 32 MB
  EXPECT_GE(ElapsedMs(start), 280u);
  EXPECT_LE(ElapsedMs(start), 5000u);
  os::SocketClose(socket);
  close(peer);

  // Now a reader: 300 slices of odd sizes arrive whole and in order.
  const os::Socket second = os::SocketCreate();
  ASSERT_TRUE(ConnectLoopback(second, listener.port));
  ASSERT_TRUE(os::SocketSetBlocking(second, true));
  const int reader = listener.Accept(3000);
  ASSERT_GE(reader, 0);
  std::vector<os::SendSlice> slices;
  std::size_t total = 0;
  for (std::uint32_t i = 0; i < 300; ++i) {
    const std::uint32_t size = 1 + (i * 37) % 1500;
    slices.push_back({big + total, size});
    total += size;
  }
  std::vector<std::uint8_t> received;
  std::thread drain([&] {
    std::uint8_t chunk[4096];
    while (received.size() < total) {
      pollfd entry{reader, POLLIN, 0};
      if (poll(&entry, 1, 3000) != 1) return;
      const ssize_t n = recv(reader, chunk, sizeof chunk, 0);
      if (n <= 0) return;
      received.insert(received.end(), chunk, chunk + n);
    }
  });
  EXPECT_EQ(os::SocketSend(second, slices.data(), static_cast<std::uint32_t>(slices.size()), 3000),
            static_cast<std::int64_t>(total));
  drain.join();
  ASSERT_EQ(received.size(), total);
  EXPECT_EQ(std::memcmp(received.data(), big, total), 0);
  os::SocketClose(second);
  close(reader);
}
