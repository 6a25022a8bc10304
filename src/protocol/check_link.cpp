// The smallest complete transaction: a request without payload and a bare answer.
#include "protocol/framing.h"

using namespace pq640;

extern "C" PQ640_API ResultCode PQ640_CALL PQ640_CheckLink(void) {
  return Transact(kCommandInfo<Command::kCheckLink>, nullptr, 0);
}
