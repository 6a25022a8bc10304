// The collector's tables, as numbered migrations. Each database records the
// versions it has applied in schema_version; a newer collector applies only
// the ones after that, so old databases move forward in place.
#pragma once

#include <string>
#include <vector>

namespace pq640collect {

enum class Dialect { kSqlite, kPostgres };

struct Migration {
  int version;
  std::vector<std::string> statements;
};

std::vector<Migration> Migrations(Dialect dialect);
// The version this collector writes; status and export refuse an older database.
inline constexpr int kSchemaVersion = 2;

}  // namespace pq640collect
