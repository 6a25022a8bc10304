// Opening and closing the port, and closing it when the library leaves the
// process.
#pragma once

namespace pq640 {

// Run by the platform when the library is unloaded or the process exits.
// Closes whatever the opening process holds, on both links: a host may open
// the serial port, switch to TCP and unload. In any other process (a child
// forked from the host) it does nothing, as the descriptors it would close,
// shut down or unlock are shared with the parent.
void ClosePortsAtUnload();

}  // namespace pq640
