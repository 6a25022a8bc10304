// The tool's JSON forms of records and backups, base64, queries, CSV and the
// progress line: the pure helpers, without a terminal.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "backup_document.h"
#include "base64.h"
#include "log_query.h"
#include "log_restore.h"
#include "progress_bar.h"
#include "record_json.h"
#include "record_output.h"

namespace pq640admin {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Base64, KnownVectorsBothWays) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : cases) {
    EXPECT_EQ(EncodeBase64(Bytes(plain)), encoded);
    EXPECT_EQ(DecodeBase64(encoded), Bytes(plain)) << encoded;
  }
  std::vector<std::uint8_t> all(256);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(DecodeBase64(EncodeBase64(all)), all);
}

TEST(Base64, RefusesWhatIsNotPaddedBase64) {
  for (const char* text : {"Zg", "Zg=", "Z===", "Zm9v YmFy", "Zm9*", "Zg=a", "=Zg="}) {
    EXPECT_FALSE(DecodeBase64(text)) << text;
  }
}

PQ640_UserData SampleUser() {
  PQ640_UserData user{};
  user.id = 4000000000u;
  user.template_count = 2;
  for (int t = 0; t < 2; ++t) {
    for (int i = 0; i < PQ640_TEMPLATE_SIZE; ++i) user.templates[t][i] = static_cast<std::uint8_t>(i * 7 + t);
  }
  user.code_length = 6;
  std::memcpy(user.code, "123456", 6);
  for (int i = 0; i < 10; ++i) user.info[i] = static_cast<std::uint8_t>(0xF0 + i);
  return user;
}

TEST(RecordJson, UserRoundTripKeepsEveryByteInUse) {
  const PQ640_UserData user = SampleUser();
  const Json json = UserToJson(user);
  EXPECT_EQ(json["templates"].size(), 2u);
  EXPECT_EQ(json["code"], "123456");
  EXPECT_EQ(json["info_hex"], "f0f1f2f3f4f5f6f7f8f9");
  EXPECT_FALSE(json.contains("info"));
  const PQ640_UserData back = UserFromJson(json);
  EXPECT_EQ(std::memcmp(&back, &user, sizeof user), 0);
}

TEST(RecordJson, PinsAndInfoAreTextAndComeBackIdentical) {
  // A PIN typed into a user file is its digits; templates may be left out.
  const PQ640_UserData pin = UserFromJson(Json::parse(R"({"id":20,"code":"12345678"})"));
  EXPECT_EQ(pin.code_length, 8);
  EXPECT_EQ(std::memcmp(pin.code, "12345678", 8), 0);
  EXPECT_EQ(pin.template_count, 0);
  EXPECT_EQ(UserFromJson(Json::parse(R"({"id":1,"code":"1234"})")).code_length, 4);
  // Info loses its zero padding on the way out and gets it back on the way in.
  const Json text = Json::parse(R"({"id":7,"templates":[],"code":"4711","info":"Demo user"})");
  const PQ640_UserData user = UserFromJson(text);
  EXPECT_EQ(std::memcmp(user.info, "Demo user\0", 10), 0);
  EXPECT_EQ(UserToJson(user).dump(), text.dump());
  // Bytes that are not printable, and text that looks like the hex form,
  // travel as hex; both come back identical.
  PQ640_AdminData admin{};
  admin.id = 3;
  admin.level = 2;
  std::memcpy(admin.info, "hex:ab", 6);
  admin.code_length = 4;
  std::memcpy(admin.code, "\x01\x02\x03\x00", 4);
  const Json admin_json = AdminToJson(admin);
  EXPECT_EQ(admin_json["info_hex"], "6865783a6162");
  EXPECT_EQ(admin_json["code_hex"], "01020300");
  EXPECT_EQ(TextCell(admin_json, "code"), "hex:01020300");
  EXPECT_EQ(TextCell(text, "info"), "Demo user");
  const PQ640_AdminData back = AdminFromJson(admin_json);
  EXPECT_EQ(std::memcmp(&back, &admin, sizeof admin), 0);
  // Text must be printable; both forms at once are refused.
  EXPECT_THROW(UserFromJson(Json::parse(R"({"id":1,"info":"caf\u00e9"})")), RecordError);
  EXPECT_THROW(UserFromJson(Json::parse(R"({"id":1,"code":"1234","code_hex":"31323334"})")), RecordError);
  EXPECT_THROW(UserFromJson(Json::parse(R"({"id":1,"info":"eleven char"})")), RecordError);
}

