// The socket layer against real loopback sockets. Every peer is on 127.0.0.1
// and is made by the test itself.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>
#include <string>

#include <gtest/gtest.h>

#include "platform/os.h"

namespace os = pq640::os;

namespace {

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

std::uint64_t ElapsedMs(const timespec& since) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>((now.tv_sec - since.tv_sec) * 1000 +
                                    (now.tv_nsec - since.tv_nsec) / 1'000'000);
}

timespec Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

// One start-up for the length of a test, balanced on the way out.
class StartedLayer {
 public:
  StartedLayer() {
    os::SocketLayerVersion granted;
    started_ = os::SocketLayerStartup({2, 2}, &granted);
  }
  ~StartedLayer() {
    if (started_) os::SocketLayerCleanup();
  }
  StartedLayer(const StartedLayer&) = delete;
  StartedLayer& operator=(const StartedLayer&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

// A listening socket on 127.0.0.1 at a port the kernel picks.
struct Listener {
  int fd = -1;
  std::uint16_t port = 0;
  explicit Listener(int backlog = 4) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = kLoopback;
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port = ntohs(address.sin_port);
  }
  ~Listener() {
    if (fd >= 0) close(fd);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // The next pending connection, or -1 after `ms`.
  int Accept(int ms) const {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, ms) != 1) return -1;
    return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  }
};

// A loopback port with nobody listening: bound once, then released.
std::uint16_t UnusedLoopbackPort() {
  Listener probe;
  return probe.port;
}

// Non-blocking connect as the TCP link does it, bounded at 3 s.
bool ConnectLoopback(os::Socket socket, std::uint16_t port) {
  if (!os::SocketSetBlocking(socket, false)) return false;
  switch (os::SocketConnect(socket, kLoopback, port)) {
    case os::ConnectResult::kConnected: return true;
    case os::ConnectResult::kInProgress:
      return os::SocketWaitConnected(socket, 3000) == os::WaitResult::kReady;
    case os::ConnectResult::kFailed: return false;
  }
  return false;
}

bool DescriptorOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

}  // namespace

TEST(SocketLayer, StartupsAreCountedAndCreationNeedsARunningLayer) {
  EXPECT_EQ(os::SocketCreate(), os::kInvalidSocket) << "created before any start-up";

  os::SocketLayerVersion granted;
  ASSERT_TRUE(os::SocketLayerStartup({2, 2}, &granted));
  ASSERT_TRUE(os::SocketLayerStartup({2, 2}, &granted));
  os::Socket first = os::SocketCreate();
  EXPECT_NE(first, os::kInvalidSocket);
  os::SocketClose(first);

  os::SocketLayerCleanup();  // one of two start-ups left
  os::Socket second = os::SocketCreate();
  EXPECT_NE(second, os::kInvalidSocket) << "one cleanup stopped a layer started twice";
  os::SocketClose(second);

  os::SocketLayerCleanup();  // balanced
  EXPECT_EQ(os::SocketCreate(), os::kInvalidSocket) << "created after the balancing cleanup";

  // Surplus cleanups must not drive the count below zero.
  os::SocketLayerCleanup();
  os::SocketLayerCleanup();
  ASSERT_TRUE(os::SocketLayerStartup({2, 2}, &granted));
  os::Socket third = os::SocketCreate();
  EXPECT_NE(third, os::kInvalidSocket);
  os::SocketClose(third);
  os::SocketLayerCleanup();
  EXPECT_EQ(os::SocketCreate(), os::kInvalidSocket) << "surplus cleanups left a start-up owed";
}

TEST(SocketLayer, GrantsVersionTwoTwoAndFailedStartupsAddNothing) {
  os::SocketLayerVersion granted{9, 9};
  EXPECT_FALSE(os::SocketLayerStartup({2, 2}, nullptr));
  EXPECT_FALSE(os::SocketLayerStartup({1, 1}, &granted));
  EXPECT_FALSE(os::SocketLayerStartup({2, 1}, &granted));
  EXPECT_EQ(os::SocketCreate(), os::kInvalidSocket) << "a failed start-up counted";

  ASSERT_TRUE(os::SocketLayerStartup({2, 2}, &granted));
  EXPECT_EQ(granted.major, 2);
  EXPECT_EQ(granted.minor, 2);
  granted = {9, 9};
  ASSERT_TRUE(os::SocketLayerStartup({3, 0}, &granted));
  EXPECT_EQ(granted.major, 2);
  EXPECT_EQ(granted.minor, 2);
  os::SocketLayerCleanup();
  os::SocketLayerCleanup();
  EXPECT_EQ(os::SocketCreate(), os::kInvalidSocket);
}

