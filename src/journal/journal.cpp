#include "journal/journal.h"

#include <fcntl.h>
#include <sqlite3.h>  // result codes only: statements go through the database layer
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
#include <pwd.h>
#include <system_error>

#include "platform/db/sqlite_file.h"
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

// The tables of batches and of reviewers' decisions, added to a journal that lacks them when it is
// next written. A program that knows only the tables above reads and writes such a file as
// before.
const char* const kReviewSchema = R"(
CREATE TABLE IF NOT EXISTS Batch(
  nBatch INTEGER PRIMARY KEY AUTOINCREMENT, sWhen TEXT NOT NULL, sWho TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS DeletionBatch(
  nID INTEGER PRIMARY KEY, nBatch INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS DeletionBatchByBatch ON DeletionBatch(nBatch);
CREATE TABLE IF NOT EXISTS Decision(
  sDatabase TEXT NOT NULL, sPeriodID TEXT NOT NULL, sAgainstPeriodID TEXT NOT NULL,
  sTaskCode TEXT NOT NULL, nLevel INTEGER NOT NULL,
  sUnitCode1 TEXT NOT NULL, sUnitCode2 TEXT NOT NULL, sSampleCode TEXT NOT NULL,
  sKind TEXT NOT NULL, sMark TEXT NOT NULL, sNote TEXT NOT NULL, sFingerprint TEXT NOT NULL,
  sWho TEXT NOT NULL, sWhen TEXT NOT NULL,
  PRIMARY KEY(sDatabase, sPeriodID, sAgainstPeriodID, sTaskCode, nLevel, sUnitCode1, sUnitCode2,
              sSampleCode)) WITHOUT ROWID;
)";
constexpr std::array<std::string_view, 3> kReviewTables{"Batch", "DeletionBatch", "Decision"};

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

// The value of `cell` as the kind recorded for it; nullopt when the stored value cannot be of that
// kind (a damaged or edited file). The column has no declared type, so the cell's kind is the
// storage class SQLite kept.
std::optional<db::Value> readValue(const db::CellView& cell, std::int64_t kind) {
  using K = db::ValueKind;
  switch (static_cast<K>(kind)) {
    case K::Null:
      if (cell.kind == K::Null) return db::Value(db::Null{});
      break;
    case K::Integer:
      if (cell.kind == K::Integer) return db::Value(std::int64_t{cell.integer});
      break;
    case K::Boolean:
      if (cell.kind == K::Integer) return db::Value(cell.integer != 0);
      break;
    case K::Floating:
      if (cell.kind == K::Floating) return db::Value(cell.floating);
      break;
    case K::Decimal:
      if (cell.kind == K::Text) return db::Value(db::Decimal{std::string(cell.bytes)});
      break;
    case K::DateTime:
      if (cell.kind == K::Text) return db::Value(db::DateTime{std::string(cell.bytes)});
      break;
    case K::Text:
      if (cell.kind == K::Text) return db::Value(std::string(cell.bytes));
      break;
    case K::Bytes:
      if (cell.kind == K::Bytes) return db::Value(db::Bytes(cell.bytes.begin(), cell.bytes.end()));
      break;
  }
  return std::nullopt;
}

// The text, or the integer as text, at (row, column).
std::string textAt(const db::RowSet& rows, int row, int column) {
  const db::CellView cell = rows.view(row, column);
  if (cell.kind == db::ValueKind::Integer) return std::to_string(cell.integer);
  return std::string(cell.bytes);
}

std::int64_t integerAt(const db::RowSet& rows, int row, int column) {
  const db::CellView cell = rows.view(row, column);
  return cell.kind == db::ValueKind::Integer ? cell.integer : 0;
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

std::string currentUser() {
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name && *pw->pw_name)
    return pw->pw_name;
  if (const char* user = std::getenv("USER"); user && *user) return user;
  return std::to_string(::geteuid());
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
    // The first read prepares its statement once (executeWith keeps none): a prepared statement
    // kept for reuse would be tried twice on a locked file, waiting twice.
    try {
      db_->executeWith("SELECT count(*) FROM sqlite_master", {});
    } catch (const DatabaseError& e) {
      if (mode_ != Mode::ReadOnly || !isUnfinishedWrite(e.nativeCode()))
        throw failure(e.nativeCode(), Action::Read, e.what());
      // The last write was cut short (the program was killed, the disk was full): it is rolled
      // back as any writer would, and the file is read as it was before that write.
      db_.reset();
      finishInterruptedWrite(e.nativeCode());
      open();
      try {
        db_->executeWith("SELECT count(*) FROM sqlite_master", {});
      } catch (const DatabaseError& again) {
        throw failure(again.nativeCode(), Action::Read, again.what());
      }
    }
    check();
  } catch (...) {
    db_.reset();
    if (created && std::filesystem::file_size(path_, ec) == 0) std::filesystem::remove(path_, ec);
    throw;
  }
}

