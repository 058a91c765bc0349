// Table and JSON rendering.
#include "admin/Output.h"

#include "admin/Session.h"

#include <algorithm>

namespace orvex::admin {

void PrintTable(std::ostream& out, const Table& table) {
  std::vector<std::size_t> widths(table.headers.size(), 0);
  auto measure = [&](const std::vector<std::string>& row) {
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i)
      widths[i] = std::max(widths[i], row[i].size());
  };
  measure(table.headers);
  for (const auto& row : table.rows) measure(row);
  auto print = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  };
  print(table.headers);
  for (const auto& row : table.rows) print(row);
}

std::string JsonText(const Json& value) {
  return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

void Print(const Session& session, std::ostream& out, const Json& json, const Table& table) {
  if (session.Json())
    out << JsonText(json) << '\n';
  else
    PrintTable(out, table);
}

void PrintMessage(const Session& session, std::ostream& out, const Json& json,
                  const std::string& text) {
  if (session.Json())
    out << JsonText(json) << '\n';
  else
    out << text << '\n';
}

}  // namespace orvex::admin
