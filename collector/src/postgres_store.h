// The PostgreSQL store, for fleets shared by collectors on several machines.
// Each terminal is claimed with a session-level advisory lock, so the
// database is the one coordinator and a collector that dies (its connection
// closes) frees its terminals at once.
#pragma once

#include <memory>
#include <string>

#include "store.h"

namespace pq640collect {

std::unique_ptr<Store> OpenPostgresStore(const std::string& url, StoreAccess access);

}  // namespace pq640collect
