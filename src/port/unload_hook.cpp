// Closes the port when the library leaves the process: a static object's
// destructor runs at dlclose() or process exit. The Windows DLL uses DllMain
// instead (platform/win32/dll_main.cpp): there a DLL's static destructors run
// at process exit too, when calling into Winsock is no longer safe.
#include "pq640/pq640.h"

namespace {

struct ClosePortOnUnload {
  ClosePortOnUnload() = default;
  ClosePortOnUnload(const ClosePortOnUnload&) = delete;
  ClosePortOnUnload& operator=(const ClosePortOnUnload&) = delete;
  ~ClosePortOnUnload() { (void)PQ640_ClosePort(); }
};

const ClosePortOnUnload g_close_port_on_unload;

}  // namespace
