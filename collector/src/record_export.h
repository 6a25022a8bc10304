// `export`: collected records from the database as CSV or JSON, in terminal
// and time order.
#pragma once

#include <ostream>
#include <string>

#include "store.h"

namespace pq640collect {

enum class ExportFormat { kCsv, kJson };

// since and until are local times "YYYY-MM-DD hh:mm:ss" (both included).
// Returns the number of records written.
std::size_t ExportRecords(Store& store, LogKind log, const std::string& since, const std::string& until,
                          ExportFormat format, std::ostream& out);

}  // namespace pq640collect
