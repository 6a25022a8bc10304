#include "terminal_transfer.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "bounded_read.h"
#include "failure_report.h"
#include "progress_bar.h"

namespace pq640admin {
namespace {

// Before a run of one command per record, say how long it will take.
void EstimateSingleCommands(std::size_t count, const std::string& what) {
  if (count < 20) return;
  const auto seconds = static_cast<long>(std::lround(static_cast<double>(count) * kSecondsPerCommand));
  Note(what + ": " + std::to_string(count) + " commands, one per record; about " +
       std::to_string(seconds) + " s over TCP");
}

ReadCeilings g_ceilings;

ReadSubject Enrolments(const char* what) {
  return {what, g_ceilings.enrolments, "--max-enrolments"};
}
ReadSubject LogRecords(const char* what) {
  return {what, g_ceilings.log_records, "--max-log-records"};
}

}  // namespace

void SetReadCeilings(const ReadCeilings& ceilings) { g_ceilings = ceilings; }
const ReadCeilings& CurrentReadCeilings() { return g_ceilings; }

std::string CeilingProblem(const ReadSubject& subject, std::uint64_t count) {
  if (count <= subject.ceiling) return "";
  return "the terminal at " + ReportedLinkText() + " announces " + std::to_string(count) + " " +
         subject.what + ", more than this tool's ceiling of " + std::to_string(subject.ceiling) +
         " (raise it with " + subject.ceiling_option + " if that many are real)";
}

int FailRead(const ReadSubject& subject, PQ640_ResultCode code) {
  return Fail("reading the " + subject.what, code);
}

int FailReadWith(const ReadSubject& subject, const std::string& why) {
  return FailWith("reading the " + subject.what + " failed: " + why);
}

int ReadUsers(std::vector<PQ640_UserData>& users) {
  std::uint32_t count = 0;
  if (auto r = PQ640_GetAllUserDataBounded(0, &count, nullptr, PQ640_LIST_COUNT, nullptr); r != PQ640_OK) {
    return Fail("counting the users", r);
  }
  return BoundedRead<PQ640_UserData>(
      Enrolments("users"), count, users,
      [](std::uint32_t capacity, std::uint32_t* n, PQ640_UserData* data, PQ640_ProgressCallback cb) {
        return PQ640_GetAllUserDataBounded(capacity, n, data, PQ640_LIST_RECORDS, cb);
      });
}

int ReadAdmins(std::vector<PQ640_AdminData>& admins) {
  std::uint32_t count = 0;
  if (auto r = PQ640_GetAllAdminDataBounded(0, &count, nullptr, PQ640_LIST_COUNT, nullptr); r != PQ640_OK) {
    return Fail("counting the administrators", r);
  }
  return BoundedRead<PQ640_AdminData>(
      Enrolments("administrators"), count, admins,
      [](std::uint32_t capacity, std::uint32_t* n, PQ640_AdminData* data, PQ640_ProgressCallback cb) {
        return PQ640_GetAllAdminDataBounded(capacity, n, data, PQ640_LIST_RECORDS, cb);
      });
}

int ReadIds(bool admins, std::vector<std::uint32_t>& ids) {
  const auto list = admins ? PQ640_GetAllAdminDataBounded : PQ640_GetAllUserDataBounded;
  std::uint32_t count = 0;
  if (auto r = list(0, &count, nullptr, PQ640_LIST_COUNT, nullptr); r != PQ640_OK) {
    return Fail(admins ? "counting the administrators" : "counting the users", r);
  }
  return BoundedRead<std::uint32_t>(
      Enrolments(admins ? "administrator IDs" : "user IDs"), count, ids,
      [list](std::uint32_t capacity, std::uint32_t* n, std::uint32_t* data, PQ640_ProgressCallback cb) {
        return list(capacity, n, data, PQ640_LIST_IDS, cb);
      });
}

int ReadIoRecords(const PQ640_RecordQuery& query, std::vector<PQ640_IORecord>& records) {
  std::uint32_t count = 0;
  if (auto r = PQ640_GetIORecordNum(&query, &count); r != PQ640_OK) {
    return Fail("counting the IO records", r);
  }
  return BoundedRead<PQ640_IORecord>(
      LogRecords("IO records"), count, records,
      [&query](std::uint32_t capacity, std::uint32_t* n, PQ640_IORecord* data, PQ640_ProgressCallback cb) {
        return PQ640_GetIORecordBounded(&query, capacity, n, data, cb);
      });
}

int ReadAdminRecords(const PQ640_RecordQuery& query, std::vector<PQ640_AdminRecord>& records) {
  std::uint32_t count = 0;
  if (auto r = PQ640_GetAdminRecordNum(&query, &count); r != PQ640_OK) {
    return Fail("counting the administrator log records", r);
  }
  return BoundedRead<PQ640_AdminRecord>(
      LogRecords("administrator log records"), count, records,
      [&query](std::uint32_t capacity, std::uint32_t* n, PQ640_AdminRecord* data, PQ640_ProgressCallback cb) {
        return PQ640_GetAdminRecordBounded(&query, capacity, n, data, cb);
      });
}

int ReadUsersIoRecords(const std::vector<std::uint32_t>& ids, std::uint8_t selector,
                       const PQ640_DateTime& from, const PQ640_DateTime& to,
                       std::vector<PQ640_IORecord>& records) {
  const auto n = static_cast<std::uint32_t>(ids.size());
  std::uint32_t count = 0;
  if (auto r = PQ640_GetUsersIORecordNum(n, ids.data(), selector, &from, &to, &count); r != PQ640_OK) {
    return Fail("counting the users' IO records", r);
  }
  return BoundedRead<PQ640_IORecord>(
      LogRecords("users' IO records"), count, records,
      [&](std::uint32_t capacity, std::uint32_t* got, PQ640_IORecord* data, PQ640_ProgressCallback cb) {
        return PQ640_GetUsersIORecordBounded(n, ids.data(), selector, &from, &to, capacity, got, data, cb);
      });
}

int ReadUsersById(const std::vector<std::uint32_t>& ids, std::vector<PQ640_UserData>& users) {
  users.clear();
  for (std::size_t first = 0; first < ids.size(); first += PQ640_MAX_BATCH) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(PQ640_MAX_BATCH, ids.size() - first));
    std::vector<PQ640_UserData> batch(n);
    std::uint32_t count = n;
    ProgressScope progress("reading users");
    if (auto r = PQ640_GetUsersData(&count, ids.data() + first, batch.data(), progress.Callback());
        r != PQ640_OK) {
      return Fail("reading users", r);
    }
    users.insert(users.end(), batch.begin(), batch.begin() + std::min(count, n));
  }
  return kExitOk;
}

