// `export`: collected records from the database as CSV or JSON, in the one
// record vocabulary the admin tool and the Python package use too
// (docs/records.md): the record's own columns first, in its order; the
// collector's own knowledge (terminal, UTC, sequence number, late flag, raw
// bytes) only when asked for, after them.
#pragma once

#include <ostream>
#include <string>

#include "store.h"

namespace pq640collect {

enum class ExportFormat { kCsv, kJson };

// Returns the number of records written.
std::size_t ExportRecords(Store& store, LogKind log, const ExportFilter& filter, ExportFormat format, bool extra,
                          std::ostream& out);

}  // namespace pq640collect
