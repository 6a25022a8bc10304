// Commands that change how the terminal talks and behaves, or wipe it.
#include "link/little_endian.h"
#include "link/serial_link.h"
#include "port/comm_state.h"
#include "protocol/framing.h"

using namespace pq640;

namespace {

constexpr std::uint32_t kMaxCommMode = 2;
constexpr std::uint8_t kEraseConfirmation[] = {'D', 'e', 'l', 'e', 't', 'e'};

}  // namespace

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_UpdateCommState(std::uint32_t comm_state) {
  if (!CommStateWithin(comm_state, 4, 4, 1)) return PQ640_INVALID_ARGUMENT;
  const auto word = static_cast<std::uint16_t>(comm_state);
  const auto payload = LittleEndian<2>(word);
  const ResultCode result =
      Transact(kCommandInfo<Command::kUpdateCommState>, payload.data(), payload.size());
  if (result != PQ640_OK) return result;
  // The terminal answered at the old speed; now the local port follows it.
  (void)ApplyBaudCode(word);
  return PQ640_OK;
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_ChangeTerminalID(std::uint16_t new_id) {
  if (new_id > kMaxTerminalId) return PQ640_OUT_OF_RANGE;
  const auto payload = LittleEndian<2>(new_id);
  // The answer still comes from the old ID.
  const ResultCode result =
      Transact(kCommandInfo<Command::kChangeTerminalID>, payload.data(), payload.size());
  if (result == PQ640_OK) Port().terminal_id = new_id;
  return result;
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_SetTermCommMode(std::uint8_t mode) {
  if (mode > kMaxCommMode) return PQ640_OUT_OF_RANGE;
  return Transact(kCommandInfo<Command::kSetTermCommMode>, &mode, 1);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_SetMatchingPerform(std::uint8_t value) {
  return Transact(kCommandInfo<Command::kSetMatchingPerform>, &value, 1);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_DeleteAllDataRom(void) {
  return Transact(kCommandInfo<Command::kDeleteAllDataRom>, kEraseConfirmation,
                  sizeof kEraseConfirmation);
}
