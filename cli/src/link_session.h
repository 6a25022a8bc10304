// Selecting, opening and closing the link. The library holds one connection
// per process, so a command that talks to two terminals (copy-users) closes
// one link and opens the other.
#pragma once

#include <optional>
#include <string>

#include "admin_context.h"

namespace pq640admin {

// Sets the address (always before opening, so a TCP command never goes to
// the library's built-in placeholder), link, ID; opens; wakes if asked.
// Returns an exit status: a setter's refusal is a usage error.
int OpenLink(const LinkOptions& link);
// Closes the port; the exit status of a failure to close.
int CloseLink();

// "COMn" (n 1..10) as a serial link, anything else as a TCP address; the
// baud code and the wake-up are taken from `like`.
LinkOptions LinkTo(const std::string& target, std::uint16_t terminal_id, const LinkOptions& like);

}  // namespace pq640admin
