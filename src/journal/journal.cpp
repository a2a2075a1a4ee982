#include "journal/journal.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
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


State stateOf(const std::string& token) {
  if (token == "done") return State::Done;
  if (token == "rolledback") return State::RolledBack;
  if (token == "restored") return State::Restored;
  return State::Pending;
}

using Reason = JournalError::Reason;
using Action = JournalError::Action;

[[noreturn]] void refuse(Reason reason, const std::filesystem::path& file,
                         std::string detail = {}) {
  JournalError::Facts facts;
  facts.file = file.string();
  facts.detail = std::move(detail);
  throw JournalError(reason, std::move(facts));
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
  const int year = std::atoi(d.substr(0, 4).c_str());
  const int month = std::atoi(d.substr(5, 2).c_str());
  const int day = std::atoi(d.substr(8, 2).c_str());
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return day <= kDays[size_t(month - 1)] + (month == 2 && leap ? 1 : 0);
}

// The permission bits of `mode` as chmod writes them, e.g. "0644".
std::string modeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Makes `dir` and its missing parents, each readable and writable by its owner only, whatever
// the umask: the journal holds a copy of every deleted figure.
void makePrivateDirectories(const std::filesystem::path& dir) {
  std::error_code ec;
  if (dir.empty() || std::filesystem::is_directory(dir, ec)) return;
  makePrivateDirectories(dir.parent_path());
  if (::mkdir(dir.c_str(), 0700) == 0) {
    ::chmod(dir.c_str(), 0700);
    return;
  }
  const int error = errno;
  if (error != EEXIST || !std::filesystem::is_directory(dir, ec))
    refuse(Reason::CannotMakeDirectory, dir, std::strerror(error));
}

// The application id in the header of the SQLite file at `file`, read without SQLite (which
// would roll back an unfinished write first); nullopt when the file has no SQLite header.
std::optional<std::uint32_t> applicationIdOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::array<unsigned char, 72> header{};
  if (!in.read(reinterpret_cast<char*>(header.data()), header.size())) return std::nullopt;
  if (std::memcmp(header.data(), "SQLite format 3", 16) != 0) return std::nullopt;
  return std::uint32_t{header[68]} << 24 | std::uint32_t{header[69]} << 16 |
         std::uint32_t{header[70]} << 8 | std::uint32_t{header[71]};
}

// Whether `rc` is SQLite's refusal to read a file whose last write was not finished (a rollback
// journal or write-ahead log left behind) through a connection that may not write.
bool isUnfinishedWrite(int rc) {
  return rc == SQLITE_READONLY_ROLLBACK || rc == SQLITE_READONLY_RECOVERY ||
         rc == SQLITE_READONLY_CANTINIT || rc == SQLITE_READONLY_CANTLOCK;
}

}  // namespace

std::string stateToken(State state) {
  switch (state) {
    case State::Pending:
      return "pending";
    case State::Done:
      return "done";
    case State::RolledBack:
      return "rolledback";
    case State::Restored:
      return "restored";
  }
  return "pending";
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
  if (!home || !*home) refuse(Reason::NoPlace, {});
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
  if (exists && std::filesystem::is_directory(path_, ec)) refuse(Reason::IsDirectory, path_);
  // SQLite finishes a write left unfinished (rolls it back) on the first read: another
  // program's database is refused before that, so that it stays exactly as it is.
  if (exists && (std::filesystem::exists(path_.string() + "-journal", ec) ||
                 std::filesystem::exists(path_.string() + "-wal", ec))) {
    if (const auto appId = applicationIdOf(path_); appId && *appId != kApplicationId)
      refuse(Reason::Foreign, path_);
  }
  const bool created = mode_ == Mode::ReadWrite && prepareToWrite(exists);
  try {
    open();
    int rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (mode_ == Mode::ReadOnly && isUnfinishedWrite(rc)) {
      // The last write was cut short (the program was killed, the disk was full): it is rolled
      // back as any writer would, and the file is read as it was before that write.
      sqlite3_close_v2(db_);
      db_ = nullptr;
      finishInterruptedWrite(rc);
      open();
      rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) fail(rc, Action::Read);
    check();
  } catch (...) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    if (created && std::filesystem::file_size(path_, ec) == 0) std::filesystem::remove(path_, ec);
    throw;
  }
}

Journal::~Journal() { sqlite3_close_v2(db_); }

