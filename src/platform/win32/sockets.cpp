// Windows Sockets 2.2 behind the seam. The seam is modelled on Windows
// Sockets, so most calls map onto one native call, and a SOCKET value is the
// handle itself (INVALID_SOCKET reads as the seam's -1). Winsock keeps one
// start-up count for the whole process, shared with the host, so the library
// keeps its own beside it: it calls WSACleanup only to balance a WSAStartup of
// its own (a surplus cleanup would stop the host's sockets), and creates no
// socket without one, whatever the host has started.
#include <winsock2.h>

#include "platform/os.h"

namespace pq640::os {
namespace {

// Pieces handed to one WSASend call; more go in the next one.
constexpr DWORD kMaxPiecesPerCall = 512;

SOCKET Native(Socket socket) { return static_cast<SOCKET>(socket); }

timeval Interval(std::uint32_t timeout_ms) {
  timeval interval{};
  interval.tv_sec = static_cast<long>(timeout_ms / 1000u);
  interval.tv_usec = static_cast<long>(timeout_ms % 1000u) * 1000L;
  return interval;
}

// Successful WSAStartup calls of the library not yet balanced by a WSACleanup.
constinit std::uint32_t g_startups = 0;

}  // namespace

bool SocketLayerStartup(SocketLayerVersion requested, SocketLayerVersion* granted) {
  if (granted == nullptr) return false;
  WSADATA data{};
  if (WSAStartup(MAKEWORD(requested.major, requested.minor), &data) != 0) return false;
  ++g_startups;
  granted->major = LOBYTE(data.wVersion);
  granted->minor = HIBYTE(data.wVersion);
  return true;
}

void SocketLayerCleanup() {
  if (g_startups == 0) return;
  --g_startups;
  WSACleanup();
}

Socket SocketCreate() {
  if (g_startups == 0) return kInvalidSocket;
  // Not inherited: a child process the host starts must not keep the
  // terminal's connection open. Windows before 7 SP1 refuses the flag
  // (WSAEINVAL); there the socket is made without it and then marked.
  SOCKET socket = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                             WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
    socket = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (socket != INVALID_SOCKET &&
        SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0) == 0) {
      closesocket(socket);
      socket = INVALID_SOCKET;
    }
  }
  return socket == INVALID_SOCKET ? kInvalidSocket : static_cast<Socket>(socket);
}

void SocketShutdown(Socket socket) { shutdown(Native(socket), SD_BOTH); }

void SocketClose(Socket socket) { closesocket(Native(socket)); }

bool SocketSetBlocking(Socket socket, bool blocking) {
  u_long non_blocking = blocking ? 0 : 1;
  return ioctlsocket(Native(socket), FIONBIO, &non_blocking) == 0;
}

ConnectResult SocketConnect(Socket socket, std::uint32_t address, std::uint16_t port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = address;
  if (connect(Native(socket), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return ConnectResult::kConnected;
  }
  // WSAEWOULDBLOCK (10035): a non-blocking connect under way.
  return WSAGetLastError() == WSAEWOULDBLOCK ? ConnectResult::kInProgress : ConnectResult::kFailed;
}

WaitResult SocketWaitConnected(Socket socket, std::uint32_t timeout_ms) {
  // A connect that completes shows as writable; one that fails shows in the
  // exception set.
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(Native(socket), &writable);
  FD_SET(Native(socket), &failed);
  timeval interval = Interval(timeout_ms);
  const int ready = select(0, nullptr, &writable, &failed, &interval);
  if (ready == SOCKET_ERROR) return WaitResult::kFailed;
  if (ready == 0) return WaitResult::kTimedOut;
  if (FD_ISSET(Native(socket), &failed) || !FD_ISSET(Native(socket), &writable)) {
    return WaitResult::kFailed;
  }
  int error = 0;
  int length = sizeof error;
  if (getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
      error != 0) {
    return WaitResult::kFailed;
  }
  sockaddr_in peer{};
  int peer_length = sizeof peer;
  return getpeername(Native(socket), reinterpret_cast<sockaddr*>(&peer), &peer_length) == 0
             ? WaitResult::kReady
             : WaitResult::kFailed;
}

WaitResult SocketWaitReadable(Socket socket, std::uint32_t timeout_ms) {
  // A closed or reset connection counts as readable: the receive that follows
  // reports it.
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Native(socket), &readable);
  timeval interval = Interval(timeout_ms);
  const int ready = select(0, &readable, nullptr, nullptr, &interval);
  if (ready == SOCKET_ERROR) return WaitResult::kFailed;
  return ready == 0 ? WaitResult::kTimedOut : WaitResult::kReady;
}

