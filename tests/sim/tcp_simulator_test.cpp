// The simulator over real loopback TCP. Every test listens on its own
// 127.201.x.y address (port 7413), so test processes can run in parallel.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "loopback_client.h"
#include "tcp_fixture.h"
#include "pq640sim/simulator.h"
#include "request_bytes.h"

namespace pq640sim {
namespace {

using namespace std::chrono_literals;
using test::Concat;
using test::kAnswerWaitMs;
using test::kCheckLinkAnswer;
using test::kSilenceMs;
using test::LoopbackClient;
using test::TcpSimulatorTest;
using test::RequestBytes;
using Bytes = std::vector<std::uint8_t>;




TEST_F(TcpSimulatorTest, AnswersCheckLinkAfterTheWakeUpZeros) {
  Start("127.201.1.1");
  const Bytes request = RequestBytes(1, 1);
  EXPECT_EQ(Exchange(Concat(Bytes(2048, 0), request), 5).bytes, kCheckLinkAnswer);
  EXPECT_EQ(simulator_->RequestsServed(), 1u);
  EXPECT_EQ(simulator_->LastRequest(), request);
}

TEST_F(TcpSimulatorTest, ServesSeveralRequestsPerConnectionAndTheNextConnection) {
  Start("127.201.1.2");
  {
    LoopbackClient client = Connect();
    ASSERT_TRUE(client.Send(RequestBytes(1, 1)));
    EXPECT_EQ(client.Receive(5, kAnswerWaitMs).bytes, kCheckLinkAnswer);
    ASSERT_TRUE(client.Send(RequestBytes(1, 14, {42})));
    EXPECT_EQ(client.Receive(5, kAnswerWaitMs).bytes, kCheckLinkAnswer);
    client.ShutdownAndClose();
  }
  EXPECT_EQ(Exchange(RequestBytes(1, 1), 5).bytes, kCheckLinkAnswer);
  EXPECT_EQ(simulator_->RequestsServed(), 3u);
  EXPECT_EQ(simulator_->Snapshot().settings.matching_value, 42);
}

TEST_F(TcpSimulatorTest, AssemblesARequestArrivingInPieces) {
  Start("127.201.1.3");
  const Bytes request = RequestBytes(1, 9, {30, 6, 1, 12, 0, 0});
  LoopbackClient client = Connect();
  ASSERT_TRUE(client.Send(std::span(request).first(10)));
  std::this_thread::sleep_for(30ms);
  ASSERT_TRUE(client.Send(std::span(request).subspan(10, 12)));
  std::this_thread::sleep_for(30ms);
  ASSERT_TRUE(client.Send(std::span(request).subspan(22)));
  EXPECT_EQ(client.Receive(5, kAnswerWaitMs).bytes, kCheckLinkAnswer);
  EXPECT_EQ(simulator_->Snapshot().terminal_time.year, 30);
}

TEST_F(TcpSimulatorTest, StaysSilentForAnotherTerminalAndForABadChecksum) {
  Start("127.201.1.4");
  LoopbackClient client = Connect();
  ASSERT_TRUE(client.Send(RequestBytes(2, 1)));
  EXPECT_TRUE(client.Receive(1, kSilenceMs).bytes.empty());
  Bytes corrupted = RequestBytes(1, 1);
  corrupted.back() ^= 0x01;
  ASSERT_TRUE(client.Send(corrupted));
  EXPECT_TRUE(client.Receive(1, kSilenceMs).bytes.empty());
  // The line is still in step: the next good request is answered.
  ASSERT_TRUE(client.Send(RequestBytes(1, 1)));
  EXPECT_EQ(client.Receive(5, kAnswerWaitMs).bytes, kCheckLinkAnswer);
  const RequestCounters counters = simulator_->Counters();
  EXPECT_EQ(counters.other_terminal, 1u);
  EXPECT_EQ(counters.bad_checksum, 1u);
  EXPECT_EQ(counters.served, 1u);
}

TEST_F(TcpSimulatorTest, AnswersAnUnknownCommandOnceTheInputIsDrained) {
  SimulatorOptions options;
  options.unknown_command_idle_ms = 50;
  Start("127.201.1.5", options);
  EXPECT_EQ(Exchange(RequestBytes(1, 0x63, {1, 2, 3, 4}), 5).bytes,
            (Bytes{0x7F, 0x01, 0x00, kResultUnknownCommand, 0x01 ^ kResultUnknownCommand}));
  EXPECT_EQ(simulator_->Counters().unknown_command, 1u);
}

TEST_F(TcpSimulatorTest, DiscardsWhatFollowsAnUnknownCommandUntilTheLineIdles) {
  SimulatorOptions options;
  options.unknown_command_idle_ms = 50;
  Start("127.201.1.14", options);
  // The terminal cannot tell where the unknown payload ends, so the request
  // right behind it in the same burst is drained with it.
  const test::Received received =
      Exchange(Concat(RequestBytes(1, 0x63, {1, 2}), RequestBytes(1, 1)), 10, kSilenceMs);
  EXPECT_EQ(received.bytes,
            (Bytes{0x7F, 0x01, 0x00, kResultUnknownCommand, 0x01 ^ kResultUnknownCommand}));
  EXPECT_EQ(simulator_->RequestsServed(), 1u);
}

TEST_F(TcpSimulatorTest, AnswersAnIdChangeFromTheOldIdThenOnlyToTheNewOne) {
  Start("127.201.1.6");
  EXPECT_EQ(Exchange(RequestBytes(1, 15, {9, 0}), 5).bytes, kCheckLinkAnswer);
  EXPECT_TRUE(Exchange(RequestBytes(1, 1), 1, kSilenceMs).bytes.empty());
  EXPECT_EQ(Exchange(RequestBytes(9, 1), 5).bytes, (Bytes{0x7F, 0x09, 0x00, 0x00, 0x09}));
  EXPECT_EQ(Exchange(RequestBytes(9, 15, {0x00, 0x01}), 5).bytes,
            (Bytes{0x7F, 0x09, 0x00, kResultValueOutOfRange, 0x09 ^ kResultValueOutOfRange}));
  EXPECT_EQ(simulator_->Snapshot().settings.terminal_id, 9);
}

TEST_F(TcpSimulatorTest, ReadsTheClockItWasStartedWith) {
  SimulatorOptions options;
  options.start_clock = DateTime{24, 2, 29, 12, 0, 0};
  Start("127.201.1.7", options);
  const Bytes answer = Exchange(RequestBytes(1, 8), 11).bytes;
  ASSERT_EQ(answer.size(), 11u);
  EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 8), (Bytes{0x7F, 0x01, 0x00, 0x00, 24, 2, 29, 12}));
  EXPECT_LE(answer[8] * 60 + answer[9], 5);  // generous: seconds since the start
}

