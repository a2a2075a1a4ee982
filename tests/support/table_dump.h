#pragma once
// Every row of a table of a SQLite file as text, each value with its storage class
// ("integer:4|text:'U1'|null:NULL|blob:X'00FF'"), sorted: two dumps are equal exactly when the
// table holds the same rows with the same values of the same types. Read with the sqlite3 C API
// directly, not through the code under test.

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace dupsweep::testing {

inline std::vector<std::string> dumpTable(const std::filesystem::path& file,
                                          const std::string& table) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot open " + file.string());
  sqlite3_stmt* st = nullptr;
  const std::string sql = "SELECT * FROM \"" + table + "\"";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(message);
  }
  std::vector<std::string> rows;
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::string row;
    for (int c = 0; c < sqlite3_column_count(st); ++c) {
      if (c) row += "|";
      switch (sqlite3_column_type(st, c)) {
        case SQLITE_INTEGER: row += "integer:" + std::to_string(sqlite3_column_int64(st, c)); break;
        case SQLITE_FLOAT: {
          char text[64];
          std::snprintf(text, sizeof text, "%.17g", sqlite3_column_double(st, c));
          row += std::string("real:") + text;
          break;
        }
        case SQLITE_TEXT:
          row += "text:'" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, c)),
                                        static_cast<size_t>(sqlite3_column_bytes(st, c))) + "'";
          break;
        case SQLITE_BLOB: {
          static const char* hex = "0123456789ABCDEF";
          const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(st, c));
          row += "blob:X'";
          for (int i = 0; i < sqlite3_column_bytes(st, c); ++i) {
            row += hex[p[i] >> 4];
            row += hex[p[i] & 15];
          }
          row += "'";
          break;
        }
        default: row += "null:NULL";
      }
    }
    rows.push_back(row);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  std::sort(rows.begin(), rows.end());
  return rows;
}

// dumpTable of each table, one after the other, each line prefixed with its table's name.
inline std::vector<std::string> dumpTables(const std::filesystem::path& file,
                                           const std::vector<std::string>& tables) {
  std::vector<std::string> all;
  for (const std::string& table : tables)
    for (const std::string& row : dumpTable(file, table)) all.push_back(table + ": " + row);
  return all;
}

}  // namespace dupsweep::testing
