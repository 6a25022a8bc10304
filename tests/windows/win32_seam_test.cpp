// The Win32 side of the OS seam against Wine's Winsock and comm API: what the
// portable code relies on must hold as on POSIX. Peers are on 127.0.0.1 and
// made by the test itself.
#include <winsock2.h>

#include <chrono>
#include <cstdint>

#include <gtest/gtest.h>

#include "platform/os.h"

namespace os = pq640::os;

namespace {

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

long long ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
      .count();
}

// One start-up for the length of a test, balanced on the way out.
struct StartedLayer {
  bool started = false;
  StartedLayer() {
    os::SocketLayerVersion granted;
    started = os::SocketLayerStartup({2, 2}, &granted) && granted.major == 2 && granted.minor == 2;
  }
  ~StartedLayer() {
    if (started) os::SocketLayerCleanup();
  }
};

// A listening Winsock socket on 127.0.0.1 at a port the system picks.
struct Listener {
  SOCKET socket = INVALID_SOCKET;
  std::uint16_t port = 0;
  Listener() {
    socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = kLoopback;
    int length = sizeof address;
    if (socket == INVALID_SOCKET || bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(socket, 4) != 0 || getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port = ntohs(address.sin_port);
  }
  ~Listener() {
    if (socket != INVALID_SOCKET) closesocket(socket);
  }
};

bool ConnectLoopback(os::Socket socket, std::uint16_t port) {
  if (!os::SocketSetBlocking(socket, false)) return false;
  switch (os::SocketConnect(socket, kLoopback, port)) {
    case os::ConnectResult::kConnected: return true;
    case os::ConnectResult::kInProgress: return os::SocketWaitConnected(socket, 3000) == os::WaitResult::kReady;
    case os::ConnectResult::kFailed: return false;
  }
  return false;
}

}  // namespace

TEST(Win32SocketLayer, StartupsAreCountedAndTheLastCleanupClosesSockets) {
  EXPECT_EQ(os::SocketCreate(), os::kInvalidSocket) << "created before any start-up";
  os::SocketLayerVersion granted;
  ASSERT_TRUE(os::SocketLayerStartup({2, 2}, &granted));
  ASSERT_TRUE(os::SocketLayerStartup({2, 2}, &granted));
  os::SocketLayerCleanup();
  const os::Socket socket = os::SocketCreate();
  EXPECT_NE(socket, os::kInvalidSocket) << "one cleanup stopped a layer started twice";
  os::SocketLayerCleanup();
  EXPECT_EQ(os::SocketCreate(), os::kInvalidSocket) << "created after the balancing cleanup";
  // The cleanup took the socket with it; the stale handle is harmless.
  EXPECT_FALSE(os::SocketSetBlocking(socket, true));
  os::SocketShutdown(socket);
  os::SocketClose(socket);
  os::SocketLayerCleanup();  // surplus: must not owe a start-up later
  ASSERT_TRUE(os::SocketLayerStartup({2, 2}, &granted));
  os::SocketLayerCleanup();
  EXPECT_EQ(os::SocketCreate(), os::kInvalidSocket);
}

TEST(Win32SocketConnect, RefusedConnectionsFailThroughTheWaitWithoutItsTimeOut) {
  StartedLayer layer;
  ASSERT_TRUE(layer.started);
  std::uint16_t port = 0;
  {
    Listener probe;  // bound once, then released: nobody listens there
    port = probe.port;
  }
  ASSERT_NE(port, 0);
  const os::Socket socket = os::SocketCreate();
  ASSERT_NE(socket, os::kInvalidSocket);
  ASSERT_TRUE(os::SocketSetBlocking(socket, false));
  for (int attempt = 0; attempt < 2; ++attempt) {
    const auto start = std::chrono::steady_clock::now();
    const os::ConnectResult result = os::SocketConnect(socket, kLoopback, port);
    EXPECT_NE(result, os::ConnectResult::kConnected) << "attempt " << attempt;
    if (result == os::ConnectResult::kInProgress) {
      EXPECT_EQ(os::SocketWaitConnected(socket, 4000), os::WaitResult::kFailed) << "attempt " << attempt;
    }
    EXPECT_LT(ElapsedMs(start), 3500) << "a refusal must not wait for the time-out";
  }
  os::SocketClose(socket);

  const os::Socket idle = os::SocketCreate();
  EXPECT_NE(os::SocketWaitConnected(idle, 200), os::WaitResult::kReady) << "never connected";
  os::SocketClose(idle);
}

