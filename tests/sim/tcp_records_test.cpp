// Enrolment and log commands as whole frames over loopback TCP. Addresses
// 127.201.3.x, port 7413.
#include <gtest/gtest.h>

#include "pq640sim/generated_records.h"
#include "pq640sim/simulator.h"
#include "record_bytes.h"
#include "request_bytes.h"
#include "tcp_fixture.h"

namespace pq640sim {
namespace {

using test::Bytes;
using test::RequestBytes;
using test::TcpSimulatorTest;
using test::U32;
using TcpRecordsTest = TcpSimulatorTest;

// The response frame of terminal 1, built by hand.
Bytes Answer(std::uint8_t result, const Bytes& payload = {}) {
  Bytes frame{0x7F, 0x01, 0x00, result};
  frame.insert(frame.end(), payload.begin(), payload.end());
  std::uint8_t checksum = 0x01 ^ result;
  for (std::uint8_t byte : payload) checksum ^= byte;
  frame.push_back(checksum);
  return frame;
}

TEST_F(TcpRecordsTest, EnrolsAUserAndSendsItBackByteForByte) {
  Start("127.201.3.1");
  const Bytes user = test::UserWire(0x01020304, 2, 10, 0xC3);
  EXPECT_EQ(Exchange(RequestBytes(1, 16, user), 5).bytes, Answer(kResultOk));
  EXPECT_EQ(Exchange(RequestBytes(1, 19, U32(0x01020304)), 5 + user.size()).bytes,
            Answer(kResultOk, user));
  EXPECT_EQ(Exchange(RequestBytes(1, 19, U32(5)), 5).bytes, Answer(kResultUnknownId));
}

TEST_F(TcpRecordsTest, TakesAThousandTwoTemplateUsersInOneRequestAndListsThem) {
  Start("127.201.3.2");
  Bytes batch = U32(1000);
  for (std::uint32_t id = 1; id <= 1000; ++id) {
    const Bytes user = test::UserWire(id, 2, 10, static_cast<std::uint8_t>(id));
    batch.insert(batch.end(), user.begin(), user.end());
  }
  EXPECT_EQ(Exchange(RequestBytes(1, 21, batch), 5 + 1000).bytes, Answer(kResultOk, Bytes(1000, 0)));
  Bytes ids = U32(1000);
  for (std::uint32_t id = 1; id <= 1000; ++id) {
    const Bytes le = U32(id);
    ids.insert(ids.end(), le.begin(), le.end());
  }
  EXPECT_EQ(Exchange(RequestBytes(1, 20, {1}), 5 + ids.size()).bytes, Answer(kResultOk, ids));
  const Bytes all = Exchange(RequestBytes(1, 20, {2}), 5 + batch.size()).bytes;
  EXPECT_EQ(all, Answer(kResultOk, batch));
}

TEST_F(TcpRecordsTest, AnswersABatchCountOfZeroAsMalformedOnceTheLineIdles) {
  SimulatorOptions options;
  options.unknown_command_idle_ms = 50;
  Start("127.201.3.3", options);
  EXPECT_EQ(Exchange(RequestBytes(1, 22, U32(0)), 5).bytes, Answer(kResultMalformedRequest));
  EXPECT_EQ(Exchange(RequestBytes(1, 21, test::Batch(1, {test::UserWire(1, 3, 0)})), 5).bytes,
            Answer(kResultMalformedRequest));
  EXPECT_TRUE(simulator_->Snapshot().stored.users.empty());
}

TEST_F(TcpRecordsTest, SendsAHundredThousandGeneratedIoRecordsInOneAnswer) {
  SimulatorOptions options;
  options.start_clock = DateTime{25, 6, 15, 12, 0, 0};
  options.generated = {.users = 3000, .io_records = 100000};
  Start("127.201.3.4", options);
  const Bytes records = [&] {
    Bytes out = U32(100000);
    const ModelSnapshot held = simulator_->Snapshot();
    for (const LogRecord& record : held.stored.io_records) out.insert(out.end(), record.begin(), record.end());
    return out;
  }();
  ASSERT_EQ(records.size(), 4u + 16 * 100000);
  EXPECT_EQ(Exchange(RequestBytes(1, 72, test::Query(0)), 5 + records.size()).bytes,
            Answer(kResultOk, records));
}

TEST_F(TcpRecordsTest, PlantsTheInvalidRecordInTheAnswerFrameWithAMatchingChecksum) {
  Start("127.201.3.5");
  StoredRecords seeded;
  for (std::uint8_t day = 1; day <= 5; ++day) seeded.io_records.push_back({25, 3, day, 8, 0, 0, 1});
  simulator_->Model().SetStoredRecords(seeded);
  Faults faults;
  faults.invalid_io_record_at = 2;
  simulator_->SetFaults(faults);

  Bytes expected = U32(5);
  for (LogRecord record : seeded.io_records) {
    if (record[2] == 3) record[1] = 13;
    expected.insert(expected.end(), record.begin(), record.end());
  }
  EXPECT_EQ(Exchange(RequestBytes(1, 72, test::Query(0)), 5 + expected.size()).bytes,
            Answer(kResultOk, expected));
  simulator_->ClearFaults();
  EXPECT_EQ(simulator_->Snapshot().stored.io_records, seeded.io_records);
}

TEST_F(TcpRecordsTest, AddsAnIoRecordAndCountsItForItsUserInATimeRange) {
  Start("127.201.3.6");
  const Bytes record = test::IoRecordBytes({25, 3, 1, 8, 0, 0}, 77, 0);
  EXPECT_EQ(Exchange(RequestBytes(1, 75, record), 5).bytes, Answer(kResultOk));
  const Bytes users = test::UsersQuery({5, 77}, 0xFF, {25, 3, 1, 8, 0, 0}, {25, 3, 1, 8, 0, 0});
  EXPECT_EQ(Exchange(RequestBytes(1, 77, users), 9).bytes, Answer(kResultOk, U32(1)));
  EXPECT_EQ(Exchange(RequestBytes(1, 76, users), 25).bytes, Answer(kResultOk, test::Concat(U32(1), record)));
  EXPECT_EQ(Exchange(RequestBytes(1, 73, test::Query(9)), 5).bytes, Answer(kResultUnknownQueryKind));
}

}  // namespace
}  // namespace pq640sim