std::int64_t SocketSend(Socket socket, const SendSlice* slices, std::uint32_t slice_count,
                        std::uint32_t wait_ms) {
  // Non-blocking for the call, so that a peer that stops reading costs at
  // most the wait; the connection is blocking again afterwards.
  u_long on = 1;
  if (ioctlsocket(Native(socket), FIONBIO, &on) != 0) return -1;
  std::int64_t sent = 0;
  std::uint32_t slice = 0;
  std::uint32_t offset = 0;  // into slices[slice]
  bool failed = false;
  while (slice < slice_count && !failed) {
    WSABUF pieces[kMaxPiecesPerCall];
    DWORD count = 0;
    for (std::uint32_t i = slice; i < slice_count && count < kMaxPiecesPerCall; ++i) {
      const std::uint32_t skip = i == slice ? offset : 0;
      if (slices[i].size == skip) continue;
      pieces[count].buf = reinterpret_cast<char*>(const_cast<std::uint8_t*>(slices[i].data + skip));
      pieces[count].len = slices[i].size - skip;
      ++count;
    }
    if (count == 0) break;
    DWORD n = 0;
    if (WSASend(Native(socket), pieces, count, &n, 0, nullptr, nullptr) == SOCKET_ERROR) {
      if (WSAGetLastError() != WSAEWOULDBLOCK) {
        failed = true;
        break;
      }
      fd_set writable;
      FD_ZERO(&writable);
      FD_SET(Native(socket), &writable);
      timeval interval = Interval(wait_ms);
      if (select(0, nullptr, &writable, nullptr, &interval) <= 0) break;
      continue;
    }
    sent += n;
    DWORD left = n;
    while (slice < slice_count && left >= slices[slice].size - offset) {
      left -= slices[slice].size - offset;
      ++slice;
      offset = 0;
    }
    offset += left;
  }
  u_long off = 0;
  ioctlsocket(Native(socket), FIONBIO, &off);
  return failed && sent == 0 ? -1 : sent;
}

std::int32_t SocketReceive(Socket socket, std::uint8_t* buffer, std::uint32_t count,
                           std::uint32_t wait_ms) {
  // A timed-out blocking receive leaves a Windows socket in an undefined
  // state, so the wait is a select of its own before the receive.
  switch (SocketWaitReadable(socket, wait_ms)) {
    case WaitResult::kReady: break;
    case WaitResult::kTimedOut: return kReceiveTimedOut;
    case WaitResult::kFailed: return kReceiveWaitFailed;
  }
  const int length = count > INT32_MAX ? INT32_MAX : static_cast<int>(count);
  const int received = recv(Native(socket), reinterpret_cast<char*>(buffer), length, 0);
  return received == SOCKET_ERROR ? kReceiveFailed : received;
}

void SocketSetReceiveBufferSize(Socket socket, std::uint32_t bytes) {
  const int size = bytes > INT32_MAX ? INT32_MAX : static_cast<int>(bytes);
  setsockopt(Native(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
}

void SocketSetNoDelay(Socket socket) {
  const BOOL on = TRUE;
  setsockopt(Native(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

}  // namespace pq640::os
