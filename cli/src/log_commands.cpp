// logs io / logs admin: count, get, delete and add records; the IO records of
// a list of users between two times.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <memory>

#include "command_groups.h"
#include "failure_report.h"
#include "log_query.h"
#include "progress_bar.h"
#include "terminal_transfer.h"
#include "text_format.h"

namespace pq640admin {
namespace {

struct QueryOptions {
  std::string from;
  std::string to;
  std::uint32_t user = 0;
  std::string query_hex;
  bool has_user = false;
  bool yes = false;
  std::string path;
  std::vector<std::uint32_t> ids;
  std::uint32_t selector = 0xFF;
};

// The query a subcommand's options describe, refused as input when a time
// is malformed, not a real date, or the range runs backwards.
PQ640_RecordQuery QueryFrom(const QueryOptions& options) {
  if (!options.query_hex.empty()) {
    const auto raw = ParseQueryHex(options.query_hex);
    if (!raw) throw CLI::ValidationError("--query-hex wants 18 bytes as 36 hex digits");
    return *raw;
  }
  LogFilter filter;
  const auto bound = [](const std::string& text, bool end, const char* name) {
    const auto value = ParseTimeBound(text, end);
    if (!value) RefuseInput(std::string(name) + " " + text, DateTimeProblem(text, true));
    return *value;
  };
  if (!options.from.empty()) filter.from = bound(options.from, false, "--from");
  if (!options.to.empty()) filter.to = bound(options.to, true, "--to");
  if (filter.from && filter.to && TimeBefore(*filter.to, *filter.from)) {
    throw CLI::ValidationError("--to " + options.to + " is before --from " + options.from);
  }
  if (options.has_user) filter.user = options.user;
  return BuildQuery(filter);
}

void AddFilterOptions(CLI::App* command, QueryOptions& options, const char* owner) {
  auto* from = command->add_option("--from", options.from, "From this time on (\"YYYY-MM-DD hh:mm:ss\" or a day)");
  auto* to = command->add_option("--to", options.to, "Up to this time, included");
  auto* user = command->add_option("--user", options.user, std::string("Only the records of this ") + owner)
                   ->transform(NumberIn(0, UINT32_MAX, std::string(owner) + " IDs"))
                   ->each([&options](const std::string&) { options.has_user = true; });
  command->add_option("--query-hex", options.query_hex,
                      "The 18 query bytes as hex, for a terminal that defines queries differently")
      ->excludes(from)
      ->excludes(to)
      ->excludes(user);
}

// What differs between the IO log and the administrator log.
template <typename Record>
struct Log;

template <>
struct Log<PQ640_IORecord> {
  static constexpr const char* kName = "IO records";
  static constexpr const char* kOwner = "user";
  static std::vector<std::string> Columns() {
    return {"time", "user_id", "verification", "in_out_state", "work_code"};
  }
  static Json ToJson(const PQ640_IORecord& r) { return IoRecordToJson(r); }
  static PQ640_IORecord FromJson(const Json& j) { return IoRecordFromJson(j); }
  static PQ640_ResultCode Count(const PQ640_RecordQuery& q, std::uint32_t* n) { return PQ640_GetIORecordNum(&q, n); }
  static PQ640_ResultCode Delete(const PQ640_RecordQuery& q) { return PQ640_DeleteIORecord(&q); }
  static int Read(const PQ640_RecordQuery& q, std::vector<PQ640_IORecord>& out) { return ReadIoRecords(q, out); }
  static int Add(const std::vector<PQ640_IORecord>& records, Tally& t) { return AddIoRecords(records, t); }
};

template <>
struct Log<PQ640_AdminRecord> {
  static constexpr const char* kName = "administrator log records";
  static constexpr const char* kOwner = "administrator";
  static std::vector<std::string> Columns() {
    return {"time", "admin_id", "operation", "target_user_id", "reserved"};
  }
  static Json ToJson(const PQ640_AdminRecord& r) { return AdminRecordToJson(r); }
  static PQ640_AdminRecord FromJson(const Json& j) { return AdminRecordFromJson(j); }
  static PQ640_ResultCode Count(const PQ640_RecordQuery& q, std::uint32_t* n) { return PQ640_GetAdminRecordNum(&q, n); }
  static PQ640_ResultCode Delete(const PQ640_RecordQuery& q) { return PQ640_DeleteAdminRecord(&q); }
  static int Read(const PQ640_RecordQuery& q, std::vector<PQ640_AdminRecord>& out) { return ReadAdminRecords(q, out); }
  static int Add(const std::vector<PQ640_AdminRecord>& records, Tally& t) { return AddAdminRecords(records, t); }
};

template <typename Record>
void PrintLogRows(const AdminContext& context, const std::vector<Record>& records) {
  Json rows = Json::array();
  for (const Record& record : records) {
    Json row = Log<Record>::ToJson(record);
    // In CSV and tables six time bytes that are no date show as hex digits.
    if (context.format != OutputFormat::kJson && !row.contains("time")) {
      row["time"] = AdminRecordTimeCell(row);
    }
    rows.push_back(std::move(row));
  }
  PrintRows(context, Log<Record>::Columns(), rows);
}

template <typename Record>
void AddLogGroup(CLI::App* logs, AdminContext& context, const char* name, const char* description) {
  using L = Log<Record>;
  auto* group = logs->add_subcommand(name, description);
  group->require_subcommand(1);
  auto options = std::make_shared<QueryOptions>();
  const std::string what = L::kName;

  auto* count = group->add_subcommand("count", "Print how many " + what + " the query selects");
  AddFilterOptions(count, *options, L::kOwner);
  count->callback([&context, options] {
    const PQ640_RecordQuery query = QueryFrom(*options);
    context.action = [query] {
      std::uint32_t n = 0;
      if (auto r = L::Count(query, &n); r != PQ640_OK) return Fail(std::string("counting the ") + L::kName, r);
      Say(std::to_string(n), {{"count", n}});
      return int{kExitOk};
    };
  });

  auto* get = group->add_subcommand("get", "Print the " + what + " the query selects");
  AddFilterOptions(get, *options, L::kOwner);
  get->callback([&context, options] {
    const PQ640_RecordQuery query = QueryFrom(*options);
    context.action = [&context, query] {
      std::vector<Record> records;
      if (int status = L::Read(query, records); status != kExitOk) return status;
      PrintLogRows(context, records);
      return int{kExitOk};
    };
  });

  auto* del = group->add_subcommand("delete", "Delete the " + what + " the query selects (--yes)");
  AddFilterOptions(del, *options, L::kOwner);
  del->add_flag("--yes", options->yes, "Confirm the deletion");
  del->callback([&context, options] {
    const PQ640_RecordQuery query = QueryFrom(*options);
    if (!options->yes) {
      throw CLI::ValidationError(std::string("delete removes the ") + L::kName +
                                 " the query selects; add --yes to confirm");
    }
    context.action = [query] {
      std::uint32_t n = 0;
      if (auto r = L::Count(query, &n); r != PQ640_OK) return Fail(std::string("counting the ") + L::kName, r);
      if (auto r = L::Delete(query); r != PQ640_OK) return Fail(std::string("deleting the ") + L::kName, r);
      Say("deleted " + std::to_string(n) + " " + L::kName, {{"deleted", n}});
      return int{kExitOk};
    };
  });

  auto* add = group->add_subcommand("add", "Add the " + what + " in a JSON file, one command per record");
  add->add_option("FILE", options->path, "JSON file, as printed by get --json (- for stdin)")->required();
  add->callback([&context, options] {
    const std::string path = options->path;
    const Json document = ReadJsonFile(path);
    std::vector<Record> records;
    try {
      const Json items = RecordArray(document);
      for (std::size_t i = 0; i < items.size(); ++i) {
        try {
          records.push_back(L::FromJson(items[i]));
        } catch (const RecordError& error) {
          RefuseInput("record " + std::to_string(i + 1) + " of " + path, error.what());
        }
      }
    } catch (const RecordError& error) {
      RefuseFile(path, error.what());
    }
    if (records.empty()) RefuseFile(path, "holds no records");
    context.action = [records] {
      Tally tally{L::kName, "added"};
      const int status = L::Add(records, tally);
      return Summarise({&tally}, status);
    };
  });
}

void AddUsersRecords(CLI::App* io, AdminContext& context) {
  auto options = std::make_shared<QueryOptions>();
  auto* users = io->add_subcommand("users", "Print the IO records of these users between two times");
  users->add_option("ID", options->ids, "User IDs (1..1000 of them)")->required()->transform(NumberIn(0, UINT32_MAX, "user IDs"));
  users->add_option("--from", options->from, "From this time on")->required();
  users->add_option("--to", options->to, "Up to this time, included")->required();
  users->add_option("--selector", options->selector,
                    "In/out state to select, 0..255 (255: any; the simulator's meaning)")
      ->transform(NumberIn(0, 255, "selectors"))
      ->capture_default_str();
  auto count_only = std::make_shared<bool>(false);
  users->add_flag("--count", *count_only, "Print only the number of records");
  users->callback([&context, options, count_only] {
    const PQ640_RecordQuery range = QueryFrom(*options);  // checks both times
    PQ640_DateTime from;
    PQ640_DateTime to;
    std::memcpy(&from, range.bytes + 1, sizeof from);
    std::memcpy(&to, range.bytes + 7, sizeof to);
    const std::vector<std::uint32_t> ids = options->ids;
    if (ids.size() > PQ640_MAX_BATCH) {
      RefuseInput("logs io users", "at most 1000 user IDs at a time");
    }
    const auto selector = static_cast<std::uint8_t>(options->selector);
    const bool only_count = *count_only;
    context.action = [&context, ids, from, to, selector, only_count] {
      if (only_count) {
        const auto n = static_cast<std::uint32_t>(ids.size());
        std::uint32_t count = 0;
        if (auto r = PQ640_GetUsersIORecordNum(n, ids.data(), selector, &from, &to, &count); r != PQ640_OK) {
          return Fail("counting the users' IO records", r);
        }
        Say(std::to_string(count), {{"count", count}});
        return int{kExitOk};
      }
      std::vector<PQ640_IORecord> records;
      if (int status = ReadUsersIoRecords(ids, selector, from, to, records); status != kExitOk) return status;
      PrintLogRows(context, records);
      return int{kExitOk};
    };
  });
}

}  // namespace

void AddLogCommands(CLI::App& app, AdminContext& context) {
  auto* logs = app.add_subcommand("logs", "The terminal's IO log and administrator log");
  logs->require_subcommand(1);
  AddLogGroup<PQ640_IORecord>(logs, context, "io", "IO (attendance) records");
  AddUsersRecords(logs->get_subcommand("io"), context);
  AddLogGroup<PQ640_AdminRecord>(logs, context, "admin", "Administrator log records");
}

}  // namespace pq640admin
