// Test-only hooks of the POSIX seam (platform/posix/serial.cpp). Not exported
// from the shared library; reachable from tests that link the static archive.
#pragma once

namespace pq640::os::testing {

// Makes "COM<port_number>" open `device_path` (e.g. a pseudo-terminal) instead
// of the usual mapping. A null path removes the redirection. False when the
// redirection is not made: port 0, all ten slots taken, or a path of 64 bytes
// or more (the port then fails to open rather than reach a real device).
bool SetSerialDevicePath(unsigned port_number, const char* device_path);

}  // namespace pq640::os::testing