TEST_F(TcpSimulatorTest, RefusesASettingsBlockOverTheWire) {
  Start("127.201.1.8");
  Bytes block(256, 0);  // 0 at offset 32 breaks a rule
  EXPECT_EQ(Exchange(RequestBytes(1, 3, block), 5).bytes,
            (Bytes{0x7F, 0x01, 0x00, kResultSystemDataRejected, 0x01 ^ kResultSystemDataRejected}));
}

TEST_F(TcpSimulatorTest, TracesEveryRequestAndResponseWithTheCommandName) {
  auto lines = std::make_shared<std::vector<std::string>>();
  auto lines_mutex = std::make_shared<std::mutex>();
  SimulatorOptions options;
  options.trace = [lines, lines_mutex](std::string_view line) {
    std::lock_guard lock(*lines_mutex);
    lines->emplace_back(line);
  };
  Start("127.201.1.9", options);
  ASSERT_EQ(Exchange(RequestBytes(1, 1), 5).bytes, kCheckLinkAnswer);
  simulator_->Stop();
  std::lock_guard lock(*lines_mutex);
  ASSERT_EQ(lines->size(), 2u);
  EXPECT_EQ((*lines)[0],
            "request  CheckLink (0x01): 51 51 41 56 52 45 4E 50 52 4F 54 4F 43 4F 4C 7F 01 00 01 00");
  EXPECT_EQ((*lines)[1], "response CheckLink (0x01): 7F 01 00 00 01");
}

TEST_F(TcpSimulatorTest, FailsToStartOnAnAddressInUseOrNotAnAddress) {
  Start("127.201.1.10");
  Simulator second;
  EXPECT_FALSE(second.StartTcp("127.201.1.10"));
  EXPECT_NE(second.LastError().find("bind"), std::string::npos) << second.LastError();
  EXPECT_FALSE(second.StartTcp("127.201.1"));
  EXPECT_FALSE(second.Running());
  EXPECT_FALSE(simulator_->StartTcp("127.201.1.11"));  // already running
}

TEST_F(TcpSimulatorTest, StopsPromptlyWithAClientConnected) {
  Start("127.201.1.12");
  LoopbackClient client = Connect();
  ASSERT_TRUE(client.Send(RequestBytes(1, 1)));
  ASSERT_EQ(client.Receive(5, kAnswerWaitMs).bytes, kCheckLinkAnswer);
  const auto before = std::chrono::steady_clock::now();
  simulator_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  EXPECT_FALSE(simulator_->Running());
  EXPECT_TRUE(client.Receive(1, kAnswerWaitMs).peer_closed);
  int error = 0;
  EXPECT_FALSE(LoopbackClient::Connect(address_, kDefaultTcpPort, &error));
  EXPECT_EQ(error, ECONNREFUSED);
}

TEST_F(TcpSimulatorTest, CanBeStartedAgainAfterStop) {
  Start("127.201.1.13");
  simulator_->Stop();
  ASSERT_TRUE(simulator_->StartTcp(address_)) << simulator_->LastError();
  EXPECT_EQ(Exchange(RequestBytes(1, 1), 5).bytes, kCheckLinkAnswer);
}

}  // namespace
}  // namespace pq640sim