TEST(Win32SocketTransfer, RoundTripTimeOutAndPeerClose) {
  StartedLayer layer;
  ASSERT_TRUE(layer.started);
  Listener listener;
  ASSERT_NE(listener.port, 0);
  const os::Socket socket = os::SocketCreate();
  ASSERT_NE(socket, os::kInvalidSocket);
  os::SocketSetReceiveBufferSize(socket, 1024);
  ASSERT_TRUE(ConnectLoopback(socket, listener.port));
  ASSERT_TRUE(os::SocketSetBlocking(socket, true));
  const SOCKET peer = accept(listener.socket, nullptr, nullptr);
  ASSERT_NE(peer, INVALID_SOCKET);

  const std::uint8_t request[] = {0x7F, 0x01, 0x00, 0x08};
  const os::SendSlice slices[] = {{request, 2}, {request + 2, 2}};
  EXPECT_EQ(os::SocketSend(socket, slices, 2, 1000), 4);
  char seen[8] = {};
  EXPECT_EQ(recv(peer, seen, sizeof seen, 0), 4);

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(os::SocketWaitReadable(socket, 300), os::WaitResult::kTimedOut);
  EXPECT_GE(ElapsedMs(start), 280);
  EXPECT_LE(ElapsedMs(start), 3000);
  std::uint8_t received[8] = {};
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(os::SocketReceive(socket, received, sizeof received, 300), os::kReceiveTimedOut);
  EXPECT_GE(ElapsedMs(start), 280);
  EXPECT_LE(ElapsedMs(start), 3000);

  const char response[] = {0x7F, 0x01, 0x00, 0x00, 0x42};
  ASSERT_EQ(send(peer, response, sizeof response, 0), 5);
  EXPECT_EQ(os::SocketWaitReadable(socket, 3000), os::WaitResult::kReady);
  std::int32_t total = 0;
  for (int i = 0; i < 10 && total < 5; ++i) {
    const std::int32_t n = os::SocketReceive(socket, received + total, 8 - total, 3000);
    ASSERT_GT(n, 0);
    total += n;
  }
  EXPECT_EQ(total, 5);
  EXPECT_EQ(received[4], 0x42);

  closesocket(peer);
  EXPECT_EQ(os::SocketWaitReadable(socket, 3000), os::WaitResult::kReady);
  EXPECT_EQ(os::SocketReceive(socket, received, sizeof received, 3000), 0);
  os::SocketClose(socket);
}


TEST(Win32Serial, OnlyComNamesOpenAndTheInvalidHandleIsRefused) {
  for (const char* name : {"", "COM", "COM0", "COM07", "com7", "COM7x", "LPT1", "\\\\.\\COM7"}) {
    EXPECT_EQ(os::SerialOpen(name), os::kInvalidSerialHandle) << '"' << name << '"';
  }
  EXPECT_EQ(os::SerialOpen(nullptr), os::kInvalidSerialHandle);
  EXPECT_EQ(os::SerialOpen("COM250"), os::kInvalidSerialHandle) << "no such device";
  // -1 is also the current process's pseudo-handle: closing it must fail.
  EXPECT_FALSE(os::SerialClose(os::kInvalidSerialHandle));
  os::SerialTimeouts limits;
  EXPECT_FALSE(os::SerialGetTimeouts(os::kInvalidSerialHandle, &limits));
  std::uint8_t byte = 0;
  std::uint32_t done = 99;
  EXPECT_FALSE(os::SerialRead(os::kInvalidSerialHandle, &byte, 1, &done));
  EXPECT_EQ(done, 0u);
}

TEST(Win32Clock, SleepAndMonotonicTime) {
  const std::uint64_t before = os::MonotonicMs();
  const auto start = std::chrono::steady_clock::now();
  os::SleepMs(200);
  EXPECT_GE(ElapsedMs(start), 190);  // Sleep may round to the system tick
  EXPECT_LE(ElapsedMs(start), 3000);
  const std::uint64_t after = os::MonotonicMs();
  EXPECT_GE(after - before, 150u);
  EXPECT_LE(after - before, 3000u);
  std::uint64_t previous = after;
  for (int i = 0; i < 10000; ++i) {
    const std::uint64_t now = os::MonotonicMs();
    ASSERT_GE(now, previous) << "went backwards";
    previous = now;
  }
}
