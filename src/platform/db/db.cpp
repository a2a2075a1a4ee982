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

}  // namespace dupsweep::db
