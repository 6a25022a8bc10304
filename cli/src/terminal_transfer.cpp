#include "terminal_transfer.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "failure_report.h"
#include "progress_bar.h"

namespace pq640admin {
namespace {

std::string ResultByteText(std::uint8_t byte) {
  return "result byte " + std::to_string(byte) + " (" + PQ640_ResultText(byte) + ")";
}

// Before a run of one command per record, say how long it will take.
void EstimateSingleCommands(std::size_t count, const std::string& what) {
  if (count < 20) return;
  const auto seconds = static_cast<long>(std::lround(static_cast<double>(count) * kSecondsPerCommand));
  Note(what + ": " + std::to_string(count) + " commands, one per record; about " +
       std::to_string(seconds) + " s over TCP");
}

}  // namespace

int ReadUsers(std::vector<PQ640_UserData>& users) {
  std::uint32_t count = 0;
  if (auto r = PQ640_GetAllUserData(&count, nullptr, PQ640_LIST_COUNT, nullptr); r != PQ640_OK) {
    return Fail("counting the users", r);
  }
  users.assign(count + kEnrolmentHeadroom, PQ640_UserData{});
  ProgressScope progress("reading users");
  if (auto r = PQ640_GetAllUserData(&count, users.data(), PQ640_LIST_RECORDS, progress.Callback());
      r != PQ640_OK) {
    return Fail("reading the users", r);
  }
  users.resize(std::min<std::size_t>(count, users.size()));
  return kExitOk;
}

int ReadAdmins(std::vector<PQ640_AdminData>& admins) {
  std::uint32_t count = 0;
  if (auto r = PQ640_GetAllAdminData(&count, nullptr, PQ640_LIST_COUNT, nullptr); r != PQ640_OK) {
    return Fail("counting the administrators", r);
  }
  admins.assign(count + kEnrolmentHeadroom, PQ640_AdminData{});
  ProgressScope progress("reading administrators");
  if (auto r = PQ640_GetAllAdminData(&count, admins.data(), PQ640_LIST_RECORDS, progress.Callback());
      r != PQ640_OK) {
    return Fail("reading the administrators", r);
  }
  admins.resize(std::min<std::size_t>(count, admins.size()));
  return kExitOk;
}

int ReadIoRecords(const PQ640_RecordQuery& query, std::vector<PQ640_IORecord>& records) {
  std::uint32_t count = 0;
  if (auto r = PQ640_GetIORecordNum(&query, &count); r != PQ640_OK) {
    return Fail("counting the IO records", r);
  }
  records.assign(count + kLogHeadroom, PQ640_IORecord{});
  ProgressScope progress("reading IO records");
  if (auto r = PQ640_GetIORecord(&query, &count, records.data(), progress.Callback()); r != PQ640_OK) {
    return Fail("reading the IO records", r);
  }
  records.resize(std::min<std::size_t>(count, records.size()));
  return kExitOk;
}

int ReadAdminRecords(const PQ640_RecordQuery& query, std::vector<PQ640_AdminRecord>& records) {
  std::uint32_t count = 0;
  if (auto r = PQ640_GetAdminRecordNum(&query, &count); r != PQ640_OK) {
    return Fail("counting the administrator log records", r);
  }
  records.assign(count + kLogHeadroom, PQ640_AdminRecord{});
  ProgressScope progress("reading administrator log records");
  if (auto r = PQ640_GetAdminRecord(&query, &count, records.data(), progress.Callback());
      r != PQ640_OK) {
    return Fail("reading the administrator log records", r);
  }
  records.resize(std::min<std::size_t>(count, records.size()));
  return kExitOk;
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

int AddUsers(const std::vector<PQ640_UserData>& users) {
  int status = kExitOk;
  for (std::size_t first = 0; first < users.size(); first += PQ640_MAX_BATCH) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(PQ640_MAX_BATCH, users.size() - first));
    std::vector<std::uint8_t> results(n, 0);
    ProgressScope progress("enrolling users", 2);
    if (auto r = PQ640_AddUsersData(n, users.data() + first, results.data(), progress.Callback());
        r != PQ640_OK) {
      return Fail("enrolling users", r);
    }
    for (std::uint32_t i = 0; i < n; ++i) {
      if (results[i] == 0) continue;
      Note("user " + std::to_string(users[first + i].id) + " was not enrolled: " +
           ResultByteText(results[i]));
      status = kExitFailed;
    }
  }
  return status;
}

int AddAdmins(const std::vector<PQ640_AdminData>& admins) {
  EstimateSingleCommands(admins.size(), "enrolling administrators");
  ProgressScope progress("enrolling administrators");
  const PQ640_ProgressCallback draw = progress.Callback();
  for (std::size_t i = 0; i < admins.size(); ++i) {
    if (draw) draw(static_cast<std::uint32_t>(admins.size()), static_cast<std::uint32_t>(i));
    if (auto r = PQ640_AddAdminData(&admins[i]); r != PQ640_OK) {
      return Fail("enrolling administrator " + std::to_string(admins[i].id), r);
    }
  }
  return kExitOk;
}

int AddIoRecords(const std::vector<PQ640_IORecord>& records) {
  EstimateSingleCommands(records.size(), "adding IO records");
  ProgressScope progress("adding IO records");
  const PQ640_ProgressCallback draw = progress.Callback();
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (draw) draw(static_cast<std::uint32_t>(records.size()), static_cast<std::uint32_t>(i));
    if (auto r = PQ640_AddIORecord(&records[i]); r != PQ640_OK) {
      return Fail("adding IO record " + std::to_string(i + 1) + " of " + std::to_string(records.size()), r);
    }
  }
  return kExitOk;
}

int AddAdminRecords(const std::vector<PQ640_AdminRecord>& records) {
  EstimateSingleCommands(records.size(), "adding administrator log records");
  ProgressScope progress("adding administrator log records");
  const PQ640_ProgressCallback draw = progress.Callback();
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (draw) draw(static_cast<std::uint32_t>(records.size()), static_cast<std::uint32_t>(i));
    if (auto r = PQ640_AddAdminRecord(&records[i]); r != PQ640_OK) {
      return Fail("adding administrator log record " + std::to_string(i + 1) + " of " +
                      std::to_string(records.size()),
                  r);
    }
  }
  return kExitOk;
}

int DeleteUsers(const std::vector<std::uint32_t>& ids) {
  int status = kExitOk;
  for (std::size_t first = 0; first < ids.size(); first += PQ640_MAX_BATCH) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(PQ640_MAX_BATCH, ids.size() - first));
    std::vector<std::uint8_t> results(n, 0);
    ProgressScope progress("deleting users");
    if (auto r = PQ640_DeleteUsersData(n, ids.data() + first, results.data(), progress.Callback());
        r != PQ640_OK) {
      return Fail("deleting users", r);
    }
    for (std::uint32_t i = 0; i < n; ++i) {
      if (results[i] == 0) continue;
      Note("user " + std::to_string(ids[first + i]) + " was not deleted: " + ResultByteText(results[i]));
      status = kExitFailed;
    }
  }
  return status;
}

int DeleteAdmins(const std::vector<std::uint32_t>& ids) {
  EstimateSingleCommands(ids.size(), "deleting administrators");
  int status = kExitOk;
  for (const std::uint32_t id : ids) {
    if (auto r = PQ640_DeleteAdminData(id); r != PQ640_OK) {
      status = Fail("deleting administrator " + std::to_string(id), r);
      if (r < 0) break;  // the link failed; a refusal (a result byte) concerns this ID only
    }
  }
  return status;
}

}  // namespace pq640admin
