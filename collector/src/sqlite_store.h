// The SQLite store: one database file, shared by the worker processes of one
// machine (WAL mode, a generous busy time-out). Claims are flock()ed files
// beside the database, so the kernel releases them when a worker dies.
#pragma once

#include <memory>
#include <string>

#include "store.h"

namespace pq640collect {

std::unique_ptr<Store> OpenSqliteStore(const std::string& path, StoreAccess access);

}  // namespace pq640collect
