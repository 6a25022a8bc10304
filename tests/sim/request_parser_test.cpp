#include "pq640sim/request_parser.h"

#include <gtest/gtest.h>

#include <vector>

#include "request_bytes.h"

namespace pq640sim {
namespace {

using test::Concat;
using test::RequestBytes;
using Kind = RequestFrame::Kind;

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(RequestParserFraming, ParsesACheckLinkRequestByteForByte) {
  const std::vector<std::uint8_t> wire = Concat(Bytes("QQAVRENPROTOCOL"), {0x7F, 0x01, 0x00, 0x01, 0x00});
  RequestParser parser;
  parser.Feed(wire);
  const auto frame = parser.Next();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->kind, Kind::kRequest);
  EXPECT_EQ(frame->terminal_id, 1);
  EXPECT_EQ(frame->command, 1);
  EXPECT_TRUE(frame->payload.empty());
  EXPECT_EQ(frame->raw, wire);
  EXPECT_FALSE(parser.Next().has_value());
  EXPECT_EQ(parser.BufferedBytes(), 0u);
}

TEST(RequestParserFraming, TakesThePayloadLengthFromTheCommand) {
  std::vector<std::uint8_t> block(256, 0xA5);
  RequestParser parser;
  parser.Feed(Concat(RequestBytes(3, 3, block), RequestBytes(3, 9, {24, 2, 29, 23, 59, 58})));
  const auto set_system_data = parser.Next();
  const auto set_date_time = parser.Next();
  ASSERT_TRUE(set_system_data && set_date_time);
  EXPECT_EQ(set_system_data->kind, Kind::kRequest);
  EXPECT_EQ(set_system_data->payload, block);
  EXPECT_EQ(set_date_time->kind, Kind::kRequest);
  EXPECT_EQ(set_date_time->payload, (std::vector<std::uint8_t>{24, 2, 29, 23, 59, 58}));
  EXPECT_EQ(set_date_time->terminal_id, 3);
}

TEST(RequestParserFraming, ReadsTheTerminalIdAsLittleEndianSixteenBits) {
  RequestParser parser;
  parser.Feed(RequestBytes(0x0105, 1));
  const auto frame = parser.Next();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->terminal_id, 0x0105);
}

TEST(RequestParserFraming, FlagsABadChecksumButKeepsTheFrame) {
  std::vector<std::uint8_t> wire = RequestBytes(1, 14, {7});
  wire.back() ^= 0x40;
  RequestParser parser;
  parser.Feed(wire);
  const auto frame = parser.Next();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->kind, Kind::kBadChecksum);
  EXPECT_EQ(frame->raw, wire);
}

TEST(RequestParserSearch, SkipsTheWakeUpZerosBeforeThePreamble) {
  RequestParser parser;
  parser.Feed(std::vector<std::uint8_t>(2048, 0x00));
  EXPECT_FALSE(parser.Next().has_value());
  EXPECT_LT(parser.BufferedBytes(), 15u);
  parser.Feed(RequestBytes(1, 1));
  const auto frame = parser.Next();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->kind, Kind::kRequest);
  EXPECT_EQ(frame->raw, RequestBytes(1, 1));
}

TEST(RequestParserSearch, SkipsNoiseMadeOfPreambleCharacters) {
  // A truncated preamble, then a full preamble without its start byte, then a
  // doubled first character directly before the real request.
  const std::vector<std::uint8_t> noise =
      Concat(Concat(Bytes("QQAVREN"), Bytes("QQAVRENPROTOCOL")), Bytes("Q\x7FQ"));
  RequestParser parser;
  parser.Feed(Concat(noise, RequestBytes(1, 8)));
  const auto frame = parser.Next();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->kind, Kind::kRequest);
  EXPECT_EQ(frame->command, 8);
  EXPECT_EQ(frame->raw, RequestBytes(1, 8));
  EXPECT_FALSE(parser.Next().has_value());
}

TEST(RequestParserSearch, KeepsOnlyAShortTailOfEndlessNoise) {
  RequestParser parser;
  for (int i = 0; i < 100; ++i) parser.Feed(std::vector<std::uint8_t>(1000, 'Q'));
  EXPECT_FALSE(parser.Next().has_value());
  EXPECT_LT(parser.BufferedBytes(), 15u);
}

