// The payload readers of the enrolment and log commands: where a
// variable-length request ends, when to wait, and when to give up.
#include <gtest/gtest.h>

#include "pq640sim/command_table.h"
#include "pq640sim/enrolment_layout.h"
#include "record_bytes.h"
#include "request_bytes.h"

namespace pq640sim {
namespace {

using Status = PayloadScan::Status;
using test::AdminWire;
using test::Batch;
using test::Bytes;
using test::IdList;
using test::U32;
using test::UserWire;

// Every proper prefix needs more; the whole is complete at its own length,
// also with further bytes (the next request) behind it.
void ExpectExactLength(PayloadReader reader, const Bytes& payload) {
  for (std::size_t size = 0; size < payload.size(); ++size) {
    ASSERT_EQ(reader(std::span(payload).first(size)).status, Status::kNeedMore) << "prefix " << size;
  }
  const Bytes longer = test::Concat(payload, Bytes(7, 0x7F));
  for (const Bytes* bytes : {&payload, &longer}) {
    const PayloadScan scan = reader(*bytes);
    EXPECT_EQ(scan.status, Status::kComplete);
    EXPECT_EQ(scan.length, payload.size());
  }
}

PayloadReader ReaderOf(std::uint8_t code) {
  const CommandInfo* info = FindCommand(code);
  return info ? info->payload : nullptr;
}

TEST(EnrolmentPayloadReaders, FindTheEndOfUserRecordsOfEverySize) {
  ExpectExactLength(ReaderOf(16), UserWire(1, 0, 0));
  EXPECT_EQ(UserWire(1, 0, 0).size(), 16u);
  ExpectExactLength(ReaderOf(16), UserWire(2, 2, 10));
  EXPECT_EQ(UserWire(2, 2, 10).size(), 986u);
  // A code of 1 to 3 bytes can be delimited; the model refuses it later.
  ExpectExactLength(ReaderOf(16), UserWire(3, 1, 2));
}

TEST(EnrolmentPayloadReaders, FindTheEndOfAdministratorRecords) {
  ExpectExactLength(ReaderOf(32), AdminWire(1, 0, 1, 4));
  EXPECT_EQ(AdminWire(1, 0, 1, 4).size(), 500u);
  ExpectExactLength(ReaderOf(32), AdminWire(2, 2, 0, 0));
  // The level does not change the length: a level of 7 is delimited normally.
  ExpectExactLength(ReaderOf(32), AdminWire(3, 7, 2, 10));
}

TEST(EnrolmentPayloadReaders, CallRecordsMalformedWhenACountIsBeyondTheTerminalsLimits) {
  for (const Bytes& record : {UserWire(1, 3, 0), UserWire(1, 0, 11), UserWire(1, 255, 0)}) {
    EXPECT_EQ(ReaderOf(16)(record).status, Status::kMalformed);
  }
  EXPECT_EQ(ReaderOf(32)(AdminWire(1, 0, 3, 4)).status, Status::kMalformed);
  EXPECT_EQ(ReaderOf(32)(AdminWire(1, 0, 1, 11)).status, Status::kMalformed);
  // Decided as soon as the bad count arrives, without waiting for the rest.
  EXPECT_EQ(ReaderOf(16)(Bytes{1, 0, 0, 0, 3}).status, Status::kMalformed);
  Bytes code_length_only = UserWire(1, 1, 0);
  code_length_only.resize(4 + 1 + 480 + 1);
  code_length_only.back() = 12;
  EXPECT_EQ(ReaderOf(16)(code_length_only).status, Status::kMalformed);
}

TEST(EnrolmentPayloadReaders, WalkABatchOfUserRecordsOfMixedSizes) {
  const Bytes batch = Batch(3, {UserWire(1, 2, 10), UserWire(2, 0, 0), UserWire(3, 1, 4)});
  ExpectExactLength(ReaderOf(21), batch);
  // A bad count in the last record spoils the whole batch.
  EXPECT_EQ(ReaderOf(21)(Batch(2, {UserWire(1, 0, 0), UserWire(2, 3, 0)})).status,
            Status::kMalformed);
}

TEST(EnrolmentPayloadReaders, ReadIdListsOfOneToAThousandEntries) {
  for (std::uint8_t code : {22, 23}) {
    ExpectExactLength(ReaderOf(code), IdList({5}));
    Bytes thousand = U32(1000);
    thousand.resize(4 + 4000, 0xEE);
    ExpectExactLength(ReaderOf(code), thousand);
  }
}

TEST(EnrolmentPayloadReaders, CallBatchCountsOfZeroOrAboveAThousandMalformed) {
  for (std::uint8_t code : {21, 22, 23, 76, 77}) {
    for (std::uint32_t count : {0u, 1001u, 0xFFFFFFFFu}) {
      EXPECT_EQ(ReaderOf(code)(U32(count)).status, Status::kMalformed)
          << "command " << int(code) << " count " << count;
    }
  }
}

TEST(LogPayloadReaders, ReadTheUserListThenSelectorAndTimeRange) {
  const Bytes payload = test::UsersQuery({1, 2, 3}, 0xFF, {24, 1, 1, 0, 0, 0}, {24, 12, 31, 23, 59, 59});
  EXPECT_EQ(payload.size(), 4u + 12 + 1 + 6 + 6);
  ExpectExactLength(ReaderOf(76), payload);
  ExpectExactLength(ReaderOf(77), payload);
}

TEST(LogPayloadReaders, TakeFixedQueriesAndRecords) {
  for (std::uint8_t code : {64, 65, 66, 72, 73, 74}) ExpectExactLength(ReaderOf(code), Bytes(18, 3));
  for (std::uint8_t code : {67, 75}) ExpectExactLength(ReaderOf(code), Bytes(16, 3));
}

}  // namespace
}  // namespace pq640sim