TEST(RecordJson, RefusesRecordsTheTerminalWouldRefuse) {
  Json json = UserToJson(SampleUser());
  json["code"] = "123";
  EXPECT_THROW(UserFromJson(json), RecordError);
  json = UserToJson(SampleUser());
  json["templates"].push_back(json["templates"][0]);
  EXPECT_THROW(UserFromJson(json), RecordError);
  json = UserToJson(SampleUser());
  json["templates"][0] = EncodeBase64(Bytes("short"));
  EXPECT_THROW(UserFromJson(json), RecordError);
  json = UserToJson(SampleUser());
  json["id"] = -1;
  EXPECT_THROW(UserFromJson(json), RecordError);
  PQ640_AdminData admin{};
  Json admin_json = AdminToJson(admin);
  admin_json["level"] = 3;
  EXPECT_THROW(AdminFromJson(admin_json), RecordError);
}

TEST(RecordJson, LogRecordsCoverAllSixteenBytes) {
  PQ640_IORecord io{};
  io.time = PQ640_DateTime{26, 12, 7, 8, 30, 0};
  for (int i = 0; i < 10; ++i) io.data[i] = static_cast<std::uint8_t>(0x81 + i);
  EXPECT_EQ(std::memcmp(&io, &static_cast<const PQ640_IORecord&>(IoRecordFromJson(IoRecordToJson(io))), 16), 0);
  EXPECT_EQ(IoRecordToJson(io)["user_id"], 0x84838281u);
  EXPECT_EQ(IoRecordToJson(io).dump(),
            R"({"time":"2026-12-07 08:30:00","user_id":2223211137,"verification":133,)"
            R"("in_out_state":134,"work_code":2324269191})");
  PQ640_AdminRecord admin{};
  for (int i = 0; i < 16; ++i) admin.bytes[i] = static_cast<std::uint8_t>(0xE0 + i);  // no real date
  EXPECT_EQ(AdminRecordToJson(admin)["time_hex"], "e0e1e2e3e4e5");
  const PQ640_AdminRecord back = AdminRecordFromJson(AdminRecordToJson(admin));
  EXPECT_EQ(std::memcmp(&back, &admin, sizeof admin), 0);
  Json bad_time = IoRecordToJson(io);
  bad_time["time"] = "2026-02-30 00:00:00";
  EXPECT_THROW(IoRecordFromJson(bad_time), RecordError);
}

TEST(LogQuery, KindFollowsTheFilterAndOpenEndsReachTheClocksLimits) {
  EXPECT_EQ(BuildQuery(LogFilter{}).bytes[0], 0);
  const PQ640_RecordQuery user = BuildQuery({std::nullopt, std::nullopt, 0x01020304u});
  EXPECT_EQ(user.bytes[0], 2);
  EXPECT_EQ(user.bytes[13], 0x04);
  EXPECT_EQ(user.bytes[16], 0x01);
  const PQ640_RecordQuery range = BuildQuery({PQ640_DateTime{26, 12, 7, 0, 0, 0}, std::nullopt, std::nullopt});
  EXPECT_EQ(range.bytes[0], 1);
  EXPECT_EQ(range.bytes[1], 26);
  EXPECT_EQ(range.bytes[7], 99);   // to: the last year
  EXPECT_EQ(range.bytes[12], 59);
  const PQ640_RecordQuery both = BuildQuery({std::nullopt, PQ640_DateTime{26, 1, 1, 0, 0, 0}, 7u});
  EXPECT_EQ(both.bytes[0], 3);
  EXPECT_EQ(both.bytes[2], 1);     // from: 1 January 2000
  EXPECT_EQ(both.bytes[17], 0);
}

TEST(LogQuery, BoundsMustBeRealTimesAndRawQueriesEighteenBytes) {
  EXPECT_FALSE(ParseTimeBound("2026-02-30", false));
  EXPECT_FALSE(ParseTimeBound("2026-12-07 24:00:00", false));
  ASSERT_TRUE(ParseTimeBound("26-12-07 08:00:00", true));
  EXPECT_TRUE(ParseQueryHex(std::string(36, 'a')));
  EXPECT_FALSE(ParseQueryHex(std::string(34, 'a')));
  EXPECT_TRUE(TimeBefore(PQ640_DateTime{25, 12, 31, 23, 59, 59}, PQ640_DateTime{26, 1, 1, 0, 0, 0}));
}