void Journal::open() {
  const int flags = mode_ == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  const int rc = sqlite3_open_v2(path_.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) fail(rc, Action::Open);
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

bool Journal::prepareToWrite(bool exists) {
  if (!exists) makePrivateDirectories(path_.parent_path());
  requireWritableByOwnerOnly();
  if (exists) {
    // A journal made before it was kept private (readable by every local user) becomes private
    // when it is next written, if it is ours to change.
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
      ::chmod(path_.c_str(), st.st_mode & 0700 & ~mode_t{0111});
    return false;
  }
  // The file is made here, private from the start whatever the umask, rather than by SQLite
  // (which makes it readable by everyone); its side files take its mode from it.
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return false;  // another program made it just now
    refuse(Reason::CannotCreate, path_, std::strerror(errno));
  }
  ::fchmod(fd, 0600);
  ::close(fd);
  return true;
}

void Journal::requireWritableByOwnerOnly() const {
  const std::filesystem::path dir = path_.has_parent_path() ? path_.parent_path() : ".";
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    refuse(Reason::DirectoryWritableByOthers, dir, modeText(st.st_mode));
  if (::stat(path_.c_str(), &st) == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    refuse(Reason::WritableByOthers, path_, modeText(st.st_mode));
}

void Journal::finishInterruptedWrite(int readOnlyRc) {
  requireWritableByOwnerOnly();
  sqlite3* writer = nullptr;
  int rc = sqlite3_open_v2(path_.c_str(), &writer, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(writer, 1);
    sqlite3_busy_timeout(writer, kBusyTimeoutMs);
    rc = sqlite3_exec(writer, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  }
  const std::string reason = writer ? sqlite3_errmsg(writer) : sqlite3_errstr(rc);
  sqlite3_close_v2(writer);
  if (rc == SQLITE_OK) return;
  // Where the file cannot be written, the unfinished write is the cause to name.
  const int primary = rc & 0xff;
  const bool cannotWrite =
      primary == SQLITE_READONLY || primary == SQLITE_PERM || primary == SQLITE_CANTOPEN;
  throw JournalError(failure(cannotWrite ? readOnlyRc : rc, Action::Read, reason));
}

JournalError Journal::failure(int rc, Action action, std::string reason) const {
  JournalError::Facts facts;
  facts.file = path_.string();
  facts.detail = std::move(reason);
  facts.action = action;
  if (isUnfinishedWrite(rc)) {
    facts.wal = rc != SQLITE_READONLY_ROLLBACK;
    return JournalError(Reason::UnfinishedWrite, std::move(facts));
  }
  Reason why = Reason::Failed;
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      why = Reason::Locked;
      break;
    case SQLITE_FULL:
      why = Reason::DiskFull;
      break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
      why = Reason::ReadOnly;
      break;
    case SQLITE_CANTOPEN:
      why = Reason::CannotOpen;
      break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      why = Reason::Damaged;
      break;
    case SQLITE_IOERR:
      why = Reason::IoError;
      break;
    default:
      break;
  }
  return JournalError(why, std::move(facts));
}

void Journal::fail(int rc, Action action) const {
  std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  if (db_ && sqlite3_errcode(db_) == SQLITE_OK) reason = sqlite3_errstr(rc);
  throw failure(rc, action, std::move(reason));
}

void Journal::exec(const char* sql, Action action) {
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc, action);
}

