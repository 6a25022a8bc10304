// Time arithmetic, layouts, twin positions, UTC and back-off.
#include <gtest/gtest.h>

#include <cstring>

#include "record_layout.h"
#include "sync_cycle.h"
#include "time_zone.h"

namespace pq640collect {
namespace {

bool Same(const PQ640_DateTime& a, const PQ640_DateTime& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(RecordLayout, WallSecondsRoundTripAcrossLeapDaysAndCenturyEdges) {
  EXPECT_EQ(WallSeconds(kFirstSecond), 0);
  const PQ640_DateTime leap{24, 2, 29, 23, 59, 59};
  EXPECT_TRUE(Same(FromWallSeconds(WallSeconds(leap) + 1), PQ640_DateTime{24, 3, 1, 0, 0, 0}));
  EXPECT_TRUE(Same(FromWallSeconds(WallSeconds(PQ640_DateTime{26, 1, 1, 0, 0, 0}) - 1),
                   PQ640_DateTime{25, 12, 31, 23, 59, 59}));
  for (std::int64_t s = 0; s < WallSeconds(PQ640_DateTime{99, 12, 31, 23, 59, 59}); s += 86399 * 7 + 13) {
    ASSERT_EQ(WallSeconds(FromWallSeconds(s)), s);
  }
}

TEST(RecordLayout, TimeTextBothWays) {
  EXPECT_EQ(TimeText(PQ640_DateTime{26, 3, 5, 7, 8, 9}), "2026-03-05 07:08:09");
  EXPECT_TRUE(Same(*ParseTimeText("2026-03-05 07:08:09"), PQ640_DateTime{26, 3, 5, 7, 8, 9}));
  EXPECT_TRUE(Same(*ParseTimeText("2026-03-05", true), PQ640_DateTime{26, 3, 5, 23, 59, 59}));
  EXPECT_TRUE(Same(*ParseTimeText("2026-03-05"), PQ640_DateTime{26, 3, 5, 0, 0, 0}));
  for (const char* bad : {"2026-02-30", "1999-12-31", "2026-03-05 24:00:00", "2026-03-05T07:08:09", "2026-3-5"}) {
    EXPECT_FALSE(ParseTimeText(bad).has_value()) << bad;
  }
}

TEST(RecordLayout, FieldsInTheDocumentedLayout) {
  const RawRecord io{26, 3, 5, 7, 8, 9, 0x39, 0x30, 0, 0, 2, 1, 0x04, 0x03, 0x02, 0x01};
  const IoFields fields = DecodeIo(io);
  EXPECT_EQ(fields.user_id, 12345u);
  EXPECT_EQ(fields.verification, 2);
  EXPECT_EQ(fields.in_out, 1);
  EXPECT_EQ(fields.work_code, 0x01020304u);
  const RawRecord admin{26, 3, 5, 7, 8, 9, 7, 0, 0, 0, 5, 0x10, 0x27, 0, 0, 0xee};
  const AdminFields admin_fields = DecodeAdmin(admin);
  EXPECT_EQ(admin_fields.admin_id, 7u);
  EXPECT_EQ(admin_fields.operation, 5);
  EXPECT_EQ(admin_fields.target_user_id, 10000u);
}

TEST(RecordLayout, RangeQueryDocumentedOrTemplate) {
  const PQ640_DateTime from{26, 3, 1, 0, 0, 0}, to{26, 3, 2, 1, 2, 3};
  const PQ640_RecordQuery plain = RangeQuery(std::nullopt, from, to);
  const std::uint8_t expected[18] = {1, 26, 3, 1, 0, 0, 0, 26, 3, 2, 1, 2, 3, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(plain.bytes, expected, 18), 0);

  QueryTemplate custom;
  custom.bytes.fill(0xAA);
  custom.from_offset = 12;
  custom.to_offset = 0;
  const PQ640_RecordQuery own = RangeQuery(custom, from, to);
  EXPECT_EQ(std::memcmp(own.bytes + 12, &from, 6), 0);
  EXPECT_EQ(std::memcmp(own.bytes, &to, 6), 0);
  EXPECT_EQ(own.bytes[6], 0xAA);
  EXPECT_EQ(own.bytes[11], 0xAA);
}

TEST(RecordLayout, TwinsArePositionedAmongIdenticalRecordsOnly) {
  const RawRecord a{26, 3, 5, 7, 8, 9, 1};
  const RawRecord b{26, 3, 5, 7, 8, 9, 2};
  const RawRecord c{26, 3, 5, 7, 8, 10, 1};
  const std::vector<RawRecord> records{a, b, a, a, c, b, c};
  EXPECT_EQ(DuplicateIndexes(records), (std::vector<std::uint32_t>{0, 0, 1, 2, 0, 1, 1}));
}

TEST(TimeZone, UtcFollowsDaylightSavingTime) {
  UtcConverter berlin("Europe/Berlin");
  EXPECT_EQ(TimeText(berlin.ToUtc(PQ640_DateTime{26, 1, 15, 12, 0, 0})), "2026-01-15 11:00:00");
  EXPECT_EQ(TimeText(berlin.ToUtc(PQ640_DateTime{26, 7, 15, 12, 0, 0})), "2026-07-15 10:00:00");
  // Clocks went forward at 02:00 on 29 March 2026.
  EXPECT_EQ(TimeText(berlin.ToUtc(PQ640_DateTime{26, 3, 29, 1, 59, 59})), "2026-03-29 00:59:59");
  EXPECT_EQ(TimeText(berlin.ToUtc(PQ640_DateTime{26, 3, 29, 3, 0, 0})), "2026-03-29 01:00:00");
  UtcConverter utc("UTC");
  EXPECT_EQ(TimeText(utc.ToUtc(PQ640_DateTime{26, 7, 15, 12, 0, 0})), "2026-07-15 12:00:00");
  EXPECT_TRUE(TimeZoneExists("Europe/Berlin"));
  EXPECT_FALSE(TimeZoneExists("../etc/passwd"));
}

TEST(TimeZone, TheRepeatedHourIsFlaggedNotSilentlyMapped) {
  UtcConverter berlin("Europe/Berlin");
  // Clocks go back from 03:00 to 02:00 on 25 October 2026: 02:30 happens twice.
  EXPECT_TRUE(berlin.Ambiguous(PQ640_DateTime{26, 10, 25, 2, 30, 0}));
  EXPECT_EQ(TimeText(berlin.ToUtc(PQ640_DateTime{26, 10, 25, 2, 30, 0})), "2026-10-25 00:30:00");
  EXPECT_FALSE(berlin.Ambiguous(PQ640_DateTime{26, 10, 25, 1, 30, 0}));
  EXPECT_FALSE(berlin.Ambiguous(PQ640_DateTime{26, 10, 25, 3, 30, 0}));
  EXPECT_FALSE(berlin.Ambiguous(PQ640_DateTime{26, 3, 29, 2, 30, 0}));  // skipped, not repeated
  EXPECT_FALSE(berlin.Ambiguous(PQ640_DateTime{26, 7, 15, 2, 30, 0}));
  UtcConverter utc("UTC");
  EXPECT_FALSE(utc.Ambiguous(PQ640_DateTime{26, 10, 25, 2, 30, 0}));
}

TEST(Backoff, DoublesFromRetryUpToTheCap) {
  CollectorConfig config;
  config.retry = std::chrono::seconds(30);
  config.retry_max = std::chrono::seconds(300);
  EXPECT_EQ(BackoffSeconds(config, 1), 30);
  EXPECT_EQ(BackoffSeconds(config, 2), 60);
  EXPECT_EQ(BackoffSeconds(config, 4), 240);
  EXPECT_EQ(BackoffSeconds(config, 5), 300);
  EXPECT_EQ(BackoffSeconds(config, 500), 300);
}

}  // namespace
}  // namespace pq640collect
