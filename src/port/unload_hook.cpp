// Closes the port when the library leaves the process. A static object's
// destructor runs at dlclose() or process exit on POSIX and at DLL detach on
// Windows, so no platform-specific entry point is needed.
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