void Journal::check() {
  const auto pragma = [this](const char* sql) {
    Statement st(db_, sql);
    if (st.prepared() != SQLITE_OK) fail(st.prepared(), Action::Read);
    const int rc = st.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail(rc, Action::Read);
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
  if (appId != std::to_string(kApplicationId)) refuse(Reason::Foreign, path_);
  if (std::atoi(pragma("PRAGMA user_version").c_str()) > kVersion)
    refuse(Reason::NewerVersion, path_);
  // A damaged page anywhere refuses the file before anything is written into it.
  const std::string integrity = pragma("PRAGMA quick_check");
  if (integrity != "ok") refuse(Reason::FailedCheck, path_, integrity);
  requireLayout();
  if (mode_ == Mode::ReadWrite) exec("PRAGMA synchronous = FULL", Action::Open);
}

void Journal::requireLayout() {
  // The tables and columns of this layout, as SQLite reads them from the schema itself.
  const auto columnsOf = [this](sqlite3* db) {
    std::vector<std::string> columns;
    Statement st(db, "SELECT m.name || '.' || p.name FROM sqlite_master m "
                     "JOIN pragma_table_info(m.name) p WHERE m.type = 'table' ORDER BY 1");
    if (st.prepared() != SQLITE_OK) fail(st.prepared(), Action::Read);
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) columns.push_back(st.columnText(0));
    if (rc != SQLITE_DONE) fail(rc, Action::Read);
    return columns;
  };
  sqlite3* layout = nullptr;
  if (sqlite3_open_v2(":memory:", &layout, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr) !=
          SQLITE_OK ||
      sqlite3_exec(layout, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
    const std::string reason = layout ? sqlite3_errmsg(layout) : "out of memory";
    sqlite3_close_v2(layout);
    refuse(Reason::CannotCheckLayout, path_, reason);
  }
  std::vector<std::string> expected;
  try {
    expected = columnsOf(layout);
  } catch (...) {
    sqlite3_close_v2(layout);
    throw;
  }
  sqlite3_close_v2(layout);
  std::vector<std::string> present = columnsOf(db_);
  std::sort(present.begin(), present.end());
  std::string missing;
  for (const std::string& column : expected)
    if (!std::binary_search(present.begin(), present.end(), column))
      missing += (missing.empty() ? "" : "、") + column;
  if (!missing.empty()) refuse(Reason::OtherLayout, path_, missing);
}

void Journal::create() {
  // Another program may be making the same file a journal: the write lock is taken first and
  // the file looked at again under it.
  exec("BEGIN IMMEDIATE", Action::Write);
  try {
    Statement st(db_, "SELECT count(*) FROM sqlite_master");
    if (st.step() == SQLITE_ROW && st.columnInteger(0) == 0) {
      exec(kSchema, Action::Write);
      exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str(), Action::Write);
      exec(("PRAGMA user_version = " + std::to_string(kVersion)).c_str(), Action::Write);
    }
    exec("COMMIT", Action::Write);
  } catch (const JournalError&) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  exec("PRAGMA synchronous = FULL", Action::Open);
}

std::int64_t Journal::add(const Entry& entry) {
  if (!db_ || mode_ != Mode::ReadWrite) refuse(Reason::OpenedReadOnly, path_);
  exec("BEGIN IMMEDIATE", Action::Write);
  try {
    const auto run = [this](Statement& st) {
      if (st.prepared() != SQLITE_OK) fail(st.prepared(), Action::Write);
      const int rc = st.step();
      if (rc != SQLITE_DONE) fail(rc, Action::Write);
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
          throw JournalError(Reason::RowWidth, {.file = path_.string(), .table = saved.name});
        for (size_t c = 0; c < row.size(); ++c) {
          value.integer(1, id).integer(2, std::int64_t(t)).integer(3, std::int64_t(r));
          // SQLite keeps a NaN as NULL: such a value would not come back.
          if (const double* d = std::get_if<double>(&row[c]); d && *d != *d)
            throw JournalError(Reason::NaNValue, {.file = path_.string(),
                                                  .table = saved.name,
                                                  .column = saved.columns[c],
                                                  .row = std::int64_t(r + 1)});
          value.integer(4, std::int64_t(c)).integer(5, static_cast<int>(db::kindOf(row[c])));
          if (const int rc = bindValue(value.get(), 6, row[c]); rc != SQLITE_OK)
            fail(rc, Action::Write);
          run(value);
        }
      }
    }
    exec("COMMIT", Action::Write);
    return id;
  } catch (const JournalError&) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void Journal::setState(std::int64_t id, State state, const std::string& restoredWhen) {
  if (!db_ || mode_ != Mode::ReadWrite) refuse(Reason::OpenedReadOnly, path_);
  Statement st(db_, "UPDATE Deletion SET sState = ?, sRestoredWhen = ? WHERE nID = ?");
  if (st.prepared() != SQLITE_OK) fail(st.prepared(), Action::Write);
  st.text(1, stateToken(state)).integer(3, id);
  if (!restoredWhen.empty()) st.text(2, restoredWhen);
  if (const int rc = st.step(); rc != SQLITE_DONE) fail(rc, Action::Write);
  if (sqlite3_changes(db_) != 1)
    throw JournalError(Reason::NoSuchEntryToMark, {.file = path_.string(), .id = id});
}

