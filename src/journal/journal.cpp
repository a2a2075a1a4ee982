#include "journal/journal.h"

#include <sqlite3.h>

#include <cstdlib>
#include <ctime>
#include <system_error>

#include "platform/errors.h"

namespace dupsweep::journal {
namespace {

// "dups": marks the file as this component's journal.
constexpr int kApplicationId = 0x64757073;
constexpr int kVersion = 1;
constexpr int kBusyTimeoutMs = 2000;

const char* const kSchema = R"(
CREATE TABLE Deletion(
  nID INTEGER PRIMARY KEY AUTOINCREMENT,
  sWhen TEXT NOT NULL, sDatabase TEXT NOT NULL,
  sPeriodID TEXT NOT NULL, sTaskCode TEXT NOT NULL, nLevel INTEGER NOT NULL,
  sUnitCode TEXT NOT NULL, sUnitName TEXT NOT NULL, sPairName TEXT NOT NULL,
  sOtherUnitCode TEXT NOT NULL, sOtherUnitName TEXT NOT NULL,
  sSampleCode TEXT NOT NULL, sSampleName TEXT NOT NULL,
  sState TEXT NOT NULL, sRestoredWhen TEXT);
CREATE INDEX DeletionByDatabase ON Deletion(sDatabase);
CREATE TABLE DeletedTable(
  nID INTEGER NOT NULL, nTable INTEGER NOT NULL, sName TEXT NOT NULL,
  nSaved INTEGER NOT NULL, nDeleted INTEGER NOT NULL,
  PRIMARY KEY(nID, nTable)) WITHOUT ROWID;
CREATE TABLE DeletedColumn(
  nID INTEGER NOT NULL, nTable INTEGER NOT NULL, nColumn INTEGER NOT NULL, sName TEXT NOT NULL,
  PRIMARY KEY(nID, nTable, nColumn)) WITHOUT ROWID;
CREATE TABLE DeletedValue(
  nID INTEGER NOT NULL, nTable INTEGER NOT NULL, nRow INTEGER NOT NULL, nColumn INTEGER NOT NULL,
  nKind INTEGER NOT NULL, vValue,
  PRIMARY KEY(nID, nTable, nRow, nColumn)) WITHOUT ROWID;
)";

// A prepared statement of the journal, finalised when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &st_, nullptr); }
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  int prepared() const { return rc_; }
  Statement& text(int i, const std::string& s) {
    sqlite3_bind_text64(st_, i, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    return *this;
  }
  Statement& integer(int i, std::int64_t v) {
    sqlite3_bind_int64(st_, i, v);
    return *this;
  }
  sqlite3_stmt* get() const { return st_; }
  // Steps once: SQLITE_ROW, SQLITE_DONE or the failure's code.
  int step() { return sqlite3_step(st_); }
  void reset() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }
  std::string columnText(int i) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, i));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(st_, i))) : std::string();
  }
  std::int64_t columnInteger(int i) const { return sqlite3_column_int64(st_, i); }

 private:
  sqlite3_stmt* st_ = nullptr;
  int rc_ = SQLITE_OK;
};

State stateOf(const std::string& name) {
  if (name == "done") return State::Done;
  if (name == "rolledback") return State::RolledBack;
  if (name == "restored") return State::Restored;
  return State::Pending;
}

