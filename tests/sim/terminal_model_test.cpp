#include "pq640sim/terminal_model.h"

#include <gtest/gtest.h>

#include <memory>
#include <string_view>

#include "pq640sim/command_table.h"
#include "pq640sim/little_endian.h"

namespace pq640sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view text) { return {text.begin(), text.end()}; }

Bytes BlockBytes(const SystemData& block) { return {block.begin(), block.end()}; }

class TerminalModelTest : public ::testing::Test {
 protected:
  std::shared_ptr<std::chrono::system_clock::time_point> host_now_ =
      std::make_shared<std::chrono::system_clock::time_point>(std::chrono::sys_days{
          std::chrono::year{2030} / 1 / 1});
  TerminalModel model_{TerminalSettings{}, TerminalClock([now = host_now_] { return *now; })};
};

TEST_F(TerminalModelTest, AnswersCheckLinkWithSuccessAndNoPayload) {
  const Reply reply = model_.Handle(1, {});
  EXPECT_EQ(reply.result, kResultOk);
  EXPECT_TRUE(reply.payload.empty());
}

TEST_F(TerminalModelTest, StoresTheLineSettingWordAsSent) {
  EXPECT_EQ(model_.Handle(0, Bytes{0x34, 0x12}).result, kResultOk);
  EXPECT_EQ(model_.Snapshot().settings.comm_state, 0x1234);
}

TEST_F(TerminalModelTest, ChangesItsIdOnlyToValuesUpTo255) {
  EXPECT_EQ(model_.Handle(15, Bytes{9, 0}).result, kResultOk);
  EXPECT_EQ(model_.TerminalId(), 9);
  EXPECT_EQ(model_.Handle(15, Bytes{0x00, 0x01}).result, kResultValueOutOfRange);
  EXPECT_EQ(model_.TerminalId(), 9);
  EXPECT_EQ(model_.Handle(15, Bytes{255, 0}).result, kResultOk);
  EXPECT_EQ(model_.TerminalId(), 255);
}

TEST_F(TerminalModelTest, AcceptsCommunicationModesZeroToTwo) {
  EXPECT_EQ(model_.Handle(12, Bytes{2}).result, kResultOk);
  EXPECT_EQ(model_.Snapshot().settings.comm_mode, 2);
  EXPECT_EQ(model_.Handle(12, Bytes{3}).result, kResultValueOutOfRange);
  EXPECT_EQ(model_.Snapshot().settings.comm_mode, 2);
}

TEST_F(TerminalModelTest, StoresAnyMatchingValue) {
  EXPECT_EQ(model_.Handle(14, Bytes{200}).result, kResultOk);
  EXPECT_EQ(model_.Snapshot().settings.matching_value, 200);
}

TEST_F(TerminalModelTest, ReturnsTheSettingsBlockItAccepted) {
  SystemData block = DefaultSystemData();
  block[0] = 30;
  block[200] = 0xEE;
  EXPECT_EQ(model_.Handle(3, BlockBytes(block)).result, kResultOk);
  const Reply read = model_.Handle(2, {});
  EXPECT_EQ(read.result, kResultOk);
  EXPECT_EQ(read.payload, BlockBytes(block));
}

TEST_F(TerminalModelTest, RefusesASettingsBlockBreakingARuleAndKeepsTheOldOne) {
  SystemData block = DefaultSystemData();
  StoreU32(block, 32, 0);
  EXPECT_EQ(model_.Handle(3, BlockBytes(block)).result, kResultSystemDataRejected);
  EXPECT_EQ(model_.Snapshot().settings.system_data, DefaultSystemData());
}

TEST_F(TerminalModelTest, SetsAndReadsTheRunningClock) {
  const Bytes set{24, 2, 29, 23, 59, 58};
  EXPECT_EQ(model_.Handle(9, set).result, kResultOk);
  EXPECT_EQ(model_.Handle(8, {}).payload, set);
  *host_now_ += 3s;
  EXPECT_EQ(model_.Handle(8, {}).payload, (Bytes{24, 3, 1, 0, 0, 1}));
  EXPECT_EQ(model_.Snapshot().terminal_time, (DateTime{24, 3, 1, 0, 0, 1}));
}