int AddUsers(const std::vector<PQ640_UserData>& users, Tally& tally) {
  for (std::size_t first = 0; first < users.size(); first += PQ640_MAX_BATCH) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(PQ640_MAX_BATCH, users.size() - first));
    std::vector<std::uint8_t> results(n, 0);
    ProgressScope progress("enrolling users", 2);
    if (auto r = PQ640_AddUsersData(n, users.data() + first, results.data(), progress.Callback()); r != PQ640_OK) {
      tally.skipped += users.size() - first;
      return Fail("enrolling users", r);
    }
    for (std::uint32_t i = 0; i < n; ++i) {
      if (results[i] == 0) {
        ++tally.done;
      } else {
        tally.Refuse("user " + std::to_string(users[first + i].id), results[i]);
      }
    }
  }
  return kExitOk;
}

namespace {

// One command per record: a result byte refuses that record only; a
// failure of the library (a negative code) ends the run, the rest skipped.
template <typename Item, typename Send, typename Name>
int OneByOne(const std::vector<Item>& items, Tally& tally, const std::string& doing, Send send, Name name) {
  EstimateSingleCommands(items.size(), doing);
  ProgressScope progress(doing);
  const PQ640_ProgressCallback draw = progress.Callback();
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (draw) draw(static_cast<std::uint32_t>(items.size()), static_cast<std::uint32_t>(i));
    const std::string record = name(items[i], i);
    if (int status = CountResult(send(items[i]), tally, items.size() - i, record, doing + " (" + record + ")");
        status != kExitOk) {
      return status;
    }
  }
  return kExitOk;
}

}  // namespace

int CountResult(PQ640_ResultCode r, Tally& tally, std::size_t remaining, const std::string& record,
                const std::string& what) {
  if (r == PQ640_OK) {
    ++tally.done;
  } else if (r > 0 && r <= 255) {
    tally.Refuse(record, static_cast<unsigned>(r));
  } else {
    tally.skipped += remaining;
    return Fail(what, r);
  }
  return kExitOk;
}

int AddAdmins(const std::vector<PQ640_AdminData>& admins, Tally& tally) {
  return OneByOne(
      admins, tally, "enrolling administrators", [](const PQ640_AdminData& a) { return PQ640_AddAdminData(&a); },
      [](const PQ640_AdminData& a, std::size_t) { return "administrator " + std::to_string(a.id); });
}

int AddIoRecords(const std::vector<PQ640_IORecord>& records, Tally& tally) {
  return OneByOne(
      records, tally, "adding IO records", [](const PQ640_IORecord& r) { return PQ640_AddIORecord(&r); },
      [&records](const PQ640_IORecord&, std::size_t i) {
        return "IO record " + std::to_string(i + 1) + " of " + std::to_string(records.size());
      });
}

int AddAdminRecords(const std::vector<PQ640_AdminRecord>& records, Tally& tally) {
  return OneByOne(
      records, tally, "adding administrator log records",
      [](const PQ640_AdminRecord& r) { return PQ640_AddAdminRecord(&r); },
      [&records](const PQ640_AdminRecord&, std::size_t i) {
        return "administrator log record " + std::to_string(i + 1) + " of " + std::to_string(records.size());
      });
}

int DeleteUsers(const std::vector<std::uint32_t>& ids, Tally& tally) {
  for (std::size_t first = 0; first < ids.size(); first += PQ640_MAX_BATCH) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(PQ640_MAX_BATCH, ids.size() - first));
    std::vector<std::uint8_t> results(n, 0);
    ProgressScope progress("deleting users");
    if (auto r = PQ640_DeleteUsersData(n, ids.data() + first, results.data(), progress.Callback()); r != PQ640_OK) {
      tally.skipped += ids.size() - first;
      return Fail("deleting users", r);
    }
    for (std::uint32_t i = 0; i < n; ++i) {
      if (results[i] == 0) {
        ++tally.done;
      } else {
        tally.Refuse("user " + std::to_string(ids[first + i]), results[i]);
      }
    }
  }
  return kExitOk;
}

int DeleteAdmins(const std::vector<std::uint32_t>& ids, Tally& tally) {
  return OneByOne(
      ids, tally, "deleting administrators", [](std::uint32_t id) { return PQ640_DeleteAdminData(id); },
      [](std::uint32_t id, std::size_t) { return "administrator " + std::to_string(id); });
}

}  // namespace pq640admin
