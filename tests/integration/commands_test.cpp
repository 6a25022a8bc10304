// Terminal control, clock and settings block round-tripped against the
// simulator, over TCP and over a serial line.
#include <cstring>

#include "sim_fixture.h"

namespace pq640::integration {
namespace {

using Control = EitherLink;

TEST_P(Control, ChangeTerminalIdThenTalkToTheNewId) {
  const std::uint16_t old_id = sim_.Model().TerminalId();
  ASSERT_EQ(PQ640_ChangeTerminalID(42), PQ640_OK);
  EXPECT_EQ(sim_.Model().TerminalId(), 42u);
  EXPECT_EQ(PQ640_CheckLink(), PQ640_OK);
  // The library now speaks as 42; a host still using the old ID gets no answer.
  ASSERT_EQ(PQ640_SetTerminalID(old_id), PQ640_OK);
  EXPECT_NE(PQ640_CheckLink(), PQ640_OK);
}

TEST_P(Control, ModeAndMatchingValueAreStored) {
  ASSERT_EQ(PQ640_SetTermCommMode(2), PQ640_OK);
  ASSERT_EQ(PQ640_SetMatchingPerform(0xC8), PQ640_OK);
  const pq640sim::ModelSnapshot s = sim_.Snapshot();
  EXPECT_EQ(s.settings.comm_mode, 2u);
  EXPECT_EQ(s.settings.matching_value, 0xC8u);
  EXPECT_EQ(PQ640_SetTermCommMode(3), PQ640_OUT_OF_RANGE);
}

TEST_P(Control, UpdateCommStateIsStoredByTheTerminal) {
  ASSERT_EQ(PQ640_UpdateCommState(0x0C2), PQ640_OK);  // baud 2, field b 4, field c 1
  EXPECT_EQ(sim_.Snapshot().settings.comm_state, 0x0C2u);
}

TEST_P(Control, DeleteAllDataRomWipesTheTerminal) {
  PQ640_SystemData block{};
  ASSERT_EQ(PQ640_GetSystemData(&block), PQ640_OK);
  block.bytes[0] = 30;
  block.bytes[200] = 0x5A;
  ASSERT_EQ(PQ640_SetSystemData(&block), PQ640_OK);
  ASSERT_EQ(PQ640_DeleteAllDataRom(), PQ640_OK);
  EXPECT_EQ(sim_.Snapshot().erase_count, 1u);
  PQ640_SystemData after{};
  ASSERT_EQ(PQ640_GetSystemData(&after), PQ640_OK);
  EXPECT_NE(after.bytes[200], 0x5A);  // back to the defaults
}

TEST_P(Control, ClockSetThenRead) {
  const PQ640_DateTime set = {24, 2, 29, 23, 59, 30};
  ASSERT_EQ(PQ640_SetDateTime(&set), PQ640_OK);
  PQ640_DateTime read{};
  ASSERT_EQ(PQ640_GetDateTime(&read), PQ640_OK);
  EXPECT_EQ(read.year, 24);
  EXPECT_EQ(read.month, 2);
  EXPECT_EQ(read.day, 29);
  EXPECT_EQ(read.hour, 23);
  EXPECT_EQ(read.minute, 59);
  // The terminal's clock runs: a few seconds at most have passed.
  EXPECT_GE(read.second, 30);
  EXPECT_LE(read.second, 45);
}

TEST_P(Control, InvalidClockFromTheTerminal) {
  pq640sim::Faults faults;
  faults.invalid_clock = true;
  sim_.SetFaults(faults);
  PQ640_DateTime read{};
  EXPECT_EQ(PQ640_GetDateTime(&read), PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(read.month, 13);
}

TEST_P(Control, SettingsBlockRoundTrip) {
  PQ640_SystemData block{};
  ASSERT_EQ(PQ640_GetSystemData(&block), PQ640_OK);
  for (int i = 72; i < 256; ++i) block.bytes[i] = static_cast<std::uint8_t>(255 - i);
  block.bytes[0] = 12;
  ASSERT_EQ(PQ640_SetSystemData(&block), PQ640_OK);
  PQ640_SystemData read{};
  ASSERT_EQ(PQ640_GetSystemData(&read), PQ640_OK);
  EXPECT_EQ(std::memcmp(read.bytes, block.bytes, 256), 0);
}

TEST_P(Control, OutOfRangeBlockHeldByTheTerminalIsReportedOnRead) {
  PQ640_SystemData block{};
  ASSERT_EQ(PQ640_GetSystemData(&block), PQ640_OK);
  block.bytes[68] = 11;  // above the value at offset 32 (at most 10)
  block.bytes[32] = 10;
  EXPECT_EQ(PQ640_SetSystemData(&block), PQ640_OUT_OF_RANGE);
  pq640sim::SystemData held{};
  std::memcpy(held.data(), block.bytes, 256);
  sim_.Model().SetSystemData(held);
  PQ640_SystemData read{};
  EXPECT_EQ(PQ640_GetSystemData(&read), PQ640_INVALID_ARGUMENT);
  EXPECT_EQ(read.bytes[68], 11);
}

INSTANTIATE_TEST_SUITE_P(Links, Control, ::testing::Values(Link::kTcp, Link::kSerial), LinkName);

}  // namespace
}  // namespace pq640::integration
