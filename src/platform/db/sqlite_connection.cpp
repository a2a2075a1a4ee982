// The SQLite backend: an existing database file opened read-write through libsqlite3.

#include <sqlite3.h>

#include <cctype>
#include <unordered_map>
#include <unordered_set>

#include <charconv>
#include <climits>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/db/backends.h"
#include "platform/db/numbers.h"
#include "platform/db/sqlite_file.h"

namespace dupsweep::db::detail {
namespace {

constexpr int kBusyTimeoutMs = 5000;

Declared classify(const char* declaredType) {
  return declaredType ? classifyDeclaredType(declaredType) : Declared::Plain;
}

// Column i of the current row as SQLite keeps it, read as the column's declared type asks. With
// `utf8Text` (a database that keeps its text in UTF-8) a text is read where it lies, as its bytes:
// asking for it as text would copy every value that is not ended by a zero byte to end it.
[[gnu::always_inline]] inline CellView cellView(sqlite3_stmt* st, int i, Declared declared,
                                                bool utf8Text) {
  CellView cell;
  switch (sqlite3_column_type(st, i)) {
    // SQLite keeps numbers as 64-bit integers or doubles whatever the column's declared type, so
    // they come as such: a decimal column's stored double is that double, and comparing or showing
    // it needs no text made for every cell.
    case SQLITE_INTEGER:
      cell.integer = sqlite3_column_int64(st, i);
      cell.kind = declared == Declared::Boolean && (cell.integer == 0 || cell.integer == 1)
                      ? ValueKind::Boolean
                      : ValueKind::Integer;
      break;
    case SQLITE_FLOAT:
      cell.kind = ValueKind::Floating;
      cell.floating = sqlite3_column_double(st, i);
      break;
    case SQLITE_TEXT: {
      const auto* p = utf8Text ? static_cast<const char*>(sqlite3_column_blob(st, i))
                               : reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      cell.bytes = std::string_view(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(st, i)));
      cell.kind = ValueKind::Text;
      if (declared == Declared::Decimal && parseDecimal(cell.bytes)) cell.kind = ValueKind::Decimal;
      if (declared == Declared::DateTime) cell.kind = ValueKind::DateTime;
      break;
    }
    case SQLITE_BLOB: {
      const auto* p = static_cast<const char*>(sqlite3_column_blob(st, i));
      const int n = sqlite3_column_bytes(st, i);
      cell.kind = ValueKind::Bytes;
      if (p) cell.bytes = std::string_view(p, static_cast<size_t>(n));
      break;
    }
    default:
      break;
  }
  return cell;
}

struct StatementGuard {
  sqlite3_stmt* st = nullptr;
  ~StatementGuard() { sqlite3_finalize(st); }
};

class SqliteConnection final : public Connection {
 public:
  SqliteConnection(sqlite3* db, std::string password, bool utf8Text)
      : db_(db), password_(std::move(password)), utf8Text_(utf8Text) {}
  ~SqliteConnection() override {
    clearCache();
    sqlite3_close_v2(db_);  // rolls back an open transaction
  }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  Dialect dialect() const override { return Dialect::SQLite; }

  std::unique_ptr<RowSet> query(std::string_view sql) override {
    std::unique_ptr<RowSet> result;
    run(sql, [&](sqlite3_stmt* st) {
      // The first step comes before the columns are looked at: a kept statement whose tables
      // another connection changed is prepared again by it, and only then names the columns
      // the tables have now.
      bool more = step(st);
      const int columns = sqlite3_column_count(st);
      // The first statement that has columns gives the result; the others run to completion.
      const bool collect = columns > 0 && !result;
      std::vector<Declared> declared;
      if (collect) {
        std::vector<std::string> names;
        names.reserve(static_cast<size_t>(columns));
        for (int i = 0; i < columns; ++i) {
          const char* name = sqlite3_column_name(st, i);
          names.emplace_back(name ? name : "");
          declared.push_back(classify(sqlite3_column_decltype(st, i)));
        }
        result = std::make_unique<RowSet>(std::move(names));
        result->reserve(256, 4096);
      }
      // The row set keeps each value as its view shows it: no Value is made of a column until a
      // reader asks for one.
      RowSet* const rows = result.get();
      const Declared* const kinds = declared.data();
      for (; more; more = step(st)) {
        if (!collect) continue;
        rows->appendRow([&](int i) { return cellView(st, i, kinds[i], utf8Text_); });
      }
    });
    if (!result)
      result = std::make_unique<RowSet>(std::vector<std::string>{}, std::vector<Value>{});
    return result;
  }

