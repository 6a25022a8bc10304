// One process at a time per terminal, for stores on a local file: an flock
// on a file named after the terminal, which the kernel releases when the
// holder dies.
#pragma once

#include <memory>
#include <string>

#include "store.h"

namespace pq640collect {

// The claim of `terminal` under the folder `claims` (created when missing),
// or nothing when another process holds it. Throws StoreError when the
// claim file cannot be made.
std::unique_ptr<Claim> TryFileClaim(const std::string& claims, const std::string& terminal);

}  // namespace pq640collect