void Journal::markDone(std::int64_t id, const std::vector<std::int64_t>& deletedRows) {
  if (!db_ || mode_ != Mode::ReadWrite) refuse(Reason::OpenedReadOnly, path_);
  exec("BEGIN IMMEDIATE", Action::Write);
  try {
    Statement st(db_, "UPDATE DeletedTable SET nDeleted = ? WHERE nID = ? AND nTable = ?");
    if (st.prepared() != SQLITE_OK) fail(st.prepared(), Action::Write);
    for (size_t t = 0; t < deletedRows.size(); ++t) {
      st.integer(1, deletedRows[t]).integer(2, id).integer(3, std::int64_t(t));
      if (const int rc = st.step(); rc != SQLITE_DONE) fail(rc, Action::Write);
      st.reset();
    }
    setState(id, State::Done, {});
    exec("COMMIT", Action::Write);
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
               "sRestoredWhen FROM Deletion WHERE ?1 IS NULL OR nID = ?1 ORDER BY nID");
  if (st.prepared() != SQLITE_OK) fail(st.prepared(), Action::Read);
  if (id) st.integer(1, *id);
  // An entry names its database by the connection string of its deletion; another string may
  // reach the same database, so databases are compared by what they are, once per string.
  const std::string wanted = database ? db::databaseIdentity(*database) : std::string();
  std::map<std::string, bool, std::less<>> sameDatabase;
  const auto isWanted = [&](const std::string& named) {
    auto [it, added] = sameDatabase.try_emplace(named, false);
    if (added) it->second = db::databaseIdentity(named) == wanted;
    return it->second;
  };
  int rc;
  while ((rc = st.step()) == SQLITE_ROW) {
    Entry e;
    e.id = st.columnInteger(0);
    e.when = st.columnText(1);
    e.database = st.columnText(2);
    if (database && !isWanted(e.database)) continue;
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
  if (rc != SQLITE_DONE) fail(rc, Action::Read);

  Statement tables(db_, "SELECT nTable, sName, nSaved, nDeleted FROM DeletedTable WHERE nID = ? "
                        "ORDER BY nTable");
  Statement columns(db_, "SELECT sName FROM DeletedColumn WHERE nID = ? AND nTable = ? "
                         "ORDER BY nColumn");
  if (tables.prepared() != SQLITE_OK) fail(tables.prepared(), Action::Read);
  if (columns.prepared() != SQLITE_OK) fail(columns.prepared(), Action::Read);
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
      if (crc != SQLITE_DONE) fail(crc, Action::Read);
      columns.reset();
      e.tables.push_back(std::move(t));
    }
    if (rc != SQLITE_DONE) fail(rc, Action::Read);
    tables.reset();
  }
  return entries;
}

Entry Journal::get(std::int64_t id) {
  std::vector<Entry> found = entries(std::nullopt, id);
  if (found.empty()) throw JournalError(Reason::NoSuchEntry, {.file = path_.string(), .id = id});
  Entry entry = std::move(found.front());
  Statement st(db_, "SELECT nTable, nRow, nColumn, nKind, vValue FROM DeletedValue WHERE nID = ? "
                    "ORDER BY nTable, nRow, nColumn");
  if (st.prepared() != SQLITE_OK) fail(st.prepared(), Action::Read);
  st.integer(1, id);
  for (SavedTable& t : entry.tables) t.rows.assign(static_cast<size_t>(t.savedRows), {});
  const auto damaged = [this, id] {
    return JournalError(Reason::DamagedEntry, {.file = path_.string(), .id = id});
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
  if (rc != SQLITE_DONE) fail(rc, Action::Read);
  for (const SavedTable& t : entry.tables)
    for (const auto& row : t.rows)
      if (row.size() != t.columns.size()) throw damaged();
  return entry;
}

int Journal::prune(const std::string& date) {
  if (!isDate(date)) refuse(Reason::BadDate, path_, date);
  if (!db_) return 0;
  if (mode_ != Mode::ReadWrite) refuse(Reason::OpenedReadOnly, path_);
  exec("BEGIN IMMEDIATE", Action::Write);
  try {
    int removed = 0;
    for (const char* sql :
         {"DELETE FROM DeletedValue WHERE nID IN (SELECT nID FROM Deletion WHERE sWhen < ?)",
          "DELETE FROM DeletedColumn WHERE nID IN (SELECT nID FROM Deletion WHERE sWhen < ?)",
          "DELETE FROM DeletedTable WHERE nID IN (SELECT nID FROM Deletion WHERE sWhen < ?)",
          "DELETE FROM Deletion WHERE sWhen < ?"}) {
      Statement st(db_, sql);
      if (st.prepared() != SQLITE_OK) fail(st.prepared(), Action::Write);
      st.text(1, date);
      if (const int rc = st.step(); rc != SQLITE_DONE) fail(rc, Action::Write);
      removed = sqlite3_changes(db_);
    }
    exec("COMMIT", Action::Write);
    return removed;
  } catch (const JournalError&) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

}  // namespace dupsweep::journal
