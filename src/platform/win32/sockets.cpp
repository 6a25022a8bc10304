// Windows Sockets 2.2 behind the seam. The seam is modelled on Windows
// Sockets, so each call maps onto one native call: WSAStartup counts the
// start-ups, the last WSACleanup closes every socket, and a SOCKET value is
// the handle itself (INVALID_SOCKET reads as the seam's -1).
#include <winsock2.h>

#include "platform/os.h"

namespace pq640::os {
namespace {

SOCKET Native(Socket socket) { return static_cast<SOCKET>(socket); }

timeval Interval(std::uint32_t timeout_ms) {
  timeval interval{};
  interval.tv_sec = static_cast<long>(timeout_ms / 1000u);
  interval.tv_usec = static_cast<long>(timeout_ms % 1000u) * 1000L;
  return interval;
}

}  // namespace

bool SocketLayerStartup(SocketLayerVersion requested, SocketLayerVersion* granted) {
  if (granted == nullptr) return false;
  WSADATA data{};
  if (WSAStartup(MAKEWORD(requested.major, requested.minor), &data) != 0) return false;
  granted->major = LOBYTE(data.wVersion);
  granted->minor = HIBYTE(data.wVersion);
  return true;
}

void SocketLayerCleanup() { WSACleanup(); }

Socket SocketCreate() {
  // Not inherited: a child process the host starts must not keep the
  // terminal's connection open.
  const SOCKET socket = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                   WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
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

std::int32_t SocketSend(Socket socket, const std::uint8_t* data, std::uint32_t count) {
  const int length = count > INT32_MAX ? INT32_MAX : static_cast<int>(count);
  const int sent = send(Native(socket), reinterpret_cast<const char*>(data), length, 0);
  return sent == SOCKET_ERROR ? -1 : sent;
}

std::int32_t SocketReceive(Socket socket, std::uint8_t* buffer, std::uint32_t count) {
  const int length = count > INT32_MAX ? INT32_MAX : static_cast<int>(count);
  const int received = recv(Native(socket), reinterpret_cast<char*>(buffer), length, 0);
  return received == SOCKET_ERROR ? -1 : received;
}

void SocketSetReceiveBufferSize(Socket socket, std::uint32_t bytes) {
  const int size = bytes > INT32_MAX ? INT32_MAX : static_cast<int>(bytes);
  setsockopt(Native(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
}

std::uint32_t ParseIPv4Address(const char* text) {
  return text == nullptr ? kAddressNone : static_cast<std::uint32_t>(inet_addr(text));
}

}  // namespace pq640::os
