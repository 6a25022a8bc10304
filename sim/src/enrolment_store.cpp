#include "pq640sim/enrolment_store.h"

#include <utility>

#include "pq640sim/enrolment_layout.h"
#include "pq640sim/little_endian.h"

namespace pq640sim {
namespace {

Reply ResultOnly(std::uint8_t result) { return Reply{result, {}}; }

void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A new ID needs room; a held one is replaced in place.
std::uint8_t Put(RecordTable& table, std::size_t capacity, std::span<const std::uint8_t> record) {
  const std::uint32_t id = LoadU32(record, 0);
  auto held = table.find(id);
  if (held == table.end() && table.size() >= capacity) return kResultTableFull;
  table.insert_or_assign(held, id, std::vector<std::uint8_t>(record.begin(), record.end()));
  return kResultOk;
}

Reply Get(const RecordTable& table, std::uint32_t id) {
  const auto held = table.find(id);
  if (held == table.end()) return ResultOnly(kResultUnknownId);
  return Reply{kResultOk, held->second};
}

Reply Erase(RecordTable& table, std::uint32_t id) {
  return ResultOnly(table.erase(id) == 1 ? kResultOk : kResultUnknownId);
}

// The count, then per entry the ID (mode 1) or the record (mode 2); other
// modes carry the count alone, which is all the host reads for them.
Reply List(const RecordTable& table, std::uint8_t mode) {
  Reply reply;
  std::size_t size = 4;
  if (mode == kListIds) size += 4 * table.size();
  if (mode == kListRecords) {
    for (const auto& entry : table) size += entry.second.size();
  }
  reply.payload.reserve(size);
  AppendU32(reply.payload, static_cast<std::uint32_t>(table.size()));
  for (const auto& [id, record] : table) {
    if (mode == kListIds) AppendU32(reply.payload, id);
    if (mode == kListRecords) reply.payload.insert(reply.payload.end(), record.begin(), record.end());
  }
  return reply;
}

}  // namespace

std::uint8_t EnrolmentStore::PutUser(std::span<const std::uint8_t> record) {
  if (!IsAcceptableUserRecord(record)) return kResultMalformedRecord;
  return Put(users_, max_users_, record);
}

Reply EnrolmentStore::AddUser(std::span<const std::uint8_t> record) { return ResultOnly(PutUser(record)); }

Reply EnrolmentStore::DeleteUser(std::uint32_t id) { return Erase(users_, id); }

Reply EnrolmentStore::DeleteAllUsers() {
  users_.clear();
  return Reply{};
}

Reply EnrolmentStore::GetUser(std::uint32_t id) const { return Get(users_, id); }

Reply EnrolmentStore::ListUsers(std::uint8_t mode) const { return List(users_, mode); }

Reply EnrolmentStore::AddUsers(std::span<const std::uint8_t> payload) {
  const std::uint32_t count = LoadU32(payload, 0);
  Reply reply;
  reply.payload.reserve(count);
  std::size_t offset = 4;
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto rest = payload.subspan(offset);
    const std::size_t length = ScanUserRecord(rest).length;
    reply.payload.push_back(PutUser(rest.first(length)));
    offset += length;
  }
  return reply;
}

Reply EnrolmentStore::DeleteUsers(std::span<const std::uint8_t> payload) {
  const std::uint32_t count = LoadU32(payload, 0);
  Reply reply;
  reply.payload.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    reply.payload.push_back(Erase(users_, LoadU32(payload, 4 + 4 * i)).result);
  }
  return reply;
}

Reply EnrolmentStore::GetUsers(std::span<const std::uint8_t> payload) const {
  // Only the IDs held, in the order asked; an ID asked twice comes twice, so
  // the answer never holds more records than IDs were asked for.
  const std::uint32_t count = LoadU32(payload, 0);
  Reply reply;
  AppendU32(reply.payload, 0);
  std::uint32_t found = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto held = users_.find(LoadU32(payload, 4 + 4 * i));
    if (held == users_.end()) continue;
    reply.payload.insert(reply.payload.end(), held->second.begin(), held->second.end());
    ++found;
  }
  StoreU32(reply.payload, 0, found);
  return reply;
}

Reply EnrolmentStore::AddAdmin(std::span<const std::uint8_t> record) {
  if (!IsAcceptableAdminRecord(record)) return ResultOnly(kResultMalformedRecord);
  return ResultOnly(Put(admins_, max_admins_, record));
}

Reply EnrolmentStore::DeleteAdmin(std::uint32_t id) { return Erase(admins_, id); }

Reply EnrolmentStore::DeleteAllAdmins() {
  admins_.clear();
  return Reply{};
}

Reply EnrolmentStore::GetAdmin(std::uint32_t id) const { return Get(admins_, id); }

Reply EnrolmentStore::ListAdmins(std::uint8_t mode) const { return List(admins_, mode); }

void EnrolmentStore::Assign(RecordTable users, RecordTable admins) {
  users_ = std::move(users);
  admins_ = std::move(admins);
}

void EnrolmentStore::Clear() {
  users_.clear();
  admins_.clear();
}

void EnrolmentStore::SetCapacities(std::size_t max_users, std::size_t max_admins) {
  max_users_ = max_users;
  max_admins_ = max_admins;
}

}  // namespace pq640sim
