#pragma once
// A real SQLite database file in a fresh temporary directory, for tests. Statements are run with
// the sqlite3 C API directly so that a test's set-up does not depend on the code under test.

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "demodb/host_schema.h"
#include "support/temp_dir.h"

namespace dupsweep::testing {

class SqliteFile {
 public:
  SqliteFile() : path_(dir_ / "host.db") {
    if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
  }
  ~SqliteFile() { sqlite3_close(db_); }
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  const std::filesystem::path& path() const { return path_; }
  const std::filesystem::path& dir() const { return dir_.path(); }
  std::string connectionString() const { return "Provider=SQLite;Data Source=" + path_.string(); }

  // Runs one or more statements; throws with SQLite's message on failure.
  void exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : "error";
      sqlite3_free(err);
      throw std::runtime_error(msg + " in: " + sql);
    }
  }

  // Stores a blob (or NULL when `bytes` is null) with a statement holding one "?" parameter.
  void execBlob(const std::string& sql, const std::vector<unsigned char>* bytes) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
    if (bytes && bytes->empty())
      sqlite3_bind_zeroblob(st, 1, 0);  // a null data pointer would bind NULL
    else if (bytes)
      sqlite3_bind_blob(st, 1, bytes->data(), static_cast<int>(bytes->size()), SQLITE_TRANSIENT);
    else
      sqlite3_bind_null(st, 1);
    int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
  }

  // The first column of the first row as an integer.
  long long scalar(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
    long long v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    return v;
  }

  // Damages the file as a failing disk would (see corruptSqliteTable). This handle is closed
  // and reopened so that nothing of the table stays cached here.
  void corruptTable(const std::string& table);

  // The host's tables that the component reads (without the per-sheet data tables).
  void createHostSchema() { exec(demodb::kHostSchema); }

 private:
  TempDir dir_;
  std::filesystem::path path_;
  sqlite3* db_ = nullptr;
};

// Damages the SQLite file at `path` as a failing disk would: the page holding the root of
// `table` is overwritten with 0xFF bytes, so that every read of that table fails with "database
// disk image is malformed" while the other tables stay readable.
inline void corruptSqliteTable(const std::filesystem::path& path, const std::string& table) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
  auto scalar = [db](const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    const long long v = st && sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    return v;
  };
  const long long page = scalar("SELECT rootpage FROM sqlite_master WHERE name = '" + table + "'");
  const long long pageSize = scalar("PRAGMA page_size");
  sqlite3_close(db);
  if (page <= 1 || pageSize <= 0) throw std::runtime_error("no table " + table);
  FILE* f = std::fopen(path.c_str(), "r+b");
  if (!f) throw std::runtime_error("cannot open " + path.string());
  const std::vector<unsigned char> garbage(static_cast<std::size_t>(pageSize), 0xFF);
  std::fseek(f, static_cast<long>((page - 1) * pageSize), SEEK_SET);
  std::fwrite(garbage.data(), 1, garbage.size(), f);
  std::fclose(f);
}

inline void SqliteFile::corruptTable(const std::string& table) {
  sqlite3_close(db_);
  db_ = nullptr;
  corruptSqliteTable(path_, table);
  if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
}

}  // namespace dupsweep::testing