TEST(RequestParserSplitArrival, AssemblesARequestFedOneByteAtATime) {
  const std::vector<std::uint8_t> wire = RequestBytes(2, 15, {9, 0});
  RequestParser parser;
  for (std::size_t i = 0; i + 1 < wire.size(); ++i) {
    parser.Feed(std::span(wire).subspan(i, 1));
    ASSERT_FALSE(parser.Next().has_value()) << "frame reported after " << i + 1 << " bytes";
  }
  parser.Feed(std::span(wire).last(1));
  const auto frame = parser.Next();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->kind, Kind::kRequest);
  EXPECT_EQ(frame->payload, (std::vector<std::uint8_t>{9, 0}));
}

TEST(RequestParserSplitArrival, ReturnsBackToBackRequestsInOrder) {
  RequestParser parser;
  parser.Feed(Concat(Concat(RequestBytes(1, 1), RequestBytes(1, 2)), RequestBytes(1, 8)));
  std::vector<std::uint8_t> commands;
  while (auto frame = parser.Next()) commands.push_back(frame->command);
  EXPECT_EQ(commands, (std::vector<std::uint8_t>{1, 2, 8}));
}

TEST(RequestParserUnknownCommands, ReportsTheHeaderAndResumesTheSearchAfterIt) {
  const std::vector<std::uint8_t> unknown = RequestBytes(1, 0x63, {1, 2, 3});
  RequestParser parser;
  parser.Feed(Concat(unknown, RequestBytes(1, 1)));
  const auto first = parser.Next();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->kind, Kind::kUnknownCommand);
  EXPECT_EQ(first->command, 0x63);
  EXPECT_EQ(first->raw, std::vector<std::uint8_t>(unknown.begin(), unknown.begin() + 19));
  const auto second = parser.Next();
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->kind, Kind::kRequest);
  EXPECT_EQ(second->command, 1);
}

TEST(RequestParserUnknownCommands, ResetDropsBufferedInput) {
  RequestParser parser;
  const std::vector<std::uint8_t> wire = RequestBytes(1, 1);
  parser.Feed(std::span(wire).first(10));
  parser.Reset();
  parser.Feed(std::span(wire).subspan(10));
  EXPECT_FALSE(parser.Next().has_value());
  EXPECT_EQ(parser.BufferedBytes(), 10u);
}

// A variable-length payload: one count byte, then that many bytes; counts
// above 4 cannot be valid. Stands in for the record and ID-list readers.
PayloadScan CountedPayload(std::span<const std::uint8_t> received) {
  if (received.empty()) return {PayloadScan::Status::kNeedMore, 0};
  if (received[0] > 4) return {PayloadScan::Status::kMalformed, 0};
  const std::size_t length = 1 + received[0];
  if (received.size() < length) return {PayloadScan::Status::kNeedMore, 0};
  return {PayloadScan::Status::kComplete, length};
}

const CommandInfo* CountedCommandOnly(std::uint8_t code) {
  static constexpr CommandInfo kCounted{0x40, "Counted", &CountedPayload};
  return code == kCounted.code ? &kCounted : nullptr;
}

TEST(RequestParserVariablePayloads, AskTheCommandsReaderWhereThePayloadEnds) {
  RequestParser parser(&CountedCommandOnly);
  const std::vector<std::uint8_t> wire = RequestBytes(1, 0x40, {3, 10, 20, 30});
  parser.Feed(std::span(wire).first(wire.size() - 2));
  EXPECT_FALSE(parser.Next().has_value());
  parser.Feed(std::span(wire).last(2));
  const auto frame = parser.Next();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->kind, Kind::kRequest);
  EXPECT_EQ(frame->payload, (std::vector<std::uint8_t>{3, 10, 20, 30}));
}

TEST(RequestParserVariablePayloads, ReportAPayloadTheReaderRejects) {
  RequestParser parser(&CountedCommandOnly);
  parser.Feed(RequestBytes(1, 0x40, {9, 1, 2}));
  const auto frame = parser.Next();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->kind, Kind::kMalformedPayload);
  EXPECT_EQ(frame->raw.size(), 19u);
}

}  // namespace
}  // namespace pq640sim
