// One deadline per answer: a terminal that sends just fast enough to beat
// each read's own time-out still cannot hold a call for longer than the read
// wait plus what its bytes earn at the floor rate; a link at any working
// speed, and a host that takes its time in the progress callback, are not
// cut short. All times are virtual.
#include "record_builders.h"

namespace pq640::test {
namespace {

// The read waits (read time-out + 1 s) of the commands used here.
constexpr std::uint64_t kClockReadWaitMs = 3000;
constexpr std::uint64_t kLogReadWaitMs = 3000;

Bytes IoRecord(std::uint8_t tag) {
  Bytes r = {26, 12, 8, 9, 30, 0};
  r.insert(r.end(), 10, tag);
  return r;
}

// The bytes as chunks of one byte each, `gap_ms` apart.
std::deque<fake::Chunk> Dripped(const Bytes& bytes, std::uint32_t gap_ms) {
  std::deque<fake::Chunk> chunks;
  for (std::uint8_t b : bytes) chunks.push_back({{b}, gap_ms});
  return chunks;
}

class AnswerDeadline : public LibraryTest {
 protected:
  void Script(bool serial, std::deque<fake::Chunk> chunks) {
    if (serial) {
      os().serial.replies.push_back(std::move(chunks));
    } else {
      fake::SocketScript script;
      script.input = std::move(chunks);
      os().net.scripts.push_back(std::move(script));
    }
  }
  void Open(bool serial) { serial ? OpenSerial() : OpenTcp(); }
};

TEST_F(AnswerDeadline, AClockAnswerDrippedSlowerThanTheFloorEndsWithinTheReadWait) {
  for (bool serial : {false, true}) {
    Open(serial);
    // 2.5 s a byte: every read is served within its own wait.
    Script(serial, Dripped(ResponseFrame(0, 0, {26, 12, 8, 9, 30, 0}), 2500));
    PQ640_DateTime clock{};
    const std::uint64_t start = Now();
    EXPECT_EQ(PQ640_GetDateTime(&clock), PQ640_READ_FAILED) << serial;
    EXPECT_LE(Now() - start, kClockReadWaitMs + 1000) << serial;
    // TCP waits for each byte up to the read wait, so only the deadline ends it.
    if (!serial) {
      EXPECT_GE(Now() - start, kClockReadWaitMs);
    }
    // The link is usable for the next command.
    serial ? AnswerOverSerial(ResponseFrame(0, 0)) : (void)AnswerOverTcp(ResponseFrame(0, 0));
    EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
  }
}

TEST_F(AnswerDeadline, ALogReadDrippingMidRecordEndsWithTheValidRecordsCounted) {
  for (bool serial : {false, true}) {
    Open(serial);
    const Bytes fast = Concat({{0x7F, 0, 0, 0}, U32(3), IoRecord(1)});
    std::deque<fake::Chunk> chunks = {{fast, 0}};
    for (const fake::Chunk& c : Dripped(IoRecord(2), 1000)) chunks.push_back(c);
    Script(serial, chunks);
    PQ640_IORecord records[3];
    std::uint32_t count = 0;
    PQ640_RecordQuery query{};
    const std::uint64_t start = Now();
    EXPECT_EQ(PQ640_GetIORecordBounded(&query, 3, &count, records, nullptr), PQ640_READ_FAILED) << serial;
    EXPECT_EQ(count, 1u) << serial;
    EXPECT_LE(Now() - start, kLogReadWaitMs + 1000) << serial;
  }
}

// 400 records of 16 bytes, one every 12 ms (1333 bytes/s) and one every
// 40 ms (400 bytes/s): a TCP answer above 1 KiB/s goes on past the read wait
// for as long as it keeps coming; one below it is ended.
TEST_F(AnswerDeadline, TcpAnswersAboveTheFloorRunPastTheReadWaitAndBelowItEnd) {
  for (const auto& [gap_ms, expected] : {std::pair{12u, PQ640_OK}, std::pair{40u, PQ640_READ_FAILED}}) {
    Open(false);
    constexpr std::uint32_t kRecords = 400;
    const Bytes head = {0x7F, 0, 0, 0};
    std::deque<fake::Chunk> chunks = {{Concat({head, U32(kRecords)}), 0}};
    std::uint8_t x = 0;  // the trailer: ID and result are zero
    for (std::uint8_t b : U32(kRecords)) x ^= b;
    for (std::uint32_t i = 0; i < kRecords; ++i) {
      const Bytes r = IoRecord(static_cast<std::uint8_t>(i));
      for (std::uint8_t b : r) x ^= b;
      chunks.push_back({r, gap_ms});
    }
    chunks.push_back({{x}, 0});
    Script(false, chunks);
    std::vector<PQ640_IORecord> records(kRecords);
    std::uint32_t count = 0;
    PQ640_RecordQuery query{};
    const std::uint64_t start = Now();
    EXPECT_EQ(PQ640_GetIORecordBounded(&query, kRecords, &count, records.data(), nullptr), expected) << gap_ms;
    if (expected == PQ640_OK) {
      EXPECT_EQ(count, kRecords);
      EXPECT_GT(Now() - start, kLogReadWaitMs);  // 4.8 s: past the read wait, and fine
    } else {
      // 16 bytes earn 15.6 ms at the floor and a record takes 40 ms: the
      // deficit of 24.4 ms a record uses up the 3 s wait while the 123rd is
      // awaited (at 4880 ms 34 ms remain, the record is 40 ms away).
      EXPECT_EQ(count, 122u);
    }
  }
}

// A host that stores each record somewhere slow, 5 s of its own time per
// callback, keeps the whole answer: that time is not the terminal's.
void PQ640_CALL SlowHost(std::uint32_t, std::uint32_t) { fake::Os().now_ms += 5000; }

TEST_F(AnswerDeadline, TimeInTheProgressCallbackIsNotTheTerminals) {
  for (bool serial : {false, true}) {
    Open(serial);
    Bytes payload = U32(4);
    for (std::uint8_t i = 0; i < 4; ++i) {
      const Bytes r = IoRecord(i);
      payload.insert(payload.end(), r.begin(), r.end());
    }
    const Bytes frame = ResponseFrame(0, 0, payload);
    // The answer trickles in behind the host's callbacks, so every wait
    // happens after a slow callback.
    std::deque<fake::Chunk> chunks = {{Bytes(frame.begin(), frame.begin() + 8), 0}};
    for (std::size_t off = 8; off < frame.size(); off += 16) {
      chunks.push_back({Bytes(frame.begin() + off, frame.begin() + std::min(off + 16, frame.size())), 200});
    }
    Script(serial, chunks);
    PQ640_IORecord records[4];
    std::uint32_t count = 0;
    PQ640_RecordQuery query{};
    EXPECT_EQ(PQ640_GetIORecordBounded(&query, 4, &count, records, &SlowHost), PQ640_OK) << serial;
    EXPECT_EQ(count, 4u);
  }
}

// A serial answer at line speed is never cut, however large its reads: a
// 256-byte settings block at 2400 baud takes over a second.
TEST_F(AnswerDeadline, SerialReadsAtLineSpeedAreNotCut) {
  OpenSerial(1, 0);  // 2400 baud: 240 bytes a second
  Bytes block(256, 0);
  block[32] = 10;
  block[40] = 0xE8, block[41] = 0x03;
  block[48] = 0xE8, block[49] = 0x03;
  block[56] = 0x50, block[57] = 0xC3;
  const Bytes frame = ResponseFrame(0, 0, block);
  std::deque<fake::Chunk> chunks = {{Bytes(frame.begin(), frame.begin() + 4), 0}};
  // The block arrives in pieces of 24 bytes, 100 ms apart: line speed.
  for (std::size_t off = 4; off < frame.size(); off += 24) {
    chunks.push_back({Bytes(frame.begin() + off, frame.begin() + std::min(off + 24, frame.size())), 100});
  }
  os().serial.replies.push_back(chunks);
  PQ640_SystemData read{};
  EXPECT_EQ(PQ640_GetSystemData(&read), PQ640_OK);
  EXPECT_EQ(read.bytes[56], 0x50);
}

}  // namespace
}  // namespace pq640::test