TEST_F(TerminalModelTest, RefusesAnImpossibleClockValueAndKeepsRunning) {
  ASSERT_TRUE(model_.SetClock(DateTime{25, 5, 5, 5, 5, 5}));
  EXPECT_EQ(model_.Handle(9, Bytes{23, 2, 29, 0, 0, 0}).result, kResultInvalidDateTime);
  EXPECT_EQ(model_.Handle(9, Bytes{24, 1, 1, 0, 60, 0}).result, kResultInvalidDateTime);
  EXPECT_EQ(model_.Handle(8, {}).payload, (Bytes{25, 5, 5, 5, 5, 5}));
  EXPECT_FALSE(model_.SetClock(DateTime{25, 13, 1, 0, 0, 0}));
}

TEST_F(TerminalModelTest, ReportsMonthThirteenWhileTheClockFaultIsOn) {
  ASSERT_TRUE(model_.SetClock(DateTime{25, 5, 5, 5, 5, 5}));
  model_.SetClockFault(true);
  EXPECT_EQ(model_.Handle(8, {}).payload, (Bytes{25, 13, 5, 5, 5, 5}));
  model_.SetClockFault(false);
  EXPECT_EQ(model_.Handle(8, {}).payload, (Bytes{25, 5, 5, 5, 5, 5}));
}

TEST_F(TerminalModelTest, EraseWipesTheStoresAndRestoresDefaultSettings) {
  StoredRecords records;
  records.users[7] = {1, 2, 3};
  records.administrators[8] = {4};
  records.io_records.push_back({});
  records.admin_records.push_back({});
  model_.SetStoredRecords(records);
  ASSERT_EQ(model_.Handle(15, Bytes{4, 0}).result, kResultOk);
  ASSERT_EQ(model_.Handle(0, Bytes{3, 0}).result, kResultOk);
  ASSERT_EQ(model_.Handle(12, Bytes{1}).result, kResultOk);
  ASSERT_EQ(model_.Handle(14, Bytes{77}).result, kResultOk);
  SystemData block = DefaultSystemData();
  block[0] = 0;
  ASSERT_EQ(model_.Handle(3, BlockBytes(block)).result, kResultOk);

  EXPECT_EQ(model_.Handle(224, Text("Delete")).result, kResultOk);

  const ModelSnapshot after = model_.Snapshot();
  EXPECT_EQ(after.erase_count, 1u);
  EXPECT_TRUE(after.stored.users.empty());
  EXPECT_TRUE(after.stored.administrators.empty());
  EXPECT_TRUE(after.stored.io_records.empty());
  EXPECT_TRUE(after.stored.admin_records.empty());
  EXPECT_EQ(after.settings.system_data, DefaultSystemData());
  EXPECT_EQ(after.settings.comm_mode, TerminalSettings{}.comm_mode);
  EXPECT_EQ(after.settings.matching_value, TerminalSettings{}.matching_value);
  // The host must still reach the terminal: address and line stay.
  EXPECT_EQ(after.settings.terminal_id, 4);
  EXPECT_EQ(after.settings.comm_state, 3);
}

TEST_F(TerminalModelTest, RefusesEraseWithoutTheExactConfirmationWord) {
  StoredRecords records;
  records.users[7] = {1};
  model_.SetStoredRecords(records);
  for (const Bytes& word : {Text("delete"), Text("DELETE"), Text("Deletf"), Bytes(6, 0)}) {
    EXPECT_EQ(model_.Handle(224, word).result, kResultEraseNotConfirmed);
  }
  const ModelSnapshot after = model_.Snapshot();
  EXPECT_EQ(after.erase_count, 0u);
  EXPECT_EQ(after.stored.users.size(), 1u);
}

TEST_F(TerminalModelTest, AnswersUnknownCommandsAndWrongPayloadLengths) {
  EXPECT_EQ(model_.Handle(0x63, {}).result, kResultUnknownCommand);
  EXPECT_EQ(model_.Handle(9, Bytes{24, 2, 29}).result, kResultMalformedRequest);
}

TEST_F(TerminalModelTest, HandlesEveryCommandInTheTable) {
  for (const CommandInfo& command : KnownCommands()) {
    // A leading 1 makes every count field describe one entry, and the rest of
    // the zeros complete it (an empty record, ID 0, a query of kind 1).
    Bytes payload(300, 0);
    payload[0] = 1;
    const PayloadScan scan = command.payload(payload);
    ASSERT_EQ(scan.status, PayloadScan::Status::kComplete) << command.name;
    payload.resize(scan.length);
    const Reply reply = model_.Handle(command.code, payload);
    EXPECT_NE(reply.result, kResultUnknownCommand) << command.name;
    EXPECT_NE(reply.result, kResultMalformedRequest) << command.name;
  }
}

}  // namespace
}  // namespace pq640sim