// Stores a value with the storage class of its kind; the kind itself is kept beside it.
int bindValue(sqlite3_stmt* st, int i, const db::Value& v) {
  struct Binder {
    sqlite3_stmt* st;
    int i;
    int operator()(const db::Null&) const { return sqlite3_bind_null(st, i); }
    int operator()(std::int64_t x) const { return sqlite3_bind_int64(st, i, x); }
    int operator()(const db::Decimal& d) const { return text(d.digits); }
    int operator()(double x) const { return sqlite3_bind_double(st, i, x); }
    int operator()(const std::string& s) const { return text(s); }
    int operator()(const db::Bytes& b) const {
      if (b.empty()) return sqlite3_bind_zeroblob(st, i, 0);
      return sqlite3_bind_blob64(st, i, b.data(), b.size(), SQLITE_TRANSIENT);
    }
    int operator()(const db::DateTime& d) const { return text(d.iso); }
    int operator()(bool x) const { return sqlite3_bind_int(st, i, x ? 1 : 0); }
    int text(const std::string& s) const {
      return sqlite3_bind_text64(st, i, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
  };
  return std::visit(Binder{st, i}, v);
}

// The value in column `i`, of the kind recorded for it; nullopt when the stored value cannot be
// of that kind (a damaged or edited file).
std::optional<db::Value> readValue(sqlite3_stmt* st, int i, std::int64_t kind) {
  const int type = sqlite3_column_type(st, i);
  const auto text = [&] {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    return std::string(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(st, i)));
  };
  switch (static_cast<db::ValueKind>(kind)) {
    case db::ValueKind::Null:
      if (type == SQLITE_NULL) return db::Value(db::Null{});
      break;
    case db::ValueKind::Integer:
      if (type == SQLITE_INTEGER) return db::Value(std::int64_t{sqlite3_column_int64(st, i)});
      break;
    case db::ValueKind::Boolean:
      if (type == SQLITE_INTEGER) return db::Value(sqlite3_column_int64(st, i) != 0);
      break;
    case db::ValueKind::Floating:
      if (type == SQLITE_FLOAT) return db::Value(sqlite3_column_double(st, i));
      break;
    case db::ValueKind::Decimal:
      if (type == SQLITE_TEXT) return db::Value(db::Decimal{text()});
      break;
    case db::ValueKind::DateTime:
      if (type == SQLITE_TEXT) return db::Value(db::DateTime{text()});
      break;
    case db::ValueKind::Text:
      if (type == SQLITE_TEXT) return db::Value(text());
      break;
    case db::ValueKind::Bytes:
      if (type == SQLITE_BLOB) {
        const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(st, i));
        const int n = sqlite3_column_bytes(st, i);
        return db::Value(p ? db::Bytes(p, p + n) : db::Bytes());
      }
      break;
  }
  return std::nullopt;
}

bool isDate(const std::string& d) {
  if (d.size() != 10 || d[4] != '-' || d[7] != '-') return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (d[i] < '0' || d[i] > '9') return false;
  const int month = std::atoi(d.substr(5, 2).c_str());
  const int day = std::atoi(d.substr(8, 2).c_str());
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

}  // namespace

std::string stateName(State state) {
  switch (state) {
    case State::Pending: return "pending";
    case State::Done: return "done";
    case State::RolledBack: return "rolledback";
    case State::Restored: return "restored";
  }
  return "pending";
}

std::string stateText(State state) {
  switch (state) {
    case State::Pending: return "待确认";
    case State::Done: return "已删除";
    case State::RolledBack: return "未删除（已回滚）";
    case State::Restored: return "已恢复";
  }
  return "待确认";
}

std::int64_t Entry::savedRows() const noexcept {
  std::int64_t n = 0;
  for (const SavedTable& t : tables) n += t.savedRows;
  return n;
}

std::filesystem::path defaultPath() {
  if (const char* set = std::getenv("DUPSWEEP_JOURNAL"); set && *set) return set;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
    return std::filesystem::path(data) / "dupsweep" / "journal.db";
  const char* home = std::getenv("HOME");
  if (!home || !*home)
    throw JournalError("找不到删除日志的位置：DUPSWEEP_JOURNAL、XDG_DATA_HOME 和 HOME 都没有设置");
  return std::filesystem::path(home) / ".local" / "share" / "dupsweep" / "journal.db";
}

std::string withoutSecrets(std::string_view connectionString) {
  std::string password;
  try {
    password = db::parseConnectionString(connectionString).password;
  } catch (const DatabaseError&) {
    // A string that does not parse has no password to look for beyond the password keys, which
    // the scrubbing finds by themselves.
  }
  return db::scrubPassword(connectionString, password);
}

std::string nowUtc() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

