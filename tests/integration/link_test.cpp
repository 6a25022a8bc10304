// Transactions against the simulator: a working link check and what the
// library makes of a misbehaving terminal, over TCP and over a serial line.
#include "sim_fixture.h"

namespace pq640::integration {
namespace {

using LinkCheck = EitherLink;

TEST_P(LinkCheck, TerminalAnswers) {
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);  // a second transaction on the same link
  EXPECT_EQ(sim_.RequestsServed(), 2u);
  const std::vector<std::uint8_t> request = sim_.LastRequest();
  ASSERT_EQ(request.size(), 20u);
  EXPECT_EQ(std::string(request.begin(), request.begin() + 15), "QQAVRENPROTOCOL");
}

TEST_P(LinkCheck, NoiseBeforeTheStartByteIsSkipped) {
  pq640sim::Faults faults;
  faults.noise_before_start = {'Q', 'Q', 'A', 'V', 0x00, 0xFF, 0x7E};
  sim_.SetFaults(faults);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
}

TEST_P(LinkCheck, AnswerFromAnotherTerminal) {
  pq640sim::Faults faults;
  faults.answer_terminal_id = static_cast<std::uint16_t>(sim_.Model().TerminalId() + 1);
  sim_.SetFaults(faults);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_WRONG_TERMINAL);
  // The unread rest of that answer does not spoil the next exchange.
  sim_.ClearFaults();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
}

TEST_P(LinkCheck, TerminalResultByte) {
  pq640sim::Faults faults;
  faults.answer_result = 7;
  sim_.SetFaults(faults);
  EXPECT_EQ(PQ640_CheckLink(), 7);
}

TEST_P(LinkCheck, CorruptedChecksum) {
  pq640sim::Faults faults;
  faults.corrupt_checksum = true;
  sim_.SetFaults(faults);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_BAD_CHECKSUM);
}

TEST_P(LinkCheck, SilentTerminalTimesOut) {
  pq640sim::Faults faults;
  faults.stall_after_bytes = 0;
  sim_.SetFaults(faults);
  ResultCode result = PQ640_OK;
  // 2000 ms read time-out (+1000 ms over TCP, +100 ms for the byte on serial).
  const long long ms = ElapsedMs([&] { result = PQ640_CheckLink(); });
  EXPECT_EQ(result, GetParam() == Link::kTcp ? PQ640_TCP_FAILED : PQ640_READ_FAILED);
  EXPECT_GE(ms, 1900);
  EXPECT_LT(ms, 10000);
}

INSTANTIATE_TEST_SUITE_P(Links, LinkCheck, ::testing::Values(Link::kTcp, Link::kSerial), LinkName);

using TcpOnly = SimulatorTest;

TEST_F(TcpOnly, RefusedConnectionThenRecovery) {
  Connect(Link::kTcp);
  pq640sim::Faults faults;
  faults.refuse_connections = true;
  sim_.SetFaults(faults);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_READ_FAILED);
  sim_.ClearFaults();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
}

TEST_F(TcpOnly, TerminalClosingMidResponse) {
  Connect(Link::kTcp);
  pq640sim::Faults faults;
  faults.close_after_bytes = 2;
  sim_.SetFaults(faults);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_READ_FAILED);
}

TEST_F(TcpOnly, CommandAfterCloseFailsWithoutSocketLayer) {
  Connect(Link::kTcp);
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  ASSERT_EQ(PQ640_ClosePort(), PQ640_OK);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_SOCKET_FAILED);
}

}  // namespace
}  // namespace pq640::integration
