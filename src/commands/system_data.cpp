// Reading and writing the terminal's 256-byte settings block.
#include "commands/system_data_rules.h"
#include "protocol/arguments.h"
#include "protocol/framing.h"

using namespace pq640;

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_GetSystemData(PQ640_SystemData* block) {
  if (AnyNull(block)) return PQ640_INVALID_ARGUMENT;
  const ResultCode result = TransactReading(kCommandInfo<Command::kGetSystemData>, nullptr, 0,
                                            block->bytes, sizeof block->bytes);
  if (result != PQ640_OK) return result;
  return CheckSystemData(*block, Direction::kReading);
}

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_SetSystemData(const PQ640_SystemData* block) {
  if (AnyNull(block)) return PQ640_INVALID_ARGUMENT;
  if (const ResultCode r = CheckSystemData(*block, Direction::kWriting); r != PQ640_OK) return r;
  return Transact(kCommandInfo<Command::kSetSystemData>, block->bytes, sizeof block->bytes);
}
