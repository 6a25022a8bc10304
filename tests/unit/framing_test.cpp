// Request and response frames over the TCP link: exact request bytes, the
// start-byte search, the ID and checksum checks, and the result byte.
#include "protocol/framing.h"
#include "test_support.h"

namespace pq640::test {
namespace {

class Framing : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    OpenTcp();
  }
};

TEST_F(Framing, CheckLinkRequestBytes) {
  ASSERT_EQ(PQ640_SetTerminalID(1), PQ640_OK);
  AnswerOverTcp(ResponseFrame(1, 0));
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  const Bytes preamble = {'Q', 'Q', 'A', 'V', 'R', 'E', 'N', 'P', 'R', 'O', 'T', 'O', 'C', 'O', 'L'};
  EXPECT_EQ(fake::LastSocket().sent, Concat({preamble, {0x7F, 0x01, 0x00, 0x01, 0x00}}));
  EXPECT_EQ(fake::LastSocket().sent, RequestFrame(1, 1));
}

// Only the one right value matches: 0x00 included, for a frame whose trailer
// is not 0x00, with and without a payload.
TEST_F(Framing, EveryWrongTrailerValueIsRefused) {
  const PQ640_DateTime sent{26, 12, 8, 9, 30, 0};
  const Bytes frames[] = {ResponseFrame(0, 0x21), ResponseFrame(0, 0, {26, 12, 8, 9, 30, 0})};
  for (const Bytes& frame : frames) {
    ASSERT_NE(frame.back(), 0x00);
    for (int trailer = 0; trailer < 256; ++trailer) {
      Bytes answer = frame;
      answer.back() = static_cast<std::uint8_t>(trailer);
      AnswerOverTcp(answer);
      PQ640_DateTime clock{};
      const PQ640_ResultCode expected =
          trailer != frame.back() ? PQ640_BAD_CHECKSUM : (frame.size() == 5 ? 0x21 : PQ640_OK);
      const PQ640_ResultCode got = frame.size() == 5 ? PQ640_SetDateTime(&sent) : PQ640_GetDateTime(&clock);
      EXPECT_EQ(got, expected) << "trailer " << trailer;
    }
  }
}

// A payload command answered with a refusal: the trailer of that short frame
// is still checked before the result byte is believed.
TEST_F(Framing, ARefusalToAPayloadCommandHasItsTrailerChecked) {
  Bytes refusal = ResponseFrame(0, 0x05);
  AnswerOverTcp(refusal);
  PQ640_DateTime clock{};
  EXPECT_EQ(PQ640_GetDateTime(&clock), 0x05);
  refusal.back() ^= 0x40;
  AnswerOverTcp(refusal);
  EXPECT_EQ(PQ640_GetDateTime(&clock), PQ640_BAD_CHECKSUM);
}

TEST_F(Framing, NoiseBeforeTheStartByteIsSkipped) {
  const Bytes noise = {'Q', 'Q', 'A', 'V', 0x00, 0xFF, 0x7E, 'L'};
  AnswerOverTcp(Concat({noise, ResponseFrame(0, 0)}));
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
}

TEST_F(Framing, ResponseFromAnotherTerminalIsNotReadFurther) {
  ASSERT_EQ(PQ640_SetTerminalID(4), PQ640_OK);
  AnswerOverTcp(ResponseFrame(5, 0));
  EXPECT_EQ(PQ640_CheckLink(), PQ640_WRONG_TERMINAL);
  // The result byte and trailer are still waiting unread (received ahead).
  EXPECT_TRUE(fake::LastSocket().script.input.empty());
  EXPECT_EQ(Port().read_ahead.end - Port().read_ahead.begin, 2u);
}

TEST_F(Framing, HighByteOfTheIdCounts) {
  AnswerOverTcp({0x7F, 0x00, 0x01, 0x00, 0x01});
  EXPECT_EQ(PQ640_CheckLink(), PQ640_WRONG_TERMINAL);
}

TEST_F(Framing, TerminalResultByteWithItsTrailerChecked) {
  AnswerOverTcp(ResponseFrame(0, 7));
  EXPECT_EQ(PQ640_CheckLink(), 7);

  Bytes corrupted = ResponseFrame(0, 7);
  corrupted.back() ^= 0x01;
  AnswerOverTcp(corrupted);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_BAD_CHECKSUM);
}

TEST_F(Framing, BadChecksumOnSuccess) {
  Bytes corrupted = ResponseFrame(0, 0);
  corrupted.back() ^= 0x80;
  AnswerOverTcp(corrupted);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_BAD_CHECKSUM);
}

TEST_F(Framing, MissingTrailerIsTheTcpWaitFailure) {
  Bytes cut = ResponseFrame(0, 0);
  cut.pop_back();
  AnswerOverTcp(cut);
  const std::uint64_t start = Now();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_TCP_FAILED);
  EXPECT_EQ(Now() - start, 3000u);
}

TEST_F(Framing, SilentTerminalTimesOutAfterReadTimeoutPlusOneSecond) {
  fake::SocketScript silent;
  os().net.scripts.push_back(silent);
  const std::uint64_t start = Now();
  EXPECT_EQ(PQ640_CheckLink(), PQ640_TCP_FAILED);
  EXPECT_EQ(Now() - start, 3000u);
}

TEST_F(Framing, StartByteSearchGivesUpAfter65536Bytes) {
  AnswerOverTcp(Concat({Bytes(65536, 0x55), ResponseFrame(0, 0)}));
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);

  AnswerOverTcp(Concat({Bytes(65537, 0x55), ResponseFrame(0, 0)}));
  EXPECT_EQ(PQ640_CheckLink(), PQ640_READ_FAILED);
}

TEST_F(Framing, ChecksumStateAfterATransaction) {
  ASSERT_EQ(PQ640_SetTerminalID(0x21), PQ640_OK);
  AnswerOverTcp(ResponseFrame(0x21, 0));
  ASSERT_EQ(PQ640_CheckLink(), PQ640_OK);
  EXPECT_FALSE(Port().checksum_enabled);
  EXPECT_EQ(Port().checksum, 0x21);  // ID and result 0, as the trailer said
}

TEST_F(Framing, HeaderGuardsWithoutALink) {
  Port().tcp_socket = os::kInvalidSocket;
  EXPECT_EQ(ReadResponseHeader(ResponsePayload::kNone), PQ640_NO_SOCKET);
  ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, 1, 2), PQ640_OK);
  Port().serial_port = 0;
  EXPECT_EQ(ReadResponseHeader(ResponsePayload::kNone), PQ640_NO_SERIAL_PORT);
  EXPECT_EQ(BeginRequest(1), PQ640_NO_SERIAL_PORT);
}

TEST_F(Framing, CommandTableCodesAndTimeouts) {
  EXPECT_EQ(CodeOf(kCommandInfo<Command::kCheckLink>.command), 1);
  EXPECT_EQ(kCommandInfo<Command::kSetSystemData>.read_timeout_ms, 5000u);
  EXPECT_EQ(kCommandInfo<Command::kSetTermCommMode>.read_timeout_ms, 3000u);
  EXPECT_EQ(kCommandInfo<Command::kDeleteAllDataRom>.read_timeout_ms, 25000u);
  EXPECT_EQ(CodeOf(Command::kDeleteAllDataRom), 0xE0);
  // Every code appears once.
  for (std::size_t i = 0; i < kCommandTable.size(); ++i) {
    for (std::size_t j = i + 1; j < kCommandTable.size(); ++j) {
      EXPECT_NE(kCommandTable[i].command, kCommandTable[j].command);
    }
  }
}

}  // namespace
}  // namespace pq640::test
