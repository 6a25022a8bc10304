// users and admins: count, list, get, add, delete.
#include <algorithm>
#include <iostream>
#include <memory>
#include <set>

#include "command_groups.h"
#include "failure_report.h"
#include "terminal_transfer.h"
#include "text_format.h"

namespace pq640admin {
namespace {

// The two record kinds differ in their type, their listing and a few words.
template <typename Record>
struct Kind;

template <>
struct Kind<PQ640_UserData> {
  static constexpr const char* kPlural = "users";
  static constexpr const char* kSingular = "user";
  static Json ToJson(const PQ640_UserData& r) { return UserToJson(r); }
  static PQ640_UserData FromJson(const Json& j) { return UserFromJson(j); }
  static int Read(std::vector<PQ640_UserData>& all) { return ReadUsers(all); }
  static int Add(const std::vector<PQ640_UserData>& records, Tally& t) { return AddUsers(records, t); }
  static int Delete(const std::vector<std::uint32_t>& ids, Tally& t) { return DeleteUsers(ids, t); }
  static PQ640_ResultCode Count(std::uint32_t* n) {
    return PQ640_GetAllUserDataBounded(0, n, nullptr, PQ640_LIST_COUNT, nullptr);
  }
  static PQ640_ResultCode DeleteAll() { return PQ640_DeleteAllUserData(); }
};

template <>
struct Kind<PQ640_AdminData> {
  static constexpr const char* kPlural = "administrators";
  static constexpr const char* kSingular = "administrator";
  static Json ToJson(const PQ640_AdminData& r) { return AdminToJson(r); }
  static PQ640_AdminData FromJson(const Json& j) { return AdminFromJson(j); }
  static int Read(std::vector<PQ640_AdminData>& all) { return ReadAdmins(all); }
  static int Add(const std::vector<PQ640_AdminData>& records, Tally& t) { return AddAdmins(records, t); }
  static int Delete(const std::vector<std::uint32_t>& ids, Tally& t) { return DeleteAdmins(ids, t); }
  static PQ640_ResultCode Count(std::uint32_t* n) {
    std::uint32_t count = 0;
    const PQ640_ResultCode r = PQ640_GetAllAdminDataBounded(0, &count, nullptr, PQ640_LIST_COUNT, nullptr);
    *n = count;
    return r;
  }
  static PQ640_ResultCode DeleteAll() { return PQ640_DeleteAllAdminData(); }
};

template <typename Record>
constexpr bool kHasLevel = std::is_same_v<Record, PQ640_AdminData>;

// Columns of the table and CSV forms; --full adds the code and templates.
template <typename Record>
std::vector<std::string> Columns(bool full) {
  std::vector<std::string> columns{"id"};
  if constexpr (kHasLevel<Record>) columns.push_back("level");
  for (const char* c : {"template_count", "code_length", "info"}) columns.push_back(c);
  if (full) {
    for (const char* c : {"code", "template_1", "template_2"}) columns.push_back(c);
  }
  return columns;
}

// One row: in JSON with --full the record's own form (the one `add` reads);
// otherwise flat fields.
template <typename Record>
Json Row(const Record& record, bool full, OutputFormat format) {
  const Json whole = Kind<Record>::ToJson(record);
  if (full && format == OutputFormat::kJson) return whole;
  Json row;
  row["id"] = record.id;
  if constexpr (kHasLevel<Record>) row["level"] = record.level;
  row["template_count"] = record.template_count;
  row["code_length"] = record.code_length;
  // JSON keeps the record's own keys (info or info_hex); tables and CSV a cell.
  const bool json = format == OutputFormat::kJson;
  for (const char* key : {"info", "info_hex"}) {
    if (json && whole.contains(key)) row[key] = whole[key];
  }
  if (!json) row["info"] = TextCell(whole, "info");
  if (full) {
    row["code"] = TextCell(whole, "code");
    const Json& templates = whole["templates"];
    row["template_1"] = templates.size() > 0 ? templates[0] : Json("");
    row["template_2"] = templates.size() > 1 ? templates[1] : Json("");
  }
  return row;
}

template <typename Record>
void PrintRecordRows(const AdminContext& context, const std::vector<Record>& records, bool full) {
  Json rows = Json::array();
  for (const Record& record : records) rows.push_back(Row(record, full, context.format));
  PrintRows(context, Columns<Record>(full), rows);
}

struct IdOptions {
  std::vector<std::uint32_t> ids;
  bool all = false;
  bool yes = false;
  bool full = false;
  std::string path;
};

template <typename Record>
void AddGroup(CLI::App& app, AdminContext& context, const char* name) {
  using K = Kind<Record>;
  const std::string plural = K::kPlural;
  const std::string singular = K::kSingular;
  auto* group = app.add_subcommand(name, "Enrolled " + plural);
  group->require_subcommand(1);
  auto options = std::make_shared<IdOptions>();

  group->add_subcommand("count", "Print how many " + plural + " are enrolled")->callback([&context] {
    context.action = [] {
      std::uint32_t n = 0;
      if (auto r = K::Count(&n); r != PQ640_OK) return Fail(std::string("counting the ") + K::kPlural, r);
      Say(std::to_string(n), {{"count", n}});
      return int{kExitOk};
    };
  });

  auto* list = group->add_subcommand("list", "List every " + singular);
  list->add_flag("--full", options->full, "Include codes and templates");
  list->callback([&context, options] {
    const bool full = options->full;
    context.action = [&context, full] {
      std::vector<Record> all;
      if (int status = K::Read(all); status != kExitOk) return status;
      PrintRecordRows(context, all, full);
      return int{kExitOk};
    };
  });

  auto* get = group->add_subcommand("get", "Print the " + plural + " with these IDs, in full");
  get->add_option("ID", options->ids, singular + " IDs")->required()->transform(NumberIn(0, UINT32_MAX, singular + " IDs"));
  get->callback([&context, options] {
    const std::vector<std::uint32_t> ids = options->ids;
    context.action = [&context, ids] {
      std::vector<Record> found;
      int status = kExitOk;
      if constexpr (kHasLevel<Record>) {
        status = K::Read(found);  // no read by ID: one listing is fewer commands
      } else {
        status = ReadUsersById(ids, found);
      }
      if (status != kExitOk) return status;
      std::vector<Record> wanted;
      for (const std::uint32_t id : ids) {
        const auto at = std::find_if(found.begin(), found.end(), [id](const Record& r) { return r.id == id; });
        if (at == found.end()) {
          status = FailWith(std::string(K::kSingular) + " " + std::to_string(id) + " is not enrolled");
        } else {
          wanted.push_back(*at);
        }
      }
      PrintRecordRows(context, wanted, true);
      return status;
    };
  });

  auto* add = group->add_subcommand(
      "add", "Enrol the " + plural + " in a JSON file (one object or an array), replacing the same IDs");
  add->add_option("FILE", options->path, "JSON file, as printed by get --json (- for stdin)")->required();
  add->callback([&context, options] {
    const std::string path = options->path;
    const Json document = ReadJsonFile(path);
    std::vector<Record> records;
    try {
      const Json items = RecordArray(document);
      for (std::size_t i = 0; i < items.size(); ++i) {
        try {
          records.push_back(K::FromJson(items[i]));
        } catch (const RecordError& error) {
          RefuseInput(std::string(K::kSingular) + " " + std::to_string(i + 1) + " of " + path, error.what());
        }
      }
    } catch (const RecordError& error) {
      RefuseFile(path, error.what());
    }
    if (records.empty()) RefuseFile(path, std::string("holds no ") + K::kPlural);
    context.action = [records] {
      Tally tally{K::kPlural, "enrolled"};
      const int status = K::Add(records, tally);
      return Summarise({&tally}, status);
    };
  });

  auto* del = group->add_subcommand("delete", "Delete the " + plural + " with these IDs, or all with --all --yes");
  auto* ids = del->add_option("ID", options->ids, singular + " IDs")->transform(NumberIn(0, UINT32_MAX, singular + " IDs"));
  auto* all = del->add_flag("--all", options->all, "Delete every " + singular);
  del->add_flag("--yes", options->yes, "Confirm --all");
  ids->excludes(all);
  del->callback([&context, options] {
    const bool everything = options->all;
    if (everything && !options->yes) {
      throw CLI::ValidationError(std::string("delete --all deletes every ") + K::kSingular +
                                 "; add --yes to confirm");
    }
    if (!everything && options->ids.empty()) throw CLI::ValidationError("give the IDs to delete, or --all");
    const std::vector<std::uint32_t> wanted = options->ids;
    context.action = [everything, wanted] {
      if (everything) {
        if (auto r = K::DeleteAll(); r != PQ640_OK) return Fail(std::string("deleting every ") + K::kSingular, r);
        Say(std::string("deleted every ") + K::kSingular, {{"deleted_all", K::kPlural}});
        return int{kExitOk};
      }
      Tally tally{K::kPlural, "deleted"};
      const int status = K::Delete(wanted, tally);
      return Summarise({&tally}, status);
    };
  });
}

}  // namespace

void AddEnrolmentCommands(CLI::App& app, AdminContext& context) {
  AddGroup<PQ640_UserData>(app, context, "users");
  AddGroup<PQ640_AdminData>(app, context, "admins");
}

}  // namespace pq640admin
