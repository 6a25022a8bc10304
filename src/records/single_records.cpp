// Adding, reading and deleting one user or administrator, and clearing either
// table: one transaction each, with the record codecs as payload.
#include "link/byte_channel.h"
#include "link/little_endian.h"
#include "protocol/arguments.h"
#include "protocol/framing.h"
#include "records/record_codecs.h"

using namespace pq640;

namespace {

ResultCode AddRecord(const CommandInfo& command, const RecordLayout& layout,
                     const std::uint8_t* slot) {
  // The time-out first: on a serial link that is not open the port's refusal
  // is reported ahead of a bad record.
  if (const ResultCode r = SetReadTimeout(command.read_timeout_ms); r != PQ640_OK) return r;
  if (!IsEnrollableRecord(layout, slot)) return PQ640_OUT_OF_RANGE;
  if (const ResultCode r = BeginRequest(CodeOf(command.command)); r != PQ640_OK) return r;
  if (const ResultCode r = SendRecord(layout, slot); r != PQ640_OK) return r;
  return ReadResponseHeader(ResponsePayload::kNone);
}

ResultCode DeleteRecord(const CommandInfo& command, std::uint32_t id) {
  const auto payload = LittleEndian<kIdStride>(id);
  return Transact(command, payload.data(), payload.size());
}

// The caller names the wanted ID in the slot; the terminal's answer then
// overwrites the whole record, ID included.
ResultCode GetRecord(const CommandInfo& command, const RecordLayout& layout, std::uint8_t* slot) {
  if (const ResultCode r = StartRequest(command); r != PQ640_OK) return r;
  if (const ResultCode r = SendBytes(slot, kIdStride); r != PQ640_OK) return r;
  if (const ResultCode r = ReadResponseHeader(ResponsePayload::kFollows); r != PQ640_OK) return r;
  if (const ResultCode r = ReceiveRecord(layout, slot); r != PQ640_OK) return r;
  return VerifyChecksum();
}

std::uint8_t* Bytes(void* record) { return static_cast<std::uint8_t*>(record); }
const std::uint8_t* Bytes(const void* record) { return static_cast<const std::uint8_t*>(record); }

}  // namespace

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_AddUserData(const PQ640_UserData* record) {
  if (AnyNull(record)) return PQ640_INVALID_ARGUMENT;
  return AddRecord(kCommandInfo<Command::kAddUserData>, kUserLayout, Bytes(record));
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_DeleteUserData(std::uint32_t id) {
  return DeleteRecord(kCommandInfo<Command::kDeleteUserData>, id);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_DeleteAllUserData(void) {
  return Transact(kCommandInfo<Command::kDeleteAllUserData>, nullptr, 0);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetUserData(PQ640_UserData* record) {
  if (AnyNull(record)) return PQ640_INVALID_ARGUMENT;
  return GetRecord(kCommandInfo<Command::kGetUserData>, kUserLayout, Bytes(record));
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_AddAdminData(const PQ640_AdminData* record) {
  if (AnyNull(record)) return PQ640_INVALID_ARGUMENT;
  return AddRecord(kCommandInfo<Command::kAddAdminData>, kAdminLayout, Bytes(record));
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_DeleteAdminData(std::uint32_t id) {
  return DeleteRecord(kCommandInfo<Command::kDeleteAdminData>, id);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_DeleteAllAdminData(void) {
  return Transact(kCommandInfo<Command::kDeleteAllAdminData>, nullptr, 0);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetAdminData(PQ640_AdminData* record) {
  if (AnyNull(record)) return PQ640_INVALID_ARGUMENT;
  return GetRecord(kCommandInfo<Command::kGetAdminData>, kAdminLayout, Bytes(record));
}