Journal::Journal(std::filesystem::path path, Mode mode) : path_(std::move(path)), mode_(mode) {
  std::error_code ec;
  const bool exists = std::filesystem::exists(path_, ec);
  if (!exists && mode_ == Mode::ReadOnly) return;  // no deletion journaled yet
  if (exists && std::filesystem::is_directory(path_, ec))
    throw JournalError("删除日志 " + path_.string() + " 是一个目录，不是日志文件");
  int flags = mode_ == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  if (!exists) {
    if (path_.has_parent_path()) {
      std::filesystem::create_directories(path_.parent_path(), ec);
      if (ec)
        throw JournalError("无法建立删除日志的目录 " + path_.parent_path().string() + "：" +
                           ec.message());
    }
    flags |= SQLITE_OPEN_CREATE;
  }
  const int rc = sqlite3_open_v2(path_.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    try {
      fail(rc, "打开");
    } catch (...) {
      sqlite3_close_v2(db_);
      db_ = nullptr;
      throw;
    }
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  try {
    check();
  } catch (...) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw;
  }
}

Journal::~Journal() { sqlite3_close_v2(db_); }

void Journal::fail(int rc, std::string_view doing) const {
  const std::string file = path_.string();
  const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  std::string what;
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      what = "删除日志 " + file + " 正被另一个程序锁定，请稍后再试";
      break;
    case SQLITE_FULL:
      what = "删除日志 " + file + " 所在的磁盘已满，无法写入";
      break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
      what = "删除日志 " + file + " 不能写入（文件或文件系统是只读的）";
      break;
    case SQLITE_CANTOPEN:
      what = "无法" + std::string(doing) + "删除日志 " + file;
      break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      what = "删除日志 " + file + " 已损坏或不是删除日志文件，它保持原样，不会被改写";
      break;
    case SQLITE_IOERR:
      what = std::string(doing) + "删除日志 " + file + " 时发生输入输出错误";
      break;
    default:
      what = std::string(doing) + "删除日志 " + file + " 时出错";
  }
  throw JournalError(what + "（" + reason + "）");
}

void Journal::exec(const char* sql, std::string_view doing) {
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc, doing);
}

void Journal::check() {
  // Reading the schema is the first read of the file: a file that is not a database, or is
  // locked, fails here.
  exec("SELECT count(*) FROM sqlite_master", "读取");
  const auto pragma = [this](const char* sql) {
    Statement st(db_, sql);
    if (st.prepared() != SQLITE_OK) fail(st.prepared(), "读取");
    const int rc = st.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail(rc, "读取");
    return rc == SQLITE_ROW ? st.columnText(0) : std::string();
  };
  const std::string appId = pragma("PRAGMA application_id");
  const std::string tables = pragma("SELECT count(*) FROM sqlite_master");
  if (appId == "0" && tables == "0") {
    // A new (or empty) file: it becomes a journal. A read-only journal stays as it is and reads
    // as empty.
    if (mode_ == Mode::ReadWrite) {
      create();
    } else {
      sqlite3_close_v2(db_);
      db_ = nullptr;
    }
    return;
  }
  if (appId != std::to_string(kApplicationId))
    throw JournalError("文件 " + path_.string() + " 不是 dupsweep 的删除日志，它保持原样，不会被改写");
  if (std::atoi(pragma("PRAGMA user_version").c_str()) > kVersion)
    throw JournalError("删除日志 " + path_.string() + " 由更新版本的程序写成，无法读取");
  // A damaged page anywhere refuses the file before anything is written into it.
  const std::string integrity = pragma("PRAGMA quick_check");
  if (integrity != "ok")
    throw JournalError("删除日志 " + path_.string() + " 已损坏，它保持原样，不会被改写（" +
                       integrity + "）");
  if (mode_ == Mode::ReadWrite) exec("PRAGMA synchronous = FULL", "打开");
}

