// Windows time: Sleep and the 64-bit tick count, which never wraps or goes
// backwards.
#include <windows.h>

#include "platform/os.h"

namespace pq640::os {

void SleepMs(std::uint32_t ms) {
  // INFINITE (0xFFFFFFFF) would never return; one millisecond less is as good.
  Sleep(ms == INFINITE ? INFINITE - 1 : ms);
}

std::uint64_t MonotonicMs() { return GetTickCount64(); }

}  // namespace pq640::os
