#include "record_output.h"

#include <algorithm>
#include <cstddef>

namespace pq640admin {
namespace {

std::string CellText(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_array()) {
    std::string text;
    for (const Json& item : value) {
      if (!text.empty()) text += ' ';
      text += CellText(item);
    }
    return text;
  }
  if (value.is_null()) return "";
  return value.dump();
}

std::vector<std::vector<std::string>> Cells(const std::vector<std::string>& columns,
                                            const Json& rows) {
  std::vector<std::vector<std::string>> cells;
  for (const Json& row : rows) {
    std::vector<std::string>& line = cells.emplace_back();
    for (const std::string& column : columns) {
      line.push_back(row.contains(column) ? CellText(row[column]) : std::string());
    }
  }
  return cells;
}

void PrintTable(std::ostream& out, const std::vector<std::string>& columns,
                const std::vector<std::vector<std::string>>& cells) {
  std::vector<std::size_t> widths;
  for (const std::string& column : columns) widths.push_back(column.size());
  for (const auto& line : cells) {
    for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
  }
  const auto print_line = [&](const std::vector<std::string>& line) {
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
      text += line[i];
      if (i + 1 < line.size()) text += std::string(widths[i] - line[i].size() + 2, ' ');
    }
    out << text << '\n';
  };
  print_line(columns);
  for (const auto& line : cells) print_line(line);
}

}  // namespace

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

void PrintRecords(std::ostream& out, const std::vector<std::string>& columns, const Json& rows,
                  OutputFormat format) {
  switch (format) {
    case OutputFormat::kJson:
      out << rows.dump(2) << '\n';
      return;
    case OutputFormat::kCsv: {
      const auto print_line = [&](const std::vector<std::string>& line) {
        for (std::size_t i = 0; i < line.size(); ++i) out << (i ? "," : "") << CsvField(line[i]);
        out << '\n';
      };
      print_line(columns);
      for (const auto& line : Cells(columns, rows)) print_line(line);
      return;
    }
    case OutputFormat::kTable:
      PrintTable(out, columns, Cells(columns, rows));
      return;
  }
}

}  // namespace pq640admin
