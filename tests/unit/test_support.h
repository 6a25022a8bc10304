// Frame builders and a fixture shared by the unit tests. The builders encode
// the wire format independently of the library's own framing code.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "fake_os.h"
#include "port/port_state.h"
#include "pq640/pq640.h"

namespace pq640::test {

using fake::Bytes;

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) {
    for (std::uint8_t b : p) all.push_back(b);
  }
  return all;
}

inline std::uint8_t Xor(const Bytes& bytes) {
  std::uint8_t x = 0;
  for (std::uint8_t b : bytes) x ^= b;
  return x;
}

// A request as the terminal receives it: preamble, start byte, ID, command,
// payload, checksum.
inline Bytes RequestFrame(std::uint16_t id, std::uint8_t command, const Bytes& payload = {}) {
  const std::string preamble = "QQAVRENPROTOCOL";
  const Bytes body = Concat({{static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8), command},
                             payload});
  return Concat({Bytes(preamble.begin(), preamble.end()), {0x7F}, body, {Xor(body)}});
}

// A response as the terminal sends it.
inline Bytes ResponseFrame(std::uint16_t id, std::uint8_t result, const Bytes& payload = {}) {
  const Bytes body = Concat({{static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8), result},
                             payload});
  return Concat({{0x7F}, body, {Xor(body)}});
}

inline constexpr const char* kTestAddress = "127.0.0.9";
// 127.0.0.9 as the fake parser returns it.
inline constexpr std::uint32_t kTestAddressValue = 0x0900007Fu;

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    ResetPortState();
    ASSERT_EQ(PQ640_SetTerminalIPAddr(kTestAddress), PQ640_OK);
  }

  fake::FakeOs& os() { return fake::Os(); }
  std::uint64_t Now() { return fake::Os().now_ms; }

  // TCP link selected and the socket layer started.
  void OpenTcp() {
    ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2), PQ640_OK);
    ASSERT_EQ(PQ640_OpenPort(), PQ640_OK);
    os().calls.clear();
  }

  // The next connection answers with `response`.
  fake::SocketScript& AnswerOverTcp(const Bytes& response) {
    fake::SocketScript script;
    script.input.push_back({response, 0});
    os().net.scripts.push_back(std::move(script));
    return os().net.scripts.back();
  }

  // Serial port `port` selected and open.
  void OpenSerial(std::uint16_t port = 1, std::uint32_t comm_state = 2) {
    ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, port, comm_state), PQ640_OK);
    ASSERT_EQ(PQ640_OpenPort(), PQ640_OK);
    os().calls.clear();
  }

  // The terminal's answer to the next serial request.
  void AnswerOverSerial(const Bytes& response, std::uint32_t delay_ms = 0) {
    os().serial.replies.push_back({{response, delay_ms}});
  }

  bool NothingSent() {
    return !fake::Called("SocketCreate") && !fake::Called("SerialWrite") &&
           !fake::Called("SocketSend");
  }
};

}  // namespace pq640::test