  void stream(std::string_view sql, RowSink& sink) override {
    bool haveResult = false;
    run(sql, [&](sqlite3_stmt* st) {
      const int columns = sqlite3_column_count(st);
      // As in query(): the first statement that has columns gives the result.
      const bool collect = columns > 0 && !haveResult;
      std::vector<Declared> declared;
      std::vector<CellView> cells;
      if (collect) {
        haveResult = true;
        std::vector<std::string> names;
        for (int i = 0; i < columns; ++i) {
          const char* name = sqlite3_column_name(st, i);
          names.emplace_back(name ? name : "");
          declared.push_back(classify(sqlite3_column_decltype(st, i)));
        }
        sink.columns(names);
        cells.resize(static_cast<size_t>(columns));
      }
      // The sink sees each row in SQLite's own memory: no value is made of a column it only
      // looks at. What the loop reads is held in locals: SQLite's calls could change whatever
      // they reach, so members and vectors would be read again for every value.
      const Declared* const kinds = declared.data();
      CellView* const out = cells.data();
      const bool utf8Text = utf8Text_;
      while (step(st)) {
        if (!collect) continue;
        for (int i = 0; i < columns; ++i) out[i] = cellView(st, i, kinds[i], utf8Text);
        sink.cells(cells);
      }
    });
    if (!haveResult) sink.columns({});
  }

  std::int64_t execute(std::string_view sql) override {
    std::int64_t affected = 0;
    run(sql, [&](sqlite3_stmt* st) {
      const sqlite3_int64 before = sqlite3_total_changes64(db_);
      while (step(st)) {
      }
      // sqlite3_changes64 keeps the count of the last INSERT, UPDATE or DELETE, even across
      // statements that change nothing; the running total tells whether this one changed rows.
      if (sqlite3_total_changes64(db_) != before) affected += sqlite3_changes64(db_);
    });
    return affected;
  }

  std::int64_t executeWith(std::string_view sql, const std::vector<Value>& params) override {
    if (sql.size() > static_cast<size_t>(INT_MAX)) fail("The statement is too long.", "HY000", {});
    StatementGuard guard;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &guard.st, &tail);
    if (rc != SQLITE_OK) raise(rc);
    if (!guard.st) fail("The statement is empty.", "42000", {});
    if (!onlyBlanks(tail, sql.data() + sql.size()))
      fail("A statement with parameters must be a single statement.", "42000", {});
    if (sqlite3_bind_parameter_count(guard.st) != static_cast<int>(params.size()))
      fail("The statement has " + std::to_string(sqlite3_bind_parameter_count(guard.st)) +
               " parameter markers for " + std::to_string(params.size()) + " values.",
           "07002", {});
    for (size_t i = 0; i < params.size(); ++i) bind(guard.st, static_cast<int>(i + 1), params[i]);
    const sqlite3_int64 before = sqlite3_total_changes64(db_);
    while (step(guard.st)) {
    }
    return sqlite3_total_changes64(db_) != before ? sqlite3_changes64(db_) : 0;
  }

  void begin() override { execute("BEGIN"); }
  void commit() override { execute("COMMIT"); }
  void rollback() override { execute("ROLLBACK"); }

