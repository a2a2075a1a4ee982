#pragma once
// A SQLite file the component keeps for itself (not a host's database named by a connection
// string): opened as its keeper asks, read-only or read-write, never created by SQLite, or an
// empty database in memory. Statements, bound values and failures are the SQLite backend's own;
// each DatabaseError carries SQLite's extended result code as its nativeCode.

#include <filesystem>
#include <memory>

#include "platform/db/db.h"

namespace dupsweep::db {

struct SqliteFileOptions {
  enum class Access { ReadOnly, ReadWrite };
  Access access = Access::ReadWrite;
  bool inMemory = false;     // a new empty database in memory; the path is not used
  int busyTimeoutMs = 5000;  // how long a statement waits for another program's lock
};

// Opens the existing file `path` without reading it: a damaged, foreign or locked file fails
// at its first statement. Throws DatabaseError (kind LinkLost) when SQLite cannot open it.
std::unique_ptr<Connection> openSqliteFile(const std::filesystem::path& path,
                                           const SqliteFileOptions& options);

}  // namespace dupsweep::db