TEST(SocketLayer, CleanupClosesSocketsAndStaleHandlesNeverCloseTheHostsFiles) {
  // The socket gets the lowest free descriptor number, which the probe finds.
  const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(probe, 0);
  close(probe);

  os::SocketLayerVersion granted;
  ASSERT_TRUE(os::SocketLayerStartup({2, 2}, &granted));
  const os::Socket stale = os::SocketCreate();
  ASSERT_NE(stale, os::kInvalidSocket);
  os::SocketLayerCleanup();

  // Only if cleanup closed the socket can the host's file get the same number.
  const int host_file = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(host_file, probe) << "cleanup left the socket's descriptor open";

  os::SocketShutdown(stale);
  os::SocketClose(stale);
  EXPECT_FALSE(os::SocketSetBlocking(stale, true));
  EXPECT_TRUE(DescriptorOpen(host_file)) << "a stale handle closed the host's file";

  // A bare descriptor number is not a handle either.
  ASSERT_TRUE(os::SocketLayerStartup({2, 2}, &granted));
  os::SocketClose(static_cast<os::Socket>(host_file));
  EXPECT_TRUE(DescriptorOpen(host_file)) << "a forged handle closed the host's file";
  os::SocketLayerCleanup();
  close(host_file);
}

TEST(SocketLayer, AClosedHandleDoesNotReachTheSocketThatReusedItsDescriptor) {
  StartedLayer layer;
  ASSERT_TRUE(layer.started());
  Listener listener;
  ASSERT_NE(listener.port, 0);

  const os::Socket old_handle = os::SocketCreate();
  ASSERT_NE(old_handle, os::kInvalidSocket);
  os::SocketClose(old_handle);
  const os::Socket successor = os::SocketCreate();  // same descriptor number
  ASSERT_NE(successor, os::kInvalidSocket);
  EXPECT_NE(successor, old_handle);
  EXPECT_GT(successor, 0);
  EXPECT_LE(successor, os::Socket{INT32_MAX}) << "a 32-bit host could not hold this handle";

  os::SocketClose(old_handle);
  os::SocketShutdown(old_handle);
  EXPECT_EQ(os::SocketConnect(old_handle, kLoopback, listener.port), os::ConnectResult::kFailed);
  EXPECT_TRUE(ConnectLoopback(successor, listener.port)) << "the successor was disturbed";
  os::SocketClose(successor);
}

TEST(SocketLayer, OperationsOnUnknownHandlesFail) {
  StartedLayer layer;
  ASSERT_TRUE(layer.started());
  std::uint8_t byte = 0;
  for (const os::Socket bogus : {os::kInvalidSocket, os::Socket{0}, os::Socket{123456789}}) {
    EXPECT_FALSE(os::SocketSetBlocking(bogus, false));
    EXPECT_EQ(os::SocketConnect(bogus, kLoopback, 1), os::ConnectResult::kFailed);
    EXPECT_EQ(os::SocketWaitConnected(bogus, 0), os::WaitResult::kFailed);
    EXPECT_EQ(os::SocketWaitReadable(bogus, 0), os::WaitResult::kFailed);
    const os::SendSlice one{&byte, 1};
    EXPECT_EQ(os::SocketSend(bogus, &one, 1, 0), -1);
    EXPECT_EQ(os::SocketReceive(bogus, &byte, 1, 0), os::kReceiveWaitFailed);
  }
}

