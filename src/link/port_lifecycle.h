// Opening and closing the port, and releasing it when the library leaves the
// process.
#pragma once

namespace pq640 {

// Run by the platform when the library is unloaded or the process exits.
// Closes the handles the opening process holds, on both links (a host may
// open the serial port, switch to TCP and unload), and makes no other OS
// call: on Windows it runs inside DllMain, under the loader lock, where
// shutting a connection down or stopping the socket layer can deadlock and
// would stop the host's own sockets too. A start-up of the socket layer left
// unbalanced stays counted in the process; hosts call PQ640_ClosePort before
// unloading. In any other process (a child forked from the host) it does
// nothing, as the descriptors it would close are shared with the parent.
void ClosePortsAtUnload();

}  // namespace pq640