void Journal::create() {
  // Another program may be making the same file a journal: the write lock is taken first and
  // the file looked at again under it.
  exec("BEGIN IMMEDIATE", "写入");
  try {
    Statement st(db_, "SELECT count(*) FROM sqlite_master");
    if (st.step() == SQLITE_ROW && st.columnInteger(0) == 0) {
      exec(kSchema, "写入");
      exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str(), "写入");
      exec(("PRAGMA user_version = " + std::to_string(kVersion)).c_str(), "写入");
    }
    exec("COMMIT", "写入");
  } catch (const JournalError&) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  exec("PRAGMA synchronous = FULL", "打开");
}

std::int64_t Journal::add(const Entry& entry) {
  if (!db_ || mode_ != Mode::ReadWrite)
    throw JournalError("删除日志 " + path_.string() + " 是以只读方式打开的");
  exec("BEGIN IMMEDIATE", "写入");
  try {
    const auto run = [this](Statement& st) {
      if (st.prepared() != SQLITE_OK) fail(st.prepared(), "写入");
      const int rc = st.step();
      if (rc != SQLITE_DONE) fail(rc, "写入");
      st.reset();
    };
    Statement head(db_,
                   "INSERT INTO Deletion(sWhen, sDatabase, sPeriodID, sTaskCode, nLevel, "
                   "sUnitCode, sUnitName, sPairName, sOtherUnitCode, sOtherUnitName, sSampleCode, "
                   "sSampleName, sState) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,'pending')");
    head.text(1, entry.when.empty() ? nowUtc() : entry.when)
        .text(2, entry.database)
        .text(3, entry.periodId)
        .text(4, entry.taskCode)
        .integer(5, entry.level)
        .text(6, entry.unitCode)
        .text(7, entry.unitName)
        .text(8, entry.pairName)
        .text(9, entry.otherUnitCode)
        .text(10, entry.otherUnitName)
        .text(11, entry.sampleCode)
        .text(12, entry.sampleName);
    run(head);
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    Statement table(db_, "INSERT INTO DeletedTable VALUES (?,?,?,?,-1)");
    Statement column(db_, "INSERT INTO DeletedColumn VALUES (?,?,?,?)");
    Statement value(db_, "INSERT INTO DeletedValue VALUES (?,?,?,?,?,?)");
    for (size_t t = 0; t < entry.tables.size(); ++t) {
      const SavedTable& saved = entry.tables[t];
      table.integer(1, id).integer(2, std::int64_t(t)).text(3, saved.name);
      table.integer(4, std::int64_t(saved.rows.size()));
      run(table);
      for (size_t c = 0; c < saved.columns.size(); ++c) {
        column.integer(1, id).integer(2, std::int64_t(t)).integer(3, std::int64_t(c));
        column.text(4, saved.columns[c]);
        run(column);
      }
      for (size_t r = 0; r < saved.rows.size(); ++r) {
        const std::vector<db::Value>& row = saved.rows[r];
        if (row.size() != saved.columns.size())
          throw JournalError("删除日志的记录有误：表 " + saved.name + " 的一行与它的列数不符");
        for (size_t c = 0; c < row.size(); ++c) {
          value.integer(1, id).integer(2, std::int64_t(t)).integer(3, std::int64_t(r));
          // SQLite keeps a NaN as NULL: such a value would not come back.
          if (const double* d = std::get_if<double>(&row[c]); d && *d != *d)
            throw JournalError("删除日志无法原样保存表 " + saved.name + " 第 " +
                               std::to_string(r + 1) + " 行的列 " + saved.columns[c] +
                               " 的值（NaN）");
          value.integer(4, std::int64_t(c)).integer(5, static_cast<int>(db::kindOf(row[c])));
          if (const int rc = bindValue(value.get(), 6, row[c]); rc != SQLITE_OK) fail(rc, "写入");
          run(value);
        }
      }
    }
    exec("COMMIT", "写入");
    return id;
  } catch (const JournalError&) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void Journal::setState(std::int64_t id, State state, const std::string& restoredWhen) {
  if (!db_ || mode_ != Mode::ReadWrite)
    throw JournalError("删除日志 " + path_.string() + " 是以只读方式打开的");
  Statement st(db_, "UPDATE Deletion SET sState = ?, sRestoredWhen = ? WHERE nID = ?");
  if (st.prepared() != SQLITE_OK) fail(st.prepared(), "写入");
  st.text(1, stateName(state)).integer(3, id);
  if (!restoredWhen.empty()) st.text(2, restoredWhen);
  if (const int rc = st.step(); rc != SQLITE_DONE) fail(rc, "写入");
  if (sqlite3_changes(db_) != 1)
    throw JournalError("删除日志中没有编号为 " + std::to_string(id) + " 的记录");
}

void Journal::markDone(std::int64_t id, const std::vector<std::int64_t>& deletedRows) {
  if (!db_ || mode_ != Mode::ReadWrite)
    throw JournalError("删除日志 " + path_.string() + " 是以只读方式打开的");
  exec("BEGIN IMMEDIATE", "写入");
  try {
    Statement st(db_, "UPDATE DeletedTable SET nDeleted = ? WHERE nID = ? AND nTable = ?");
    if (st.prepared() != SQLITE_OK) fail(st.prepared(), "写入");
    for (size_t t = 0; t < deletedRows.size(); ++t) {
      st.integer(1, deletedRows[t]).integer(2, id).integer(3, std::int64_t(t));
      if (const int rc = st.step(); rc != SQLITE_DONE) fail(rc, "写入");
      st.reset();
    }
    setState(id, State::Done, {});
    exec("COMMIT", "写入");
  } catch (const JournalError&) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void Journal::markRolledBack(std::int64_t id) { setState(id, State::RolledBack, {}); }
void Journal::markRestored(std::int64_t id) { setState(id, State::Restored, nowUtc()); }

std::vector<Entry> Journal::list(const std::optional<std::string>& database) {
  return entries(database, std::nullopt);
}

std::vector<Entry> Journal::entries(const std::optional<std::string>& database,
                                    std::optional<std::int64_t> id) {
  std::vector<Entry> entries;
  if (!db_) return entries;
  Statement st(db_,
               "SELECT nID, sWhen, sDatabase, sPeriodID, sTaskCode, nLevel, sUnitCode, sUnitName, "
               "sPairName, sOtherUnitCode, sOtherUnitName, sSampleCode, sSampleName, sState, "
               "sRestoredWhen FROM Deletion WHERE (?1 IS NULL OR sDatabase = ?1) "
               "AND (?2 IS NULL OR nID = ?2) ORDER BY nID");
  if (st.prepared() != SQLITE_OK) fail(st.prepared(), "读取");
  if (database) st.text(1, *database);
  if (id) st.integer(2, *id);
  int rc;
  while ((rc = st.step()) == SQLITE_ROW) {
    Entry e;
    e.id = st.columnInteger(0);
    e.when = st.columnText(1);
    e.database = st.columnText(2);
    e.periodId = st.columnText(3);
    e.taskCode = st.columnText(4);
    e.level = static_cast<std::int32_t>(st.columnInteger(5));
    e.unitCode = st.columnText(6);
    e.unitName = st.columnText(7);
    e.pairName = st.columnText(8);
    e.otherUnitCode = st.columnText(9);
    e.otherUnitName = st.columnText(10);
    e.sampleCode = st.columnText(11);
    e.sampleName = st.columnText(12);
    e.state = stateOf(st.columnText(13));
    e.restoredWhen = st.columnText(14);
    entries.push_back(std::move(e));
  }
  if (rc != SQLITE_DONE) fail(rc, "读取");

  Statement tables(db_, "SELECT nTable, sName, nSaved, nDeleted FROM DeletedTable WHERE nID = ? "
                        "ORDER BY nTable");
  Statement columns(db_, "SELECT sName FROM DeletedColumn WHERE nID = ? AND nTable = ? "
                         "ORDER BY nColumn");
  if (tables.prepared() != SQLITE_OK) fail(tables.prepared(), "读取");
  if (columns.prepared() != SQLITE_OK) fail(columns.prepared(), "读取");
  for (Entry& e : entries) {
    tables.integer(1, e.id);
    while ((rc = tables.step()) == SQLITE_ROW) {
      SavedTable t;
      t.name = tables.columnText(1);
      t.savedRows = tables.columnInteger(2);
      t.deletedRows = tables.columnInteger(3);
      columns.integer(1, e.id).integer(2, tables.columnInteger(0));
      int crc;
      while ((crc = columns.step()) == SQLITE_ROW) t.columns.push_back(columns.columnText(0));
      if (crc != SQLITE_DONE) fail(crc, "读取");
      columns.reset();
      e.tables.push_back(std::move(t));
    }
    if (rc != SQLITE_DONE) fail(rc, "读取");
    tables.reset();
  }
  return entries;
}

Entry Journal::get(std::int64_t id) {
  std::vector<Entry> found = entries(std::nullopt, id);
  if (found.empty())
    throw JournalError("删除日志 " + path_.string() + " 中没有编号为 " + std::to_string(id) +
                       " 的记录");
  Entry entry = std::move(found.front());
  Statement st(db_, "SELECT nTable, nRow, nColumn, nKind, vValue FROM DeletedValue WHERE nID = ? "
                    "ORDER BY nTable, nRow, nColumn");
  if (st.prepared() != SQLITE_OK) fail(st.prepared(), "读取");
  st.integer(1, id);
  for (SavedTable& t : entry.tables) t.rows.assign(static_cast<size_t>(t.savedRows), {});
  const auto damaged = [this, id] {
    return JournalError("删除日志 " + path_.string() + " 中编号为 " + std::to_string(id) +
                        " 的记录已损坏，无法恢复");
  };
  int rc;
  while ((rc = st.step()) == SQLITE_ROW) {
    const std::int64_t t = st.columnInteger(0), r = st.columnInteger(1), c = st.columnInteger(2);
    if (t < 0 || static_cast<size_t>(t) >= entry.tables.size()) throw damaged();
    SavedTable& table = entry.tables[static_cast<size_t>(t)];
    if (r < 0 || r >= table.savedRows || c != std::int64_t(table.rows[size_t(r)].size()))
      throw damaged();
    std::optional<db::Value> v = readValue(st.get(), 4, st.columnInteger(3));
    if (!v) throw damaged();
    table.rows[size_t(r)].push_back(std::move(*v));
  }
  if (rc != SQLITE_DONE) fail(rc, "读取");
  for (const SavedTable& t : entry.tables)
    for (const auto& row : t.rows)
      if (row.size() != t.columns.size()) throw damaged();
  return entry;
}

int Journal::prune(const std::string& date) {
  if (!isDate(date))
    throw JournalError("日期 " + date + " 的格式不对，应为 YYYY-MM-DD（如 2024-01-31）");
  if (!db_) return 0;
  if (mode_ != Mode::ReadWrite)
    throw JournalError("删除日志 " + path_.string() + " 是以只读方式打开的");
  exec("BEGIN IMMEDIATE", "写入");
  try {
    int removed = 0;
    for (const char* sql :
         {"DELETE FROM DeletedValue WHERE nID IN (SELECT nID FROM Deletion WHERE sWhen < ?)",
          "DELETE FROM DeletedColumn WHERE nID IN (SELECT nID FROM Deletion WHERE sWhen < ?)",
          "DELETE FROM DeletedTable WHERE nID IN (SELECT nID FROM Deletion WHERE sWhen < ?)",
          "DELETE FROM Deletion WHERE sWhen < ?"}) {
      Statement st(db_, sql);
      if (st.prepared() != SQLITE_OK) fail(st.prepared(), "写入");
      st.text(1, date);
      if (const int rc = st.step(); rc != SQLITE_DONE) fail(rc, "写入");
      removed = sqlite3_changes(db_);
    }
    exec("COMMIT", "写入");
    return removed;
  } catch (const JournalError&) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

}  // namespace dupsweep::journal
