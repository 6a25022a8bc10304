// Injected faults seen from a raw loopback client: each produces exactly the
// documented bytes. Addresses 127.201.2.x, port 7413.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "loopback_client.h"
#include "tcp_fixture.h"
#include "pq640sim/simulator.h"
#include "request_bytes.h"

namespace pq640sim {
namespace {

using namespace std::chrono_literals;
using test::kAnswerWaitMs;
using test::kCheckLinkAnswer;
using test::kSilenceMs;
using test::LoopbackClient;
using TcpFaultsTest = test::TcpSimulatorTest;
using test::RequestBytes;
using Bytes = std::vector<std::uint8_t>;




TEST_F(TcpFaultsTest, NoiseGoesBeforeTheStartByte) {
  Start("127.201.2.1");
  Faults faults;
  faults.noise_before_start = {'Q', 'Q', 'A', 'V', 0x00};
  simulator_->SetFaults(faults);
  EXPECT_EQ(Exchange(RequestBytes(1, 1), 10).bytes,
            (Bytes{'Q', 'Q', 'A', 'V', 0x00, 0x7F, 0x01, 0x00, 0x00, 0x01}));
}

TEST_F(TcpFaultsTest, WrongIdAnswersWithTheGivenId) {
  Start("127.201.2.2");
  Faults faults;
  faults.answer_terminal_id = 5;
  simulator_->SetFaults(faults);
  EXPECT_EQ(Exchange(RequestBytes(1, 1), 5).bytes, (Bytes{0x7F, 0x05, 0x00, 0x00, 0x05}));
}

TEST_F(TcpFaultsTest, ForcedResultAnswersWithoutPayloadAndWithoutCarryingOutTheCommand) {
  Start("127.201.2.3");
  Faults faults;
  faults.answer_result = 7;
  simulator_->SetFaults(faults);
  EXPECT_EQ(Exchange(RequestBytes(1, 8), 11, kSilenceMs).bytes, (Bytes{0x7F, 0x01, 0x00, 0x07, 0x06}));
  EXPECT_EQ(Exchange(RequestBytes(1, 14, {99}), 5).bytes, (Bytes{0x7F, 0x01, 0x00, 0x07, 0x06}));
  EXPECT_NE(simulator_->Snapshot().settings.matching_value, 99);
}

TEST_F(TcpFaultsTest, CorruptedChecksumInvertsTheTrailer) {
  Start("127.201.2.4");
  Faults faults;
  faults.corrupt_checksum = true;
  simulator_->SetFaults(faults);
  EXPECT_EQ(Exchange(RequestBytes(1, 1), 5).bytes, (Bytes{0x7F, 0x01, 0x00, 0x00, 0xFE}));
}

TEST_F(TcpFaultsTest, InvalidClockReportsMonthThirteen) {
  Start("127.201.2.5");
  ASSERT_TRUE(simulator_->Model().SetClock(DateTime{24, 6, 1, 8, 0, 0}));
  Faults faults;
  faults.invalid_clock = true;
  simulator_->SetFaults(faults);
  const Bytes answer = Exchange(RequestBytes(1, 8), 11).bytes;
  ASSERT_EQ(answer.size(), 11u);
  EXPECT_EQ(answer[5], 13);
  EXPECT_EQ(answer[10], 0x01 ^ 24 ^ 13 ^ 1 ^ 8 ^ answer[8] ^ answer[9]);
}

TEST_F(TcpFaultsTest, DelayHoldsTheAnswerBack) {
  Start("127.201.2.6");
  Faults faults;
  faults.response_delay_ms = 600;
  simulator_->SetFaults(faults);
  LoopbackClient client = Connect();
  ASSERT_TRUE(client.Send(RequestBytes(1, 1)));
  EXPECT_TRUE(client.Receive(1, 200).bytes.empty());
  EXPECT_EQ(client.Receive(5, kAnswerWaitMs).bytes, kCheckLinkAnswer);
}

TEST_F(TcpFaultsTest, StallSendsTheFirstBytesAndKeepsTheConnectionOpen) {
  Start("127.201.2.7");
  Faults faults;
  faults.stall_after_bytes = 3;
  simulator_->SetFaults(faults);
  LoopbackClient client = Connect();
  ASSERT_TRUE(client.Send(RequestBytes(1, 1)));
  EXPECT_EQ(client.Receive(3, kAnswerWaitMs).bytes, (Bytes{0x7F, 0x01, 0x00}));
  const test::Received rest = client.Receive(1, kSilenceMs);
  EXPECT_TRUE(rest.bytes.empty());
  EXPECT_FALSE(rest.peer_closed);
  // The connection still serves requests, stalled the same way until cleared.
  ASSERT_TRUE(client.Send(RequestBytes(1, 1)));
  EXPECT_EQ(client.Receive(4, kSilenceMs).bytes, (Bytes{0x7F, 0x01, 0x00}));
  simulator_->ClearFaults();
  ASSERT_TRUE(client.Send(RequestBytes(1, 1)));
  EXPECT_EQ(client.Receive(5, kAnswerWaitMs).bytes, kCheckLinkAnswer);
}

TEST_F(TcpFaultsTest, CloseSendsTheFirstBytesThenEndsTheConnection) {
  Start("127.201.2.8");
  Faults faults;
  faults.close_after_bytes = 2;
  simulator_->SetFaults(faults);
  const test::Received received = Exchange(RequestBytes(1, 1), 5);
  EXPECT_EQ(received.bytes, (Bytes{0x7F, 0x01}));
  EXPECT_TRUE(received.peer_closed);
  simulator_->ClearFaults();
  EXPECT_EQ(Exchange(RequestBytes(1, 1), 5).bytes, kCheckLinkAnswer);
}

TEST_F(TcpFaultsTest, RefusedConnectionsUntilCleared) {
  Start("127.201.2.9");
  Faults faults;
  faults.refuse_connections = true;
  simulator_->SetFaults(faults);
  int error = 0;
  EXPECT_FALSE(LoopbackClient::Connect(address_, kDefaultTcpPort, &error));
  EXPECT_EQ(error, ECONNREFUSED);
  simulator_->ClearFaults();
  EXPECT_EQ(Exchange(RequestBytes(1, 1), 5).bytes, kCheckLinkAnswer);
}

TEST_F(TcpFaultsTest, FaultsPersistUntilClearedAndAreReadBack) {
  Start("127.201.2.10");
  Faults faults;
  faults.answer_result = 0x21;
  simulator_->SetFaults(faults);
  EXPECT_EQ(simulator_->CurrentFaults().answer_result, std::optional<std::uint8_t>(0x21));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Exchange(RequestBytes(1, 1), 5).bytes, (Bytes{0x7F, 0x01, 0x00, 0x21, 0x20}));
  }
  simulator_->ClearFaults();
  EXPECT_FALSE(simulator_->CurrentFaults().answer_result.has_value());
  EXPECT_EQ(Exchange(RequestBytes(1, 1), 5).bytes, kCheckLinkAnswer);
}

TEST_F(TcpFaultsTest, StopEndsALongDelayPromptly) {
  Start("127.201.2.11");
  Faults faults;
  faults.response_delay_ms = 60000;
  simulator_->SetFaults(faults);
  LoopbackClient client = Connect();
  ASSERT_TRUE(client.Send(RequestBytes(1, 1)));
  ASSERT_TRUE(simulator_->WaitForRequestsServed(1, 3s));
  const auto before = std::chrono::steady_clock::now();
  simulator_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
  const test::Received received = client.Receive(5, kAnswerWaitMs);
  EXPECT_TRUE(received.bytes.empty());
  EXPECT_TRUE(received.peer_closed);
}

}  // namespace
}  // namespace pq640sim
