#include "scenarios.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace pq640bench {
namespace {

constexpr std::uint8_t kCheckLink = 1;
constexpr std::uint8_t kGetAllUserData = 20;
constexpr std::uint8_t kAddUsersData = 21;
constexpr std::uint8_t kGetUsersData = 23;
constexpr std::uint8_t kGetIORecord = 72;
constexpr std::uint8_t kGetUsersIORecord = 76;
constexpr std::uint8_t kAnyInOutState = 0xFF;
constexpr std::uint8_t kResultOk = 0;
// A result byte the replay never sends, so unwritten slots show.
constexpr std::uint8_t kUnwritten = 0xEE;

template <typename T>
std::span<const std::uint8_t> BytesOf(const T& value) {
  return {reinterpret_cast<const std::uint8_t*>(&value), sizeof value};
}

Bytes UserListPayload(const DataSet& data) {
  Bytes payload;
  AppendU32(payload, static_cast<std::uint32_t>(data.users.size()));
  for (const PQ640_UserData& user : data.users) AppendBytes(payload, UserWire(user));
  return payload;
}

Bytes IoRecordsPayload(const DataSet& data, std::size_t count) {
  Bytes payload;
  AppendU32(payload, static_cast<std::uint32_t>(count));
  AppendBytes(payload, {reinterpret_cast<const std::uint8_t*>(data.io_records.data()),
                        count * sizeof(PQ640_IORecord)});
  return payload;
}

Bytes IdListPayload(const DataSet& data) {
  Bytes payload;
  AppendU32(payload, static_cast<std::uint32_t>(data.user_ids.size()));
  for (std::uint32_t id : data.user_ids) AppendU32(payload, id);
  return payload;
}

std::function<bool(std::string*)> UsersCheck(const DataSet& data, const Outputs& out) {
  return [&data, &out](std::string* error) {
    if (out.count != data.users.size()) {
      *error = "count " + std::to_string(out.count);
      return false;
    }
    for (std::size_t i = 0; i < data.users.size(); ++i) {
      if (!SameUser(out.users[i], data.users[i])) {
        *error = "user " + std::to_string(i) + " differs";
        return false;
      }
    }
    return true;
  };
}

std::function<bool(std::string*)> IoRecordsCheck(const DataSet& data, const Outputs& out,
                                                 std::size_t count) {
  return [&data, &out, count](std::string* error) {
    if (out.count != count ||
        std::memcmp(out.io_records.data(), data.io_records.data(), count * sizeof(PQ640_IORecord)) != 0) {
      *error = "records differ (count " + std::to_string(out.count) + ")";
      return false;
    }
    return true;
  };
}

Scenario CheckLink() {
  Scenario s;
  s.name = kCheckLinkName;
  s.target = Target::kPerCommand;
  s.exchange = {RequestFrame(kCheckLink, {}), ResponseFrame(kResultOk, {})};
  s.reset_output = [] {};
  s.call = [] { return PQ640_CheckLink(); };
  s.check_output = [](std::string*) { return true; };
  return s;
}

Scenario GetAllUsers(const DataSet& data, Outputs& out) {
  Scenario s;
  s.name = "GetAllUserData mode 2, 1000 users";
  s.bulk_read = true;
  const Bytes mode{PQ640_LIST_RECORDS};
  s.exchange = {RequestFrame(kGetAllUserData, mode), ResponseFrame(kResultOk, UserListPayload(data))};
  s.reset_output = [&out] { std::fill(out.users.begin(), out.users.end(), PQ640_UserData{}); };
  s.call = [&out] { return PQ640_GetAllUserData(&out.count, out.users.data(), PQ640_LIST_RECORDS, nullptr); };
  s.check_output = UsersCheck(data, out);
  return s;
}

Scenario GetUsers(const DataSet& data, Outputs& out) {
  Scenario s;
  s.name = "GetUsersData, 1000 users";
  s.bulk_read = true;
  s.exchange = {RequestFrame(kGetUsersData, IdListPayload(data)),
                ResponseFrame(kResultOk, UserListPayload(data))};
  s.reset_output = [&out] { std::fill(out.users.begin(), out.users.end(), PQ640_UserData{}); };
  s.call = [&data, &out] {
    out.count = static_cast<std::uint32_t>(data.user_ids.size());
    return PQ640_GetUsersData(&out.count, data.user_ids.data(), out.users.data(), nullptr);
  };
  s.check_output = UsersCheck(data, out);
  return s;
}

Scenario GetIoRecords(const DataSet& data, Outputs& out, std::size_t count) {
  Scenario s;
  s.name = "GetIORecord, " + std::to_string(count) + " records";
  s.bulk_read = true;
  // The whole log, or the time range that holds exactly the first `count`.
  const PQ640_RecordQuery query = count == data.io_records.size()
                                      ? AllRecordsQuery()
                                      : TimeRangeQuery(IoRecordTime(0), IoRecordTime(count - 1));
  s.exchange = {RequestFrame(kGetIORecord, BytesOf(query)),
                ResponseFrame(kResultOk, IoRecordsPayload(data, count))};
  s.reset_output = [&out] { std::fill(out.io_records.begin(), out.io_records.end(), PQ640_IORecord{}); };
  s.call = [&out, query] { return PQ640_GetIORecord(&query, &out.count, out.io_records.data(), nullptr); };
  s.check_output = IoRecordsCheck(data, out, count);
  return s;
}

Scenario GetUsersIoRecords(const DataSet& data, Outputs& out) {
  Scenario s;
  s.name = "GetUsersIORecord, 1000 users (10000 records)";
  s.bulk_read = true;
  const PQ640_DateTime from = IoRecordTime(0);
  const PQ640_DateTime to = IoRecordTime(kLogRangeCount - 1);
  Bytes payload = IdListPayload(data);
  AppendU8(payload, kAnyInOutState);
  AppendBytes(payload, BytesOf(from));
  AppendBytes(payload, BytesOf(to));
  s.exchange = {RequestFrame(kGetUsersIORecord, payload),
                ResponseFrame(kResultOk, IoRecordsPayload(data, kLogRangeCount))};
  s.reset_output = [&out] { std::fill(out.io_records.begin(), out.io_records.end(), PQ640_IORecord{}); };
  s.call = [&data, &out, from, to] {
    return PQ640_GetUsersIORecord(static_cast<std::uint32_t>(data.user_ids.size()), data.user_ids.data(),
                                  kAnyInOutState, &from, &to, &out.count, out.io_records.data(), nullptr);
  };
  s.check_output = IoRecordsCheck(data, out, kLogRangeCount);
  return s;
}

Scenario AddUsers(const DataSet& data, Outputs& out) {
  Scenario s;
  s.name = kAddUsersName;
  s.target = Target::kRawSender;
  Bytes payload;
  AppendU32(payload, static_cast<std::uint32_t>(data.users.size()));
  for (const PQ640_UserData& user : data.users) AppendBytes(payload, UserWire(user));
  s.exchange = {RequestFrame(kAddUsersData, payload),
                ResponseFrame(kResultOk, Bytes(data.users.size(), kResultOk))};
  s.reset_output = [&out] { std::fill(out.results.begin(), out.results.end(), kUnwritten); };
  s.call = [&data, &out] {
    return PQ640_AddUsersData(static_cast<std::uint32_t>(data.users.size()), data.users.data(),
                              out.results.data(), nullptr);
  };
  s.check_output = [&data, &out](std::string* error) {
    const auto end = out.results.begin() + static_cast<std::ptrdiff_t>(data.users.size());
    if (std::all_of(out.results.begin(), end, [](std::uint8_t r) { return r == kResultOk; })) return true;
    *error = "result bytes not all 0";
    return false;
  };
  return s;
}

// The same exchange through the capacity-checked read: the array's capacity
// is what the outputs hold, as a host sizes it from the count.
Scenario BoundedTwin(const Scenario& original, std::string name, std::function<PQ640_ResultCode()> call) {
  Scenario s = original;
  s.name = std::move(name);
  s.bulk_read = false;  // end to end once, through the original
  s.call = std::move(call);
  return s;
}

std::uint32_t Capacity(const auto& array) { return static_cast<std::uint32_t>(array.size()); }

void AddBoundedTwins(const DataSet& data, Outputs& out, std::vector<Scenario>& scenarios) {
  const std::vector<Scenario> originals = scenarios;
  for (const Scenario& original : originals) {
    if (original.name == "GetAllUserData mode 2, 1000 users") {
      scenarios.push_back(BoundedTwin(original, "GetAllUserDataBounded mode 2, 1000 users", [&out] {
        return PQ640_GetAllUserDataBounded(Capacity(out.users), &out.count, out.users.data(),
                                           PQ640_LIST_RECORDS, nullptr);
      }));
    } else if (original.name.rfind("GetIORecord, ", 0) == 0) {
      const bool whole = original.name == "GetIORecord, " + std::to_string(data.io_records.size()) + " records";
      const PQ640_RecordQuery query = whole ? AllRecordsQuery()
                                            : TimeRangeQuery(IoRecordTime(0), IoRecordTime(kLogRangeCount - 1));
      scenarios.push_back(BoundedTwin(original, "GetIORecordBounded" + original.name.substr(11), [&out, query] {
        return PQ640_GetIORecordBounded(&query, Capacity(out.io_records), &out.count, out.io_records.data(),
                                        nullptr);
      }));
    } else if (original.name.rfind("GetUsersIORecord, ", 0) == 0) {
      const PQ640_DateTime from = IoRecordTime(0);
      const PQ640_DateTime to = IoRecordTime(kLogRangeCount - 1);
      scenarios.push_back(BoundedTwin(original, "GetUsersIORecordBounded" + original.name.substr(16),
                                      [&data, &out, from, to] {
                                        return PQ640_GetUsersIORecordBounded(
                                            Capacity(data.user_ids), data.user_ids.data(), kAnyInOutState, &from,
                                            &to, Capacity(out.io_records), &out.count, out.io_records.data(),
                                            nullptr);
                                      }));
    }
  }
}

}  // namespace

std::vector<Scenario> MakeScenarios(const DataSet& data, Outputs& outputs) {
  outputs.users.assign(data.users.size(), PQ640_UserData{});
  outputs.io_records.assign(data.io_records.size(), PQ640_IORecord{});
  outputs.results.assign(data.users.size(), kUnwritten);
  std::vector<Scenario> scenarios;
  scenarios.push_back(CheckLink());
  scenarios.push_back(GetAllUsers(data, outputs));
  scenarios.push_back(GetUsers(data, outputs));
  scenarios.push_back(GetIoRecords(data, outputs, kLogRangeCount));
  scenarios.push_back(GetIoRecords(data, outputs, kLogRecordCount));
  scenarios.push_back(GetUsersIoRecords(data, outputs));
  scenarios.push_back(AddUsers(data, outputs));
  AddBoundedTwins(data, outputs, scenarios);
  return scenarios;
}

}  // namespace pq640bench
