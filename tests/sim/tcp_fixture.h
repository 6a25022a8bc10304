// A simulator on a loopback address of the test's own and a raw client that
// talks to it the way the host library does.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "loopback_client.h"
#include "pq640sim/simulator.h"

namespace pq640sim::test {

inline constexpr int kAnswerWaitMs = 3000;  // generous: answers normally take a millisecond
inline constexpr int kSilenceMs = 300;      // how long "no answer" is watched for

// The raw frames of these tests address ID 1, not the default 0, so that a
// simulator which ignored the ID field would be caught.
inline constexpr std::uint16_t kTestTerminalId = 1;
inline const std::vector<std::uint8_t> kCheckLinkAnswer{0x7F, 0x01, 0x00, 0x00, 0x01};

inline SimulatorOptions WithTestTerminalId(SimulatorOptions options = {}) {
  options.settings.terminal_id = kTestTerminalId;
  return options;
}

class TcpSimulatorTest : public ::testing::Test {
 protected:
  void Start(const std::string& address, SimulatorOptions options = {}) {
    address_ = address;
    simulator_ = std::make_unique<Simulator>(WithTestTerminalId(std::move(options)));
    ASSERT_TRUE(simulator_->StartTcp(address_)) << simulator_->LastError();
  }

  // Ends the test with a failure (through the exception) when nobody listens.
  LoopbackClient Connect() {
    auto client = LoopbackClient::Connect(address_, kDefaultTcpPort);
    if (!client) throw std::runtime_error("cannot connect to " + address_);
    return std::move(*client);
  }

  // One command the way the host library runs it: fresh connection, request,
  // answer, then shutdown and close.
  Received Exchange(const std::vector<std::uint8_t>& request, std::size_t answer_size,
                    int timeout_ms = kAnswerWaitMs) {
    LoopbackClient client = Connect();
    EXPECT_TRUE(client.Send(request));
    Received received = client.Receive(answer_size, timeout_ms);
    client.ShutdownAndClose();
    return received;
  }

  std::string address_;
  std::unique_ptr<Simulator> simulator_;
};

}  // namespace pq640sim::test
