// Opening a connection from the host's connection string.

#include "platform/db/backends.h"

namespace dupsweep::db {

namespace detail {

void fail(std::string_view message, std::string sqlState, std::string_view password) {
  throw DatabaseError(scrubPassword(message, password), std::move(sqlState));
}

}  // namespace detail

std::unique_ptr<Connection> open(std::string_view oledbConnectionString) {
  return open(parseConnectionString(oledbConnectionString));
}

std::unique_ptr<Connection> open(const ConnectionTarget& target) {
  if (target.kind == ConnectionTarget::Kind::SQLite) return detail::openSqlite(target);
  return detail::openOdbc(target);
}

void Connection::stream(std::string_view sql, RowSink& sink) {
  const std::unique_ptr<RowSet> rows = query(sql);
  std::vector<std::string> names;
  for (int c = 0; c < rows->columnCount(); ++c) names.push_back(rows->columnName(c));
  sink.columns(names);
  std::vector<Value> values(names.size());
  for (int r = 0; r < rows->rowCount(); ++r) {
    for (int c = 0; c < rows->columnCount(); ++c) values[static_cast<size_t>(c)] = rows->at(r, c);
    sink.row(values);
  }
}

void RowSink::cells(const std::vector<CellView>& row) {
  std::vector<Value> values;
  values.reserve(row.size());
  for (const CellView& cell : row) values.push_back(valueOf(cell));
  this->row(values);
}

bool isMissingTable(const DatabaseError& error) noexcept {
  if (error.sqlState() == "42S02") return true;
  // The SQLite ODBC driver reports every statement failure as HY000 with SQLite's own text.
  return error.sqlState() == "HY000" &&
         std::string_view(error.what()).find("no such table:") != std::string_view::npos;
}

bool isLocked(const DatabaseError& error) noexcept {
  return error.sqlState() == "HYT00" || error.sqlState() == "40001";
}

}  // namespace dupsweep::db