 private:
  [[noreturn]] void raise(int rc) {
    using Kind = DatabaseError::Kind;
    const int primary = rc & 0xff;
    std::string state = "HY000";
    Kind kind = Kind::Other;
    if (primary == SQLITE_CONSTRAINT) {
      state = "23000";
      kind = Kind::Constraint;
    } else if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
      state = "HYT00";
      kind = Kind::Locked;
    } else if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
      kind = Kind::Damaged;
    }
    const std::string_view message = sqlite3_errmsg(db_);
    // SQLite gives a missing table only as the text of a generic error; the ODBC state "base
    // table or view not found" goes with it, as through the ODBC driver.
    if (primary == SQLITE_ERROR && message.starts_with("no such table:")) {
      state = "42S02";
      kind = Kind::MissingTable;
    }
    fail(message, std::move(state), password_, kind, rc);
  }

  // Binds one value with the storage class of its kind: the exact decimal, the date and time as
  // their text (what SQLite itself keeps for them), the flag as 0 or 1.
  void bind(sqlite3_stmt* st, int index, const Value& value) {
    struct Binder {
      sqlite3_stmt* st;
      int i;
      int operator()(const Null&) const { return sqlite3_bind_null(st, i); }
      int operator()(std::int64_t v) const { return sqlite3_bind_int64(st, i, v); }
      int operator()(const Decimal& d) const { return text(d.digits); }
      int operator()(double v) const { return sqlite3_bind_double(st, i, v); }
      int operator()(const std::string& s) const { return text(s); }
      int operator()(const Bytes& b) const {
        // A null data pointer would bind NULL instead of the empty byte array.
        if (b.empty()) return sqlite3_bind_zeroblob(st, i, 0);
        return sqlite3_bind_blob64(st, i, b.data(), b.size(), SQLITE_TRANSIENT);
      }
      int operator()(const DateTime& d) const { return text(d.iso); }
      int operator()(bool v) const { return sqlite3_bind_int(st, i, v ? 1 : 0); }
      int text(const std::string& s) const {
        return sqlite3_bind_text64(st, i, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      }
    };
    const int rc = std::visit(Binder{st, index}, value);
    if (rc != SQLITE_OK) raise(rc);
  }

  // Steps once; true while a row is available.
  bool step(sqlite3_stmt* st) {
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    raise(rc);
  }

  // Hands each statement of `sql` in turn to `each`. A single statement runs as a prepared
  // statement kept for reuse: its text literals become parameters, so the statements that differ
  // only in their values (one unit's rows of a table, say) are prepared once. Statements the
  // cache cannot take (several in one text, literals where SQLite allows no parameter) are
  // prepared each time.
  template <class Each>
  void run(std::string_view sql, Each each) {
    if (sql.size() > static_cast<size_t>(INT_MAX)) fail("The statement is too long.", "HY000", {});
    if (sqlite3_stmt* st = cached(sql)) {
      struct Reset {
        sqlite3_stmt* st;
        ~Reset() {
          sqlite3_reset(st);  // ends the statement's read of the database at once
          sqlite3_clear_bindings(st);
        }
      } reset{st};
      each(st);
      return;
    }
    const char* p = sql.data();
    const char* const end = p + sql.size();
    bool any = false;
    while (p < end) {
      StatementGuard guard;
      const char* tail = nullptr;
      const int rc = sqlite3_prepare_v2(db_, p, static_cast<int>(end - p), &guard.st, &tail);
      if (rc != SQLITE_OK) raise(rc);
      p = tail ? tail : end;
      if (!guard.st) continue;  // blanks or a comment
      any = true;
      each(guard.st);
    }
    if (!any) fail("The statement is empty.", "42000", {});
  }

  // The kept statement for `sql` with its literals bound, or null when it cannot be kept.
  sqlite3_stmt* cached(std::string_view sql) {
    std::vector<std::string> literals;
    std::string shape;
    if (!parameterize(sql, shape, literals)) return nullptr;
    auto found = cache_.find(shape);
    sqlite3_stmt* st = nullptr;
    if (found != cache_.end()) {
      st = found->second;
    } else {
      if (refused_.count(shape)) return nullptr;
      const char* tail = nullptr;
      if (sqlite3_prepare_v3(db_, shape.data(), static_cast<int>(shape.size()),
                             SQLITE_PREPARE_PERSISTENT, &st, &tail) != SQLITE_OK ||
          st == nullptr || !onlyBlanks(tail, shape.data() + shape.size()) ||
          sqlite3_bind_parameter_count(st) != static_cast<int>(literals.size())) {
        sqlite3_finalize(st);
        if (refused_.size() < kCacheSize) refused_.insert(shape);
        return nullptr;
      }
      if (cache_.size() >= kCacheSize) clearCache();
      cache_.emplace(std::move(shape), st);
    }
    for (size_t i = 0; i < literals.size(); ++i)
      sqlite3_bind_text(st, static_cast<int>(i + 1), literals[i].data(),
                        static_cast<int>(literals[i].size()), SQLITE_TRANSIENT);
    return st;
  }

  static bool onlyBlanks(const char* p, const char* end) {
    for (; p && p < end; ++p)
      if (!std::isspace(static_cast<unsigned char>(*p))) return false;
    return true;
  }

  // Replaces every text literal of `sql` by "?" and collects the literals' values. False for a
  // text that already holds parameters or an unterminated literal.
  static bool parameterize(std::string_view sql, std::string& shape,
                           std::vector<std::string>& literals) {
    shape.reserve(sql.size());
    for (size_t i = 0; i < sql.size();) {
      const char c = sql[i];
      auto copyUntil = [&](std::string_view close) {
        const size_t e = sql.find(close, i + 1);
        if (e == std::string_view::npos) return false;
        shape.append(sql.substr(i, e + close.size() - i));
        i = e + close.size();
        return true;
      };
      if (c == '\'') {
        std::string value;
        size_t j = i + 1;
        for (;; ++j) {
          if (j >= sql.size()) return false;
          if (sql[j] == '\'') {
            if (j + 1 < sql.size() && sql[j + 1] == '\'') {
              value += '\'';
              ++j;
              continue;
            }
            break;
          }
          value += sql[j];
        }
        literals.push_back(std::move(value));
        shape += '?';
        i = j + 1;
      } else if (c == '"' || c == '`') {
        if (!copyUntil(std::string_view(&sql[i], 1))) return false;
      } else if (c == '[') {
        if (!copyUntil("]")) return false;
      } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
        const size_t e = sql.find('\n', i);
        shape.append(sql.substr(i, e == std::string_view::npos ? sql.size() - i : e - i));
        i = e == std::string_view::npos ? sql.size() : e;
      } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
        if (!copyUntil("*/")) return false;
      } else if (c == '?' || c == ':' || c == '@' || c == '$') {
        return false;  // the text has parameters of its own
      } else {
        shape += c;
        ++i;
      }
    }
    return true;
  }

  void clearCache() {
    for (auto& [text, st] : cache_) sqlite3_finalize(st);
    cache_.clear();
  }

  static constexpr size_t kCacheSize = 256;
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
  std::unordered_set<std::string> refused_;
  sqlite3* db_;
  std::string password_;
  bool utf8Text_;  // the database keeps its text in UTF-8
};

}  // namespace

