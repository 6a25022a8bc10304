// POSIX process: its ID, and the library's unload notification. A static
// object's destructor runs at dlclose() and at exit. Portable code registers
// the handler when it opens the port, which also makes a static host link this
// file: an unreferenced hook object would be left out of the program.
#include <unistd.h>

#include "platform/os.h"

namespace pq640::os {
namespace {

using UnloadHandler = void (*)();
constinit UnloadHandler g_unload_handler = nullptr;

struct RunHandlerOnUnload {
  constexpr RunHandlerOnUnload() = default;
  RunHandlerOnUnload(const RunHandlerOnUnload&) = delete;
  RunHandlerOnUnload& operator=(const RunHandlerOnUnload&) = delete;
  ~RunHandlerOnUnload() {
    if (g_unload_handler != nullptr) g_unload_handler();
  }
};

constinit const RunHandlerOnUnload g_run_handler_on_unload;

}  // namespace

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

void CallAtUnload(void (*handler)()) { g_unload_handler = handler; }

}  // namespace pq640::os
