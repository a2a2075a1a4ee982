#pragma once
// The two backends behind db::open (internal to the database layer).

#include <memory>
#include <string>
#include <string_view>

#include "platform/db/db.h"

namespace dupsweep::db::detail {

// A connection to the existing SQLite file `target.sqlitePath`.
std::unique_ptr<Connection> openSqlite(const ConnectionTarget& target);

// A connection through the ODBC driver manager with `target.odbcConnection`.
std::unique_ptr<Connection> openOdbc(const ConnectionTarget& target);

// Throws DatabaseError(message, sqlState) with `password` scrubbed from the message.
[[noreturn]] void fail(std::string_view message, std::string sqlState, std::string_view password);

}  // namespace dupsweep::db::detail
