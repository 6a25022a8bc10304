// The serial link names its ports "COM<n>". Every platform accepts exactly
// that form (n from 1, without leading zeros) and maps the number to a device
// of its own.
#pragma once

namespace pq640::os {

inline bool ParsePortName(const char* name, unsigned* port) {
  if (name == nullptr || name[0] != 'C' || name[1] != 'O' || name[2] != 'M') return false;
  const char* digit = name + 3;
  if (*digit < '1' || *digit > '9') return false;
  unsigned value = 0;
  for (; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9' || value > 65535u) return false;
    value = value * 10u + static_cast<unsigned>(*digit - '0');
  }
  *port = value;
  return true;
}

}  // namespace pq640::os
