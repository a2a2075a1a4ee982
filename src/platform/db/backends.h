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

// The kind of failure an SQLSTATE stands for: 42S02 a missing table, class 08 a lost (or never
// made) link, HYT00, HY008 and 40001 a lock waited for in vain (or a deadlock), class 23 a
// constraint; every other state Other.
DatabaseError::Kind kindOfState(std::string_view sqlState) noexcept;

// Throws DatabaseError(message, sqlState, kind) with `password` scrubbed from the message; the
// kind is kindOfState(sqlState) unless given.
[[noreturn]] void fail(std::string_view message, std::string sqlState, std::string_view password);
[[noreturn]] void fail(std::string_view message, std::string sqlState, std::string_view password,
                       DatabaseError::Kind kind, int nativeCode = 0);

}  // namespace dupsweep::db::detail
