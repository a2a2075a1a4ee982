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

bool isMissingTable(const DatabaseError& error) noexcept {
  if (error.sqlState() == "42S02") return true;
  // The SQLite ODBC driver reports every statement failure as HY000 with SQLite's own text.
  return error.sqlState() == "HY000" &&
         std::string_view(error.what()).find("no such table:") != std::string_view::npos;
}

}  // namespace dupsweep::db
