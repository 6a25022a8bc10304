// The count-surplus fault: reading answers announce more entries than the
// count commands give, while the count commands and the stores stay true.
#include <gtest/gtest.h>

#include <cstdint>

#include "pq640sim/little_endian.h"
#include "pq640sim/terminal_model.h"
#include "record_bytes.h"

namespace pq640sim {
namespace {

using test::Bytes;
using test::IoRecordBytes;
using test::Query;
using test::U32;
using test::UserWire;

std::uint32_t CountOf(const Reply& reply) {
  EXPECT_EQ(reply.result, kResultOk);
  return LoadU32(reply.payload, 0);
}

class CountSurplusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(model_.Handle(16, user_).result, kResultOk);
    ASSERT_EQ(model_.Handle(75, punch_).result, kResultOk);
  }
  const Bytes user_ = UserWire(7, 1, 4);
  const Bytes punch_ = IoRecordBytes({26, 1, 2, 8, 0, 0}, 7, 0);
  TerminalModel model_;
};

TEST_F(CountSurplusTest, ReadingAnswersAnnounceAndSendTheSurplusAsCopiesOfTheLastEntry) {
  model_.SetCountSurplus(3);
  const Reply records = model_.Handle(20, Bytes{2});
  EXPECT_EQ(CountOf(records), 4u);
  ASSERT_EQ(records.payload.size(), 4 + 4 * user_.size());
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Bytes(records.payload.begin() + 4 + i * user_.size(),
                    records.payload.begin() + 4 + (i + 1) * user_.size()),
              user_);
  }
  const Reply ids = model_.Handle(20, Bytes{1});
  EXPECT_EQ(ids.payload, (Bytes{4, 0, 0, 0, 7, 0, 0, 0, 7, 0, 0, 0, 7, 0, 0, 0, 7, 0, 0, 0}));
  const Reply io = model_.Handle(72, Query(0));
  EXPECT_EQ(CountOf(io), 4u);
  EXPECT_EQ(io.payload.size(), 4 + 4 * 16u);
  // Count-only answers and the count mode stay true: what a host sizes from.
  EXPECT_EQ(model_.Handle(73, Query(0)).payload, U32(1));
  EXPECT_EQ(model_.Handle(20, Bytes{0}).payload, U32(1));
  EXPECT_EQ(model_.Snapshot().stored.io_records.size(), 1u);
}

TEST_F(CountSurplusTest, AHugeSurplusSaturatesTheCountAndSendsABoundedTail) {
  model_.SetCountSurplus(0xFFFFFFFFu);
  const Reply io = model_.Handle(72, Query(0));
  EXPECT_EQ(CountOf(io), 0xFFFFFFFFu);
  EXPECT_EQ(io.payload.size(), 4 + 16u * (1 + 1000));
  model_.SetCountSurplus(std::nullopt);
  EXPECT_EQ(CountOf(model_.Handle(72, Query(0))), 1u);
}

}  // namespace
}  // namespace pq640sim
