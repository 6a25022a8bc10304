// The Win32 seam in a process it shares with a host: Winsock's start-up count
// is the whole process's, so the layer balances only its own start-ups and
// makes no socket without one; sockets are not inherited; and DllMain runs
// the unload handler when the DLL is unloaded, not at process exit.
#include <winsock2.h>

#include <cstdint>

#include <gtest/gtest.h>

#include "platform/os.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved);

namespace os = pq640::os;

namespace {

// Every wait on the host's sockets is bounded by this.
constexpr long kHostWaitSeconds = 3;

// What a host holds: Winsock started by itself and a connected pair on
// 127.0.0.1 made with plain Winsock calls.
class HostWithSockets : public testing::Test {
 protected:
  void SetUp() override {
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    started_ = true;
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(listener, INVALID_SOCKET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    pair_[0] = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(connect(pair_[0], reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    pair_[1] = accept(listener, nullptr, nullptr);
    closesocket(listener);
    ASSERT_NE(pair_[1], INVALID_SOCKET);
  }

  void TearDown() override {
    for (SOCKET s : pair_) {
      if (s != INVALID_SOCKET) closesocket(s);
    }
    if (started_) {
      EXPECT_EQ(WSACleanup(), 0) << "the host's own cleanup failed: " << WSAGetLastError();
    }
  }

  // One byte each way over the host's pair.
  bool HostSocketsWork() {
    return Carries(pair_[0], pair_[1], 'h') && Carries(pair_[1], pair_[0], 'q');
  }

 private:
  static bool Carries(SOCKET from, SOCKET to, char byte) {
    if (send(from, &byte, 1, 0) != 1) return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(to, &readable);
    timeval wait{kHostWaitSeconds, 0};
    char got = 0;
    return select(0, &readable, nullptr, nullptr, &wait) == 1 && recv(to, &got, 1, 0) == 1 && got == byte;
  }

  bool started_ = false;
  SOCKET pair_[2] = {INVALID_SOCKET, INVALID_SOCKET};
};

TEST_F(HostWithSockets, CleanupsBalanceOnlyTheLayersOwnStartups) {
  ASSERT_TRUE(HostSocketsWork());
  EXPECT_EQ(os::SocketCreate(), os::kInvalidSocket) << "the host's start-up is not the library's";
  os::SocketLayerCleanup();
  os::SocketLayerCleanup();
  EXPECT_TRUE(HostSocketsWork()) << "cleanups without a start-up of the layer's own";

  os::SocketLayerVersion granted;
  ASSERT_TRUE(os::SocketLayerStartup({2, 2}, &granted));
  ASSERT_TRUE(os::SocketLayerStartup({2, 2}, &granted));
  const os::Socket socket = os::SocketCreate();
  EXPECT_NE(socket, os::kInvalidSocket);
  os::SocketClose(socket);
  os::SocketLayerCleanup();
  EXPECT_NE(os::SocketCreate(), os::kInvalidSocket) << "one start-up of its own is left";
  os::SocketLayerCleanup();
  EXPECT_EQ(os::SocketCreate(), os::kInvalidSocket) << "both start-ups balanced";
  os::SocketLayerCleanup();  // surplus
  EXPECT_TRUE(HostSocketsWork()) << "a surplus cleanup";
}

TEST(Win32Sockets, AreNotInherited) {
  os::SocketLayerVersion granted;
  ASSERT_TRUE(os::SocketLayerStartup({2, 2}, &granted));
  const os::Socket socket = os::SocketCreate();
  ASSERT_NE(socket, os::kInvalidSocket);
  DWORD flags = HANDLE_FLAG_INHERIT;
  ASSERT_NE(GetHandleInformation(reinterpret_cast<HANDLE>(socket), &flags), 0);
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u) << "a child process would keep the terminal's connection";
  os::SocketClose(socket);
  os::SocketLayerCleanup();
}

int g_unload_calls = 0;
void CountUnload() { ++g_unload_calls; }

TEST(Win32Unload, DllMainRunsTheHandlerWhenUnloadedOnly) {
  EXPECT_EQ(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr), TRUE) << "nothing registered";
  os::CallAtUnload(&CountUnload);
  EXPECT_EQ(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr), TRUE);
  EXPECT_EQ(DllMain(nullptr, DLL_THREAD_ATTACH, nullptr), TRUE);
  EXPECT_EQ(DllMain(nullptr, DLL_THREAD_DETACH, nullptr), TRUE);
  EXPECT_EQ(g_unload_calls, 0);
  // Process exit (reserved not null): the system reclaims the handles.
  int exit_marker = 0;
  EXPECT_EQ(DllMain(nullptr, DLL_PROCESS_DETACH, &exit_marker), TRUE);
  EXPECT_EQ(g_unload_calls, 0);
  // FreeLibrary (reserved null).
  EXPECT_EQ(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr), TRUE);
  EXPECT_EQ(g_unload_calls, 1);
  os::CallAtUnload(nullptr);
}

}  // namespace
