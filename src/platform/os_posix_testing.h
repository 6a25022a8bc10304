// Test-only hooks of the POSIX seam (platform/posix/serial.cpp). Not exported
// from the shared library; reachable from tests that link the static archive.
#pragma once

namespace pq640::os::testing {

// Makes "COM<port_number>" open `device_path` (e.g. a pseudo-terminal) instead
// of the usual mapping. A null path removes the redirection.
void SetSerialDevicePath(unsigned port_number, const char* device_path);

}  // namespace pq640::os::testing
