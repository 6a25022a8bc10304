// The DLL's unload hook: closes the port when the host unloads the library
// with FreeLibrary (the reserved argument is then null). At process exit
// (reserved not null) it does nothing: the system reclaims sockets and
// handles itself, and calling into Winsock from DllMain then is unsafe, as
// other DLLs may already have been detached. A static object's destructor
// cannot tell the two apart, which is why Windows uses this entry point
// instead of the one in port/unload_hook.cpp.
#include <windows.h>

#include "pq640/pq640.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) (void)PQ640_ClosePort();
  return TRUE;
}