TEST(BackupDocument, RoundTripAndFormatCheck) {
  Backup backup;
  backup.clock = PQ640_DateTime{26, 12, 8, 9, 0, 0};
  backup.settings.bytes[32] = 5;
  backup.users.push_back(SampleUser());
  backup.admins.push_back(PQ640_AdminData{});
  backup.io_records.push_back(PQ640_IORecord{PQ640_DateTime{26, 1, 1, 0, 0, 0}, {}});
  const Json json = BackupToJson(backup);
  for (const char* key : {"format", "users", "admins", "settings", "clock", "io_records", "admin_records"}) {
    EXPECT_TRUE(json.contains(key)) << key;
  }
  const Backup back = BackupFromJson(json);
  EXPECT_EQ(BackupToJson(back), json);
  // Format 1: base64 codes and info, the older log record keys.
  const Json format1 = Json::parse(R"({"format":1,"clock":"2026-12-08 09:00:00","settings":")" +
                                   EncodeBase64(backup.settings.bytes) + R"(",
      "users":[{"id":5,"templates":[],"code":"NDI0Mg==","info":"RGVtbwAAAAAAAA=="}],"admins":[],
      "io_records":[{"time":"2026-01-01 00:00:00","user":9,"verification":1,"state":2,"work_code":3}],
      "admin_records":[{"time_bytes":"4OHi4+Tl","admin":1,"operation":2,"target_user":3,"reserved":4}]})");
  const Backup old = BackupFromJson(format1);
  EXPECT_EQ(std::memcmp(old.users[0].code, "4242", 4), 0);
  EXPECT_EQ(UserToJson(old.users[0])["info"], "Demo");
  EXPECT_EQ(IoRecordToJson(old.io_records[0])["in_out_state"], 2);
  EXPECT_EQ(old.admin_records[0].bytes[0], 0xE0);
  EXPECT_EQ(BackupToJson(old)["format"], 2);
  Json other = json;
  other["format"] = kBackupFormat + 1;
  EXPECT_THROW(BackupFromJson(other), RecordError);
  other = json;
  other["users"][0]["code"] = "!";
  try {
    BackupFromJson(other);
    ADD_FAILURE() << "a bad code was accepted";
  } catch (const RecordError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("users[0]: ", 0), 0u) << error.what();
  }
}

TEST(LogRestore, AddsExactlyWhatIsMissingAsAMultiset) {
  const auto punch = [](std::uint8_t minute, std::uint8_t user) {
    PQ640_IORecord r{PQ640_DateTime{26, 3, 14, 8, minute, 0}, {}};
    r.data[0] = user;
    return r;
  };
  // The backup holds the same punch twice; the terminal holds it once, and
  // holds a record the backup does not.
  const std::vector<PQ640_IORecord> backup{punch(1, 1), punch(1, 1), punch(2, 2), punch(3, 3)};
  const std::vector<PQ640_IORecord> terminal{punch(3, 3), punch(1, 1), punch(9, 9)};
  const auto missing = MissingRecords(backup, terminal);
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_EQ(std::memcmp(&missing[0], &backup[1], 16), 0);
  EXPECT_EQ(std::memcmp(&missing[1], &backup[2], 16), 0);
  // A re-run once they are there adds nothing.
  std::vector<PQ640_IORecord> after = terminal;
  after.insert(after.end(), missing.begin(), missing.end());
  EXPECT_TRUE(MissingRecords(backup, after).empty());
  // The range read covers the backup's first to last second.
  const PQ640_RecordQuery range = RangeQueryOf({punch(3, 3), punch(1, 1)});
  EXPECT_EQ(range.bytes[0], 1);
  EXPECT_EQ(range.bytes[5], 1);    // from 08:01
  EXPECT_EQ(range.bytes[11], 3);   // to 08:03
  EXPECT_EQ(RangeQueryOf({}).bytes[0], 0);
}

TEST(RecordOutput, CsvHasAHeaderAndQuotesWhereNeeded) {
  Json rows = Json::array();
  rows.push_back(Json{{"a", "x,y"}, {"b", 1}});
  rows.push_back(Json{{"a", "say \"hi\""}, {"b", 22}});
  std::ostringstream csv;
  PrintRecords(csv, {"a", "b"}, rows, OutputFormat::kCsv);
  EXPECT_EQ(csv.str(), "a,b\n\"x,y\",1\n\"say \"\"hi\"\"\",22\n");
  std::ostringstream table;
  PrintRecords(table, {"a", "b"}, rows, OutputFormat::kTable);
  EXPECT_EQ(table.str(), "a         b\nx,y       1\nsay \"hi\"  22\n");
  std::ostringstream empty;
  PrintRecords(empty, {"a", "b"}, Json::array(), OutputFormat::kCsv);
  EXPECT_EQ(empty.str(), "a,b\n");
}

TEST(ProgressLine, FillsInProportion) {
  EXPECT_EQ(ProgressLine("x", 0, 4, 8), "x [........] 0%");
  EXPECT_EQ(ProgressLine("x", 1, 4, 8), "x [##......] 25%");
  EXPECT_EQ(ProgressLine("x", 4, 4, 8), "x [########] 100%");
  EXPECT_EQ(ProgressLine("x", 0, 0, 4), "x [####] 100%");
}

}  // namespace
}  // namespace pq640admin