Journal::~Journal() = default;

void Journal::open() {
  db::SqliteFileOptions options;
  options.access = mode_ == Mode::ReadOnly ? db::SqliteFileOptions::Access::ReadOnly
                                           : db::SqliteFileOptions::Access::ReadWrite;
  options.busyTimeoutMs = kBusyTimeoutMs;
  try {
    db_ = db::openSqliteFile(path_, options);
  } catch (const DatabaseError& e) {
    throw failure(e.nativeCode(), Action::Open, e.what());
  }
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
  int rc = SQLITE_OK;
  std::string reason;
  try {
    db::SqliteFileOptions options;
    options.busyTimeoutMs = kBusyTimeoutMs;
    db::openSqliteFile(path_, options)->executeWith("SELECT count(*) FROM sqlite_master", {});
    return;
  } catch (const DatabaseError& e) {
    rc = e.nativeCode();
    reason = e.what();
  }
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

std::unique_ptr<db::RowSet> Journal::read(std::string_view sql, Action action) {
  try {
    return db_->query(sql);
  } catch (const DatabaseError& e) {
    throw failure(e.nativeCode(), action, e.what());
  }
}

std::int64_t Journal::write(std::string_view sql, const std::vector<db::Value>& params) {
  try {
    return db_->executeWith(sql, params);
  } catch (const DatabaseError& e) {
    throw failure(e.nativeCode(), Action::Write, e.what());
  }
}

void Journal::exec(std::string_view sql, Action action) {
  try {
    db_->execute(sql);
  } catch (const DatabaseError& e) {
    throw failure(e.nativeCode(), action, e.what());
  }
}

void Journal::rollback() noexcept {
  try {
    db_->rollback();
  } catch (const DatabaseError&) {
    // Nothing was committed; SQLite ends the transaction itself when the connection closes.
  }
}

void Journal::check() {
  const auto pragma = [this](const char* sql) {
    const std::unique_ptr<db::RowSet> rows = read(sql);
    return rows->rowCount() > 0 && rows->columnCount() > 0 ? textAt(*rows, 0, 0) : std::string();
  };
  const std::string appId = pragma("PRAGMA application_id");
  const std::string tables = pragma("SELECT count(*) FROM sqlite_master");
  if (appId == "0" && tables == "0") {
    // A new (or empty) file: it becomes a journal. A read-only journal stays as it is and reads
    // as empty.
    if (mode_ == Mode::ReadWrite)
      create();
    else
      db_.reset();
    return;
  }
  if (appId != std::to_string(kApplicationId)) refuse(Reason::Foreign, path_);
  if (std::atoi(pragma("PRAGMA user_version").c_str()) > kVersion)
    refuse(Reason::NewerVersion, path_);
  // A damaged page anywhere refuses the file before anything is written into it.
  const std::string integrity = pragma("PRAGMA quick_check");
  if (integrity != "ok") refuse(Reason::FailedCheck, path_, integrity);
  requireLayout();
  readTables();
  if (mode_ == Mode::ReadWrite) {
    exec("PRAGMA synchronous = FULL", Action::Open);
    addReviewTables();
  }
}

void Journal::requireLayout() {
  // The tables and columns of this layout, as SQLite reads them from the schema itself.
  const char* const columnsSql =
      "SELECT m.name || '.' || p.name FROM sqlite_master m "
      "JOIN pragma_table_info(m.name) p WHERE m.type = 'table' ORDER BY 1";
  const auto columnsOf = [](const db::RowSet& rows) {
    std::vector<std::string> columns;
    for (int r = 0; r < rows.rowCount(); ++r) columns.push_back(textAt(rows, r, 0));
    return columns;
  };
  std::vector<std::string> expected;
  try {
    db::SqliteFileOptions options;
    options.inMemory = true;
    const std::unique_ptr<db::Connection> layout = db::openSqliteFile({}, options);
    layout->execute(kSchema);
    layout->execute(kReviewSchema);
    expected = columnsOf(*layout->query(columnsSql));
  } catch (const DatabaseError& e) {
    refuse(Reason::CannotCheckLayout, path_, e.what());
  }
  std::vector<std::string> present = columnsOf(*read(columnsSql));
  std::sort(present.begin(), present.end());
  // The tables of batches and decisions may be missing (the file was made before them and has not
  // been written since); those present must be of this layout.
  const auto tableIsPresent = [&](const std::string& column) {
    const std::string table = column.substr(0, column.find('.') + 1);
    if (std::none_of(kReviewTables.begin(), kReviewTables.end(),
                     [&](std::string_view t) { return table.size() == t.size() + 1 &&
                                                      table.starts_with(t); }))
      return true;
    return std::any_of(present.begin(), present.end(),
                       [&](const std::string& p) { return p.starts_with(table); });
  };
  std::string missing;
  for (const std::string& column : expected)
    if (tableIsPresent(column) && !std::binary_search(present.begin(), present.end(), column))
      missing += (missing.empty() ? "" : "、") + column;
  if (!missing.empty()) refuse(Reason::OtherLayout, path_, missing);
}

void Journal::create() {
  // Another program may be making the same file a journal: the write lock is taken first and
  // the file looked at again under it.
  exec("BEGIN IMMEDIATE", Action::Write);
  try {
    if (integerAt(*read("SELECT count(*) FROM sqlite_master", Action::Write), 0, 0) == 0) {
      exec(kSchema, Action::Write);
      exec(kReviewSchema, Action::Write);
      exec("PRAGMA application_id = " + std::to_string(kApplicationId), Action::Write);
      exec("PRAGMA user_version = " + std::to_string(kVersion), Action::Write);
    }
    exec("COMMIT", Action::Write);
  } catch (const JournalError&) {
    rollback();
    throw;
  }
  exec("PRAGMA synchronous = FULL", Action::Open);
  readTables();
}

void Journal::readTables() {
  tables_.clear();
  const std::unique_ptr<db::RowSet> rows =
      read("SELECT name FROM sqlite_master WHERE type = 'table'");
  for (int r = 0; r < rows->rowCount(); ++r) tables_.push_back(textAt(*rows, r, 0));
}

bool Journal::has(std::string_view table) const {
  return std::find(tables_.begin(), tables_.end(), table) != tables_.end();
}

void Journal::addReviewTables() {
  if (std::all_of(kReviewTables.begin(), kReviewTables.end(),
                  [this](std::string_view t) { return has(t); }))
    return;
  exec("BEGIN IMMEDIATE", Action::Write);
  try {
    exec(kReviewSchema, Action::Write);
    exec("COMMIT", Action::Write);
  } catch (const JournalError&) {
    rollback();
    throw;
  }
  readTables();
}

std::int64_t Journal::add(const Entry& entry) {
  if (!db_ || mode_ != Mode::ReadWrite) refuse(Reason::OpenedReadOnly, path_);
  exec("BEGIN IMMEDIATE", Action::Write);
  try {
    using V = db::Value;
    const auto integer = [](auto v) { return V(std::int64_t(v)); };
    write("INSERT INTO Deletion(sWhen, sDatabase, sPeriodID, sTaskCode, nLevel, "
          "sUnitCode, sUnitName, sPairName, sOtherUnitCode, sOtherUnitName, sSampleCode, "
          "sSampleName, sState) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,'pending')",
          {V(entry.when.empty() ? nowUtc() : entry.when), V(entry.database), V(entry.periodId),
           V(entry.taskCode), integer(entry.level), V(entry.unitCode), V(entry.unitName),
           V(entry.pairName), V(entry.otherUnitCode), V(entry.otherUnitName),
           V(entry.sampleCode), V(entry.sampleName)});
    const std::int64_t id = integerAt(*read("SELECT last_insert_rowid()", Action::Write), 0, 0);
    if (entry.batch != 0)
      write("INSERT INTO DeletionBatch VALUES (?,?)", {V(id), V(entry.batch)});
    // The values go in statements of up to kValuesPerInsert rows of DeletedValue each: one
    // statement per value would prepare a statement for every figure deleted.
    constexpr size_t kValuesPerInsert = 100;
    std::vector<V> values;
    size_t pending = 0;
    const auto flush = [&] {
      if (pending == 0) return;
      std::string sql = "INSERT INTO DeletedValue VALUES (?,?,?,?,?,?)";
      for (size_t i = 1; i < pending; ++i) sql += ",(?,?,?,?,?,?)";
      write(sql, values);
      values.clear();
      pending = 0;
    };
    for (size_t t = 0; t < entry.tables.size(); ++t) {
      const SavedTable& saved = entry.tables[t];
      write("INSERT INTO DeletedTable VALUES (?,?,?,?,-1)",
            {V(id), integer(t), V(saved.name), integer(saved.rows.size())});
      for (size_t c = 0; c < saved.columns.size(); ++c)
        write("INSERT INTO DeletedColumn VALUES (?,?,?,?)",
              {V(id), integer(t), integer(c), V(saved.columns[c])});
      for (size_t r = 0; r < saved.rows.size(); ++r) {
        const std::vector<db::Value>& row = saved.rows[r];
        if (row.size() != saved.columns.size())
          throw JournalError(Reason::RowWidth, {.file = path_.string(), .table = saved.name});
        for (size_t c = 0; c < row.size(); ++c) {
          // SQLite keeps a NaN as NULL: such a value would not come back.
          if (const double* d = std::get_if<double>(&row[c]); d && *d != *d)
            throw JournalError(Reason::NaNValue, {.file = path_.string(),
                                                  .table = saved.name,
                                                  .column = saved.columns[c],
                                                  .row = std::int64_t(r + 1)});
          values.insert(values.end(), {V(id), integer(t), integer(r), integer(c),
                                       integer(static_cast<int>(db::kindOf(row[c]))), row[c]});
          if (++pending == kValuesPerInsert) flush();
        }
      }
    }
    flush();
    exec("COMMIT", Action::Write);
    return id;
  } catch (const JournalError&) {
    rollback();
    throw;
  }
}

void Journal::setState(std::int64_t id, State state, const std::string& restoredWhen) {
  if (!db_ || mode_ != Mode::ReadWrite) refuse(Reason::OpenedReadOnly, path_);
  const std::int64_t changed =
      write("UPDATE Deletion SET sState = ?, sRestoredWhen = ? WHERE nID = ?",
            {db::Value(stateToken(state)),
             restoredWhen.empty() ? db::Value(db::Null{}) : db::Value(restoredWhen),
             db::Value(id)});
  if (changed != 1)
    throw JournalError(Reason::NoSuchEntryToMark, {.file = path_.string(), .id = id});
}

void Journal::markDone(std::int64_t id, const std::vector<std::int64_t>& deletedRows) {
  if (!db_ || mode_ != Mode::ReadWrite) refuse(Reason::OpenedReadOnly, path_);
  exec("BEGIN IMMEDIATE", Action::Write);
  try {
    for (size_t t = 0; t < deletedRows.size(); ++t)
      write("UPDATE DeletedTable SET nDeleted = ? WHERE nID = ? AND nTable = ?",
            {db::Value(deletedRows[t]), db::Value(id), db::Value(std::int64_t(t))});
    setState(id, State::Done, {});
    exec("COMMIT", Action::Write);
  } catch (const JournalError&) {
    rollback();
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
  const std::string only = id ? " WHERE nID = " + std::to_string(*id) : std::string();
  const std::unique_ptr<db::RowSet> head =
      read("SELECT nID, sWhen, sDatabase, sPeriodID, sTaskCode, nLevel, sUnitCode, sUnitName, "
           "sPairName, sOtherUnitCode, sOtherUnitName, sSampleCode, sSampleName, sState, "
           "sRestoredWhen FROM Deletion" + only + " ORDER BY nID");
  // An entry names its database by the connection string of its deletion; another string may
  // reach the same database, so databases are compared by what they are, once per string.
  const std::string wanted = database ? db::databaseIdentity(*database) : std::string();
  std::map<std::string, bool, std::less<>> sameDatabase;
  const auto isWanted = [&](const std::string& named) {
    auto [it, added] = sameDatabase.try_emplace(named, false);
    if (added) it->second = db::databaseIdentity(named) == wanted;
    return it->second;
  };
  std::map<std::int64_t, size_t> byId;
  for (int r = 0; r < head->rowCount(); ++r) {
    Entry e;
    e.id = integerAt(*head, r, 0);
    e.when = textAt(*head, r, 1);
    e.database = textAt(*head, r, 2);
    if (database && !isWanted(e.database)) continue;
    e.periodId = textAt(*head, r, 3);
    e.taskCode = textAt(*head, r, 4);
    e.level = static_cast<std::int32_t>(integerAt(*head, r, 5));
    e.unitCode = textAt(*head, r, 6);
    e.unitName = textAt(*head, r, 7);
    e.pairName = textAt(*head, r, 8);
    e.otherUnitCode = textAt(*head, r, 9);
    e.otherUnitName = textAt(*head, r, 10);
    e.sampleCode = textAt(*head, r, 11);
    e.sampleName = textAt(*head, r, 12);
    e.state = stateOf(textAt(*head, r, 13));
    e.restoredWhen = textAt(*head, r, 14);
    byId.emplace(e.id, entries.size());
    entries.push_back(std::move(e));
  }
  if (entries.empty()) return entries;
  if (has("DeletionBatch")) {
    const std::unique_ptr<db::RowSet> batches = read("SELECT nID, nBatch FROM DeletionBatch" + only);
    for (int r = 0; r < batches->rowCount(); ++r)
      if (const auto found = byId.find(integerAt(*batches, r, 0)); found != byId.end())
        entries[found->second].batch = integerAt(*batches, r, 1);
  }

  // The tables and their columns of every entry at once, ordered, handed to their entries.
  const std::unique_ptr<db::RowSet> tables = read(
      "SELECT nID, nTable, sName, nSaved, nDeleted FROM DeletedTable" + only + " ORDER BY 1, 2");
  const std::unique_ptr<db::RowSet> columns =
      read("SELECT nID, nTable, sName FROM DeletedColumn" + only + " ORDER BY 1, 2, nColumn");
  // Each table by its entry and number, as the columns name it.
  std::map<std::pair<std::int64_t, std::int64_t>, std::pair<size_t, size_t>> tableOf;
  for (int r = 0; r < tables->rowCount(); ++r) {
    const std::int64_t entryId = integerAt(*tables, r, 0);
    const auto found = byId.find(entryId);
    if (found == byId.end()) continue;
    SavedTable t;
    t.name = textAt(*tables, r, 2);
    t.savedRows = integerAt(*tables, r, 3);
    t.deletedRows = integerAt(*tables, r, 4);
    std::vector<SavedTable>& of = entries[found->second].tables;
    tableOf[{entryId, integerAt(*tables, r, 1)}] = {found->second, of.size()};
    of.push_back(std::move(t));
  }
  for (int r = 0; r < columns->rowCount(); ++r) {
    const auto found = tableOf.find({integerAt(*columns, r, 0), integerAt(*columns, r, 1)});
    if (found != tableOf.end())
      entries[found->second.first].tables[found->second.second].columns.push_back(
          textAt(*columns, r, 2));
  }
  return entries;
}

Entry Journal::get(std::int64_t id) {
  std::vector<Entry> found = entries(std::nullopt, id);
  if (found.empty()) throw JournalError(Reason::NoSuchEntry, {.file = path_.string(), .id = id});
  Entry entry = std::move(found.front());
  const std::unique_ptr<db::RowSet> values =
      read("SELECT nTable, nRow, nColumn, nKind, vValue FROM DeletedValue WHERE nID = " +
           std::to_string(id) + " ORDER BY nTable, nRow, nColumn");
  for (SavedTable& t : entry.tables) t.rows.assign(static_cast<size_t>(t.savedRows), {});
  const auto damaged = [this, id] {
    return JournalError(Reason::DamagedEntry, {.file = path_.string(), .id = id});
  };
  for (int row = 0; row < values->rowCount(); ++row) {
    const std::int64_t t = integerAt(*values, row, 0), r = integerAt(*values, row, 1),
                       c = integerAt(*values, row, 2);
    if (t < 0 || static_cast<size_t>(t) >= entry.tables.size()) throw damaged();
    SavedTable& table = entry.tables[static_cast<size_t>(t)];
    if (r < 0 || r >= table.savedRows || c != std::int64_t(table.rows[size_t(r)].size()))
      throw damaged();
    std::optional<db::Value> v = readValue(values->view(row, 4), integerAt(*values, row, 3));
    if (!v) throw damaged();
    table.rows[size_t(r)].push_back(std::move(*v));
  }
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
    std::int64_t removed = 0;
    if (has("DeletionBatch"))
      write("DELETE FROM DeletionBatch WHERE nID IN (SELECT nID FROM Deletion WHERE sWhen < ?)",
            {db::Value(date)});
    for (const char* sql :
         {"DELETE FROM DeletedValue WHERE nID IN (SELECT nID FROM Deletion WHERE sWhen < ?)",
          "DELETE FROM DeletedColumn WHERE nID IN (SELECT nID FROM Deletion WHERE sWhen < ?)",
          "DELETE FROM DeletedTable WHERE nID IN (SELECT nID FROM Deletion WHERE sWhen < ?)",
          "DELETE FROM Deletion WHERE sWhen < ?"})
      removed = write(sql, {db::Value(date)});
    exec("COMMIT", Action::Write);
    return static_cast<int>(removed);
  } catch (const JournalError&) {
    rollback();
    throw;
  }
}

std::int64_t Journal::newBatch() {
  if (!db_ || mode_ != Mode::ReadWrite) refuse(Reason::OpenedReadOnly, path_);
  write("INSERT INTO Batch(sWhen, sWho) VALUES (?,?)",
        {db::Value(nowUtc()), db::Value(currentUser())});
  return integerAt(*read("SELECT last_insert_rowid()", Action::Write), 0, 0);
}

std::vector<Entry> Journal::batchEntries(std::int64_t batch) {
  std::vector<Entry> all = list();
  std::erase_if(all, [batch](const Entry& e) { return e.batch != batch; });
  return all;
}

void Journal::decide(Decision d) {
  if (!db_ || mode_ != Mode::ReadWrite) refuse(Reason::OpenedReadOnly, path_);
  if (d.who.empty()) d.who = currentUser();
  if (d.when.empty()) d.when = nowUtc();
  using V = db::Value;
  const FindingKey& k = d.key;
  write("INSERT OR REPLACE INTO Decision VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
        {V(k.database), V(k.periodId), V(k.againstPeriod), V(k.taskCode),
         V(std::int64_t{k.level}), V(k.unitCode1), V(k.unitCode2), V(k.sampleCode), V(d.kind),
         V(std::string(markToken(d.mark))), V(d.note), V(d.fingerprint), V(d.who), V(d.when)});
}

std::vector<Decision> Journal::decisions(const std::string& databaseIdentity) {
  std::vector<Decision> found;
  if (!db_ || !has("Decision")) return found;
  const std::unique_ptr<db::RowSet> rows =
      read("SELECT sDatabase, sPeriodID, sAgainstPeriodID, sTaskCode, nLevel, sUnitCode1, "
           "sUnitCode2, sSampleCode, sKind, sMark, sNote, sFingerprint, sWho, sWhen FROM Decision "
           "ORDER BY 1, 2, 3, 4, 5, 6, 7, 8");
  for (int r = 0; r < rows->rowCount(); ++r) {
    Decision d;
    d.key.database = textAt(*rows, r, 0);
    if (!databaseIdentity.empty() && d.key.database != databaseIdentity) continue;
    d.key.periodId = textAt(*rows, r, 1);
    d.key.againstPeriod = textAt(*rows, r, 2);
    d.key.taskCode = textAt(*rows, r, 3);
    d.key.level = static_cast<std::int32_t>(integerAt(*rows, r, 4));
    d.key.unitCode1 = textAt(*rows, r, 5);
    d.key.unitCode2 = textAt(*rows, r, 6);
    d.key.sampleCode = textAt(*rows, r, 7);
    d.kind = textAt(*rows, r, 8);
    if (!markOfToken(textAt(*rows, r, 9), d.mark)) d.mark = Mark::Pending;
    d.note = textAt(*rows, r, 10);
    d.fingerprint = textAt(*rows, r, 11);
    d.who = textAt(*rows, r, 12);
    d.when = textAt(*rows, r, 13);
    found.push_back(std::move(d));
  }
  return found;
}

}  // namespace dupsweep::journal