TEST(SocketConnect, NobodyListeningFailsAtOnceOrThroughTheWait) {
  StartedLayer layer;
  ASSERT_TRUE(layer.started());
  const std::uint16_t port = UnusedLoopbackPort();
  ASSERT_NE(port, 0);
  const os::Socket socket = os::SocketCreate();
  ASSERT_NE(socket, os::kInvalidSocket);
  ASSERT_TRUE(os::SocketSetBlocking(socket, false));

  // Two attempts on the same socket, as the TCP link makes them.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const timespec start = Now();
    const os::ConnectResult result = os::SocketConnect(socket, kLoopback, port);
    EXPECT_NE(result, os::ConnectResult::kConnected) << "attempt " << attempt;
    if (result == os::ConnectResult::kInProgress) {
      EXPECT_EQ(os::SocketWaitConnected(socket, 3000), os::WaitResult::kFailed) << "attempt " << attempt;
    }
    EXPECT_LT(ElapsedMs(start), 3000u) << "a refusal on loopback should not need the time-out";
  }
  os::SocketClose(socket);
}

TEST(SocketConnect, ASocketThatNeverConnectedIsNotReady) {
  StartedLayer layer;
  ASSERT_TRUE(layer.started());
  const os::Socket socket = os::SocketCreate();
  ASSERT_NE(socket, os::kInvalidSocket);
  EXPECT_EQ(os::SocketWaitConnected(socket, 200), os::WaitResult::kFailed);
  os::SocketClose(socket);
}

TEST(SocketConnect, APendingHandshakeTimesOut) {
  StartedLayer layer;
  ASSERT_TRUE(layer.started());
  // A listener that never accepts: once its queue is full the kernel drops
  // further handshakes, and their connects stay pending.
  Listener listener(0);
  ASSERT_NE(listener.port, 0);
  os::Socket sockets[6];
  int made = 0;
  bool timed_out = false;
  std::uint64_t waited_ms = 0;
  for (; made < 6 && !timed_out; ++made) {
    sockets[made] = os::SocketCreate();
    ASSERT_NE(sockets[made], os::kInvalidSocket);
    ASSERT_TRUE(os::SocketSetBlocking(sockets[made], false));
    if (os::SocketConnect(sockets[made], kLoopback, listener.port) != os::ConnectResult::kInProgress) {
      continue;
    }
    const timespec start = Now();
    const os::WaitResult result = os::SocketWaitConnected(sockets[made], 300);
    waited_ms = ElapsedMs(start);
    timed_out = result == os::WaitResult::kTimedOut;
  }
  for (int i = 0; i < made; ++i) os::SocketClose(sockets[i]);
  ASSERT_TRUE(timed_out) << "no connect stayed pending";
  EXPECT_GE(waited_ms, 280u);
  EXPECT_LE(waited_ms, 3000u);
}

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
// blocking call it meets is interrupted; restored when the case ends.
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

 private:
  struct sigaction previous_ {};
};

}  // namespace

// Signals neither end a receive's wait early nor stretch it, and bytes that
// arrive in the middle of it are taken.
TEST(SocketTransfer, ReceiveWaitsThroughSignals) {
  StartedLayer layer;
  ASSERT_TRUE(layer.started());
  Listener listener;
  ASSERT_NE(listener.port, 0);
  const os::Socket socket = os::SocketCreate();
  ASSERT_NE(socket, os::kInvalidSocket);
  ASSERT_TRUE(ConnectLoopback(socket, listener.port));
  ASSERT_TRUE(os::SocketSetBlocking(socket, true));
  const int peer = listener.Accept(3000);
  ASSERT_GE(peer, 0);
  std::uint8_t received[8] = {};
  {
    const AlarmStorm storm;
    timespec start = Now();
    EXPECT_EQ(os::SocketReceive(socket, received, sizeof received, 400), os::kReceiveTimedOut);
    EXPECT_GE(ElapsedMs(start), 380u);
    EXPECT_LE(ElapsedMs(start), 3000u);

    std::thread late([peer] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      const std::uint8_t byte = 0x5A;
      (void)send(peer, &byte, 1, 0);
    });
    start = Now();
    EXPECT_EQ(os::SocketReceive(socket, received, sizeof received, 3000), 1);
    EXPECT_EQ(received[0], 0x5A);
    EXPECT_LE(ElapsedMs(start), 2900u);
    late.join();
  }
  close(peer);
  os::SocketClose(socket);
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

