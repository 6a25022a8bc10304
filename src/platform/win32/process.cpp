// Windows process: its ID, and the library's unload notification through
// DllMain. The handler runs when the host unloads the DLL with FreeLibrary
// (the reserved argument is then null); it runs under the loader lock, so it
// only closes the library's own handles (closesocket, CloseHandle) and never
// stops the socket layer. At process exit (reserved not null) it does not
// run: the system reclaims sockets and handles itself, and other DLLs may
// already have been detached. A static object's destructor cannot tell the
// two apart.
#include <windows.h>

#include "platform/os.h"

namespace pq640::os {
namespace {

using UnloadHandler = void (*)();
constinit UnloadHandler g_unload_handler = nullptr;

}  // namespace

std::uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

void CallAtUnload(void (*handler)()) { g_unload_handler = handler; }

}  // namespace pq640::os

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr && pq640::os::g_unload_handler != nullptr) {
    pq640::os::g_unload_handler();
  }
  return TRUE;
}