std::unique_ptr<Connection> openSqlite(const ConnectionTarget& target) {
  const std::string& path = target.sqlitePath;
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status))
    fail("The SQLite database file '" + path + "' does not exist.", "08001", target.password);
  if (std::filesystem::is_directory(status))
    fail("'" + path + "' is a directory, not an SQLite database file.", "08001", target.password);

  sqlite3* db = nullptr;
  // No SQLITE_OPEN_CREATE: a database that is not there is an error, never a new file.
  // A connection is used by one thread at a time, so SQLite's per-call locking is not needed.
  const int rc =
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    fail("Cannot open the SQLite database '" + path + "': " + message, "08001", target.password);
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // SQLite reads the file lazily; reading the schema now reports a file that is not a database.
  char* err = nullptr;
  if (sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &err) != SQLITE_OK) {
    const std::string message = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    sqlite3_close_v2(db);
    fail("Cannot open the SQLite database '" + path + "': " + message, "08001", target.password);
  }
  // The text encoding is the database's, set when it was made.
  sqlite3_stmt* encoding = nullptr;
  bool utf8Text = false;
  if (sqlite3_prepare_v2(db, "PRAGMA encoding", -1, &encoding, nullptr) == SQLITE_OK &&
      sqlite3_step(encoding) == SQLITE_ROW) {
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(encoding, 0));
    utf8Text = name && std::string_view(name) == "UTF-8";
  }
  sqlite3_finalize(encoding);
  return std::make_unique<SqliteConnection>(db, target.password, utf8Text);
}

}  // namespace dupsweep::db::detail

namespace dupsweep::db {

std::unique_ptr<Connection> openSqliteFile(const std::filesystem::path& path,
                                           const SqliteFileOptions& options) {
  int flags = options.access == SqliteFileOptions::Access::ReadOnly ? SQLITE_OPEN_READONLY
                                                                     : SQLITE_OPEN_READWRITE;
  flags |= SQLITE_OPEN_NOMUTEX;
  if (options.inMemory) flags |= SQLITE_OPEN_MEMORY;
  const std::string name = options.inMemory ? std::string(":memory:") : path.string();
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = db && sqlite3_errcode(db) != SQLITE_OK ? sqlite3_errmsg(db)
                                                                         : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    detail::fail(message, "08001", {}, DatabaseError::Kind::LinkLost, rc);
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, options.busyTimeoutMs);
  // Nothing is read here: the caller's first statement meets whatever the file holds. Text is
  // read through SQLite's text interface, right whatever the file's encoding.
  return std::make_unique<detail::SqliteConnection>(db, std::string(), false);
}

std::optional<double> doubleFromSqlitePrintf(std::string_view text) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto read = std::from_chars(text.data(), end, value);
  if (text.empty() || read.ec != std::errc() || read.ptr != end || value != value)
    return std::nullopt;
  char* again = sqlite3_mprintf("%!.20e", value);
  if (!again) throw DatabaseError("Out of memory.", "HY001");
  const bool same = text == again;
  sqlite3_free(again);
  if (!same) return std::nullopt;
  return value;
}

}  // namespace dupsweep::db
