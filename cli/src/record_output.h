// Records on standard output in the form the user chose: an aligned table
// (the default), JSON, or CSV with a header row.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "record_json.h"

namespace pq640admin {

enum class OutputFormat { kTable, kJson, kCsv };

// rows: a JSON array of objects. JSON prints them as they are; the table and
// CSV take the given columns in order (array values are joined by spaces).
void PrintRecords(std::ostream& out, const std::vector<std::string>& columns, const Json& rows,
                  OutputFormat format);

// One CSV field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text);

}  // namespace pq640admin
