// Opening a connection from the host's connection string.

#include "platform/db/backends.h"

namespace dupsweep::db {

namespace detail {

DatabaseError::Kind kindOfState(std::string_view sqlState) noexcept {
  using Kind = DatabaseError::Kind;
  if (sqlState == "42S02") return Kind::MissingTable;
  if (sqlState.starts_with("08")) return Kind::LinkLost;
  if (sqlState == "HYT00" || sqlState == "HY008" || sqlState == "40001") return Kind::Locked;
  if (sqlState.starts_with("23")) return Kind::Constraint;
  return Kind::Other;
}

void fail(std::string_view message, std::string sqlState, std::string_view password) {
  const DatabaseError::Kind kind = kindOfState(sqlState);
  fail(message, std::move(sqlState), password, kind);
}

void fail(std::string_view message, std::string sqlState, std::string_view password,
          DatabaseError::Kind kind, int nativeCode) {
  throw DatabaseError(scrubPassword(message, password), std::move(sqlState), kind, nativeCode);
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

}  // namespace dupsweep::db
