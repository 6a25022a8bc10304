// The TCP link: the socket layer is started by the port's open, and every
// command connects afresh just before its request header goes out.
#pragma once

#include <cstdint>

#include "port/port_state.h"

namespace pq640 {

inline constexpr os::SocketLayerVersion kSocketLayerVersion{2, 2};
inline constexpr std::uint32_t kReconnectPauseMs = 400;
inline constexpr int kConnectAttempts = 2;
inline constexpr std::uint32_t kConnectWaitMs = 5000;
inline constexpr std::uint32_t kReceiveBufferBytes = 1024;
inline constexpr std::uint32_t kTcpWaitExtraMs = kReadWaitExtraMs;

ResultCode TcpOpen();
ResultCode TcpClose();
// Replaces the previous connection (shutdown, pause, close) with a new one.
ResultCode TcpConnect();
void TcpSetWait(std::uint32_t timeout_ms);

}  // namespace pq640
