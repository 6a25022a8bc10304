// The socket layer against real loopback sockets: start-ups, handles and
// connects. Every peer is on 127.0.0.1 and is made by the test itself.
#include <cstdint>

#include <gtest/gtest.h>

#include "loopback_sockets.h"

using namespace loopback;

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
