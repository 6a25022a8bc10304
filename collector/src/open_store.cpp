#include "postgres_store.h"
#include "sqlite_store.h"
#include "store.h"

namespace pq640collect {

std::unique_ptr<Store> OpenStore(const std::string& url, StoreAccess access) {
  if (url.rfind("sqlite:", 0) == 0) return OpenSqliteStore(url.substr(7), access);
  if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0) return OpenPostgresStore(url, access);
  throw StoreError("unknown store URL \"" + url + "\": use sqlite:FILE or postgresql://...");
}

}  // namespace pq640collect
