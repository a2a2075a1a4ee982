#include "data/dmdupsweep.h"

#include <charconv>
#include <cstdint>
#include <cmath>
#include <exception>
#include <fstream>

#include "data/VarStreamConvert.h"
#include "data/statements.h"
#include "platform/files/files.h"
#include "platform/text/text.h"

namespace dupsweep {
namespace {

std::string tableName(const char* stem, const TSampleData& s) {
  std::string name = stem + s.sTaskCode + "_" + s.sSampleCode + "_" + std::to_string(s.nSampleLevel);
  if (!s.TablePrefix.empty()) name += "_" + s.TablePrefix;
  return name;
}

// Whether a bUseTarget value equals the number 1. NULL never does; a boolean true counts as 1
// (the flag means the tables carry the prefix); text is read as a number first.
bool equalsOne(const db::Value& v) {
  struct Visitor {
    bool operator()(const db::Null&) const { return false; }
    bool operator()(std::int64_t i) const { return i == 1; }
    bool operator()(double d) const { return d == 1.0; }
    bool operator()(bool b) const { return b; }
    bool operator()(const db::Decimal& d) const { return number(d.digits); }
    bool operator()(const std::string& s) const { return number(s); }
    bool operator()(const db::Bytes&) const { return fail(); }
    bool operator()(const db::DateTime&) const { return fail(); }
    static bool number(const std::string& text) {
      std::size_t b = text.find_first_not_of(' ');
      std::size_t e = text.find_last_not_of(' ');
      double value = 0;
      if (b != std::string::npos) {
        auto [ptr, ec] = std::from_chars(text.data() + b, text.data() + e + 1, value);
        if (ec == std::errc() && ptr == text.data() + e + 1) return value == 1.0;
      }
      throw DatabaseError("Conversion failed when converting the value '" + text +
                          "' of bUseTarget to a number");
    }
    static bool fail() { throw DatabaseError("The value of bUseTarget is not a number"); }
  };
  return std::visit(Visitor{}, v);
}

}  // namespace

std::string NumTableName(const TSampleData& sample) { return tableName("DataNum", sample); }
std::string BalanceTableName(const TSampleData& sample) { return tableName("DataBalance", sample); }

// The module's one connection: opened on the first statement, and dropped when a statement
// finds the link to the database gone, so that the next statement connects afresh instead of
// failing for the rest of the dialog's life.
class TdmDupsweep::Link : public db::Connection {
  // Runs `f` on the open connection; a lost link drops it before the error goes on.
  template <class F>
  auto guarded(F&& f) const {
    try {
      return f(get());
    } catch (const DatabaseError& e) {
      if (e.kind() == DatabaseError::Kind::LinkLost) inner_.reset();
      throw;
    }
  }

 public:
  explicit Link(ConnectionFactory factory) : factory_(std::move(factory)) {}

  void reset(const std::string& connectionString) {
    if (connectionString != connectionString_) {
      inner_.reset();
      openFailure_.reset();
    }
    connectionString_ = connectionString;
  }
  db::Connection& get() const {
    if (!inner_) {
      try {
        inner_ = factory_(connectionString_);
        openFailure_.reset();
      } catch (const DatabaseError& e) {
        openFailure_ = e.what();
        throw;
      }
    }
    return *inner_;
  }
  // Why the last attempt to open the connection failed, while no connection is open.
  const std::optional<std::string>& openFailure() const noexcept { return openFailure_; }

  db::Dialect dialect() const override {
    return guarded([](db::Connection& c) { return c.dialect(); });
  }
  std::unique_ptr<db::RowSet> query(std::string_view sql) override {
    return guarded([&](db::Connection& c) { return c.query(sql); });
  }
  void stream(std::string_view sql, db::RowSink& sink) override {
    guarded([&](db::Connection& c) { c.stream(sql, sink); });
  }
  std::int64_t execute(std::string_view sql) override {
    return guarded([&](db::Connection& c) { return c.execute(sql); });
  }
  std::int64_t executeWith(std::string_view sql, const std::vector<db::Value>& params) override {
    return guarded([&](db::Connection& c) { return c.executeWith(sql, params); });
  }
  void begin() override { guarded([](db::Connection& c) { c.begin(); }); }
  void commit() override { guarded([](db::Connection& c) { c.commit(); }); }
  void rollback() override { guarded([](db::Connection& c) { c.rollback(); }); }

 private:
  ConnectionFactory factory_;
  std::string connectionString_;
  mutable std::unique_ptr<db::Connection> inner_;  // opened on first use, even from const calls
  mutable std::optional<std::string> openFailure_;
};

TdmDupsweep::TdmDupsweep() : TdmDupsweep([](const std::string& s) { return db::open(s); }) {}

TdmDupsweep::TdmDupsweep(ConnectionFactory factory)
    : qryUnit([this]() -> db::Connection& { return connection(); }),
      qryData([this]() -> db::Connection& { return connection(); }),
      link_(std::make_unique<Link>(std::move(factory))) {}

TdmDupsweep::~TdmDupsweep() = default;

db::Connection& TdmDupsweep::connection() { return *link_; }

db::Dialect TdmDupsweep::Dialect() { return connection().dialect(); }

void TdmDupsweep::SetConnection(const std::string& connectionString) {
  qryUnit.Close();
  qryData.Close();
  // A new string means a new database: the next statement opens a connection to it. The same
  // string keeps the connection that is open.
  link_->reset(connectionString);
  connectionString_ = connectionString;
}

std::vector<std::string> TdmDupsweep::BuildUnitSQL(const std::string& unitClsCode,
                                                   const std::string& parentCode,
                                                   std::int32_t level, db::Dialect dialect) const {
  return sql::unitLevel(dialect, unitClsCode, parentCode, level);
}

std::vector<std::string> TdmDupsweep::BuildPeriodSQL(const std::string& taskCode,
                                                     std::int32_t level,
                                                     db::Dialect dialect) const {
  return sql::periodList(dialect, taskCode, level);
}

TQuery* TdmDupsweep::GetSpecifyUnitList(const std::string& unitClsCode,
                                        const std::string& parentCode, std::int32_t level) {
  try {
    qryUnit.Close();
    qryUnit.SQL = BuildUnitSQL(unitClsCode, parentCode, level, Dialect());
    qryUnit.Open();
    return &qryUnit;
  } catch (const Error&) {
    // A failed unit statement is an empty level: the tree shows no node for it.
    return nullptr;
  }
}

std::optional<std::vector<PeriodEntry>> TdmDupsweep::GetPeriodList(const std::string& taskCode,
                                                                    std::int32_t level) {
  try {
    qryData.Close();
    qryData.SQL = BuildPeriodSQL(taskCode, level, Dialect());
    qryData.Open();
    std::vector<PeriodEntry> list;
    db::RowSet& rows = qryData.Rows();
    for (rows.first(); !rows.eof(); rows.next()) {
      auto period = std::make_unique<TPeriod>();
      period->sPeriodID = rows.field("sPeriodID").asText();
      period->sPeriodName = rows.field("sPeriodName").asText();
      std::string text = period->sPeriodName;
      list.push_back({std::move(text), std::move(period)});
    }
    return list;
  } catch (const Error&) {
    // A failed period statement leaves the period list empty; no message is shown.
    return std::nullopt;
  }
}

std::vector<std::unique_ptr<TSampleData>> TdmDupsweep::GetSampleList(const std::string& periodId,
                                                                     const std::string& taskCode,
                                                                     std::int32_t level) {
  qryData.Close();
  qryData.SQL = sql::sampleList(Dialect(), periodId, taskCode, level);
  qryData.Open();
  std::vector<std::unique_ptr<TSampleData>> list;
  db::RowSet& rows = qryData.Rows();
  for (rows.first(); !rows.eof(); rows.next()) {
    auto sample = std::make_unique<TSampleData>();
    sample->sSampleCode = rows.field("sSampleCode").asTextStrict();
    sample->sSampleName = rows.field("sSampleName").asTextStrict();
    sample->nSampleLevel = level;
    sample->sPeriodID = periodId;
    sample->sTaskCode = taskCode;
    sample->TablePrefix =
        equalsOne(rows.field("bUseTarget").value()) ? text::utf8Prefix(periodId, 4) : "";
    sample->nSheetOrder = static_cast<std::int32_t>(rows.field("nSheetOrder").asInteger());
    list.push_back(std::move(sample));
  }
  return list;
}

std::unique_ptr<db::RowSet> TdmDupsweep::OpenUnitData(const std::string& tableName,
                                                      const std::string& unitCode,
                                                      const std::string& periodId) {
  // Only names of ASCII letters, digits, '_' and '-' are ever sent; one that cannot stand bare (a
  // negative level's "_-1", a leading digit) is delimited in the dialect's way.
  if (!sql::isSafeTableName(tableName)) return nullptr;
  try {
    return connection().query(sql::joined(sql::unitData(Dialect(), tableName, unitCode, periodId)));
  } catch (const DatabaseError& e) {
    // Only a table the database does not have is an absent result; a damaged file, a lost link
    // or a lock held too long must never pass for rows that are not there.
    if (e.kind() == DatabaseError::Kind::MissingTable) return nullptr;
    throw;
  }
}

std::vector<ClassificationUnit> TdmDupsweep::GetClassificationUnits(
    const std::string& unitClsCode) {
  qryData.Close();
  qryData.SQL = sql::classificationUnits(Dialect(), unitClsCode);
  qryData.Open();
  std::vector<ClassificationUnit> found;
  db::RowSet& rows = qryData.Rows();
  for (rows.first(); !rows.eof(); rows.next()) {
    ClassificationUnit entry;
    const std::int64_t id = rows.field("nUnitID").asInteger();
    const std::int64_t level = rows.field("nLevel").asInteger();
    if (id < INT32_MIN || id > INT32_MAX || level < INT32_MIN || level > INT32_MAX)
      throw DatabaseError("The unit " + rows.field("sUnitCode").asText() +
                          " has an identifier or level out of range");
    entry.unit.nUnitID = static_cast<std::int32_t>(id);
    entry.unit.nLevel = static_cast<std::int32_t>(level);
    entry.unit.sUnitCode = rows.field("sUnitCode").asText();
    entry.unit.sUnitName = rows.field("sUnitName").asText();
    if (const db::Field parent = rows.field("sParentCode"); !parent.isNull())
      entry.parentCode = parent.asText();
    found.push_back(std::move(entry));
  }
  qryData.Close();
  return found;
}

bool TdmDupsweep::StreamSheetData(const std::string& tableName, const std::string& periodId,
                                  db::RowSink& sink) {
  if (!sql::isSafeTableName(tableName)) return false;
  const std::string text = sql::joined(sql::sheetData(Dialect(), tableName, periodId));
  try {
    connection().stream(text, sink);
    return true;
  } catch (const DatabaseError& e) {
    // As for one unit's rows: only a table the database does not have is an absent result.
    if (e.kind() == DatabaseError::Kind::MissingTable) return false;
    throw;
  }
}

std::vector<TUnitData> TdmDupsweep::FindUnits(const std::string& unitClsCode,
                                              const std::vector<std::string>& unitCodes) {
  std::vector<TUnitData> found;
  if (unitCodes.empty()) return found;
  qryData.Close();
  qryData.SQL = sql::unitsByCode(Dialect(), unitClsCode, unitCodes);
  qryData.Open();
  db::RowSet& rows = qryData.Rows();
  for (rows.first(); !rows.eof(); rows.next()) {
    TUnitData unit;
    const std::int64_t id = rows.field("nUnitID").asInteger();
    const std::int64_t level = rows.field("nLevel").asInteger();
    if (id < INT32_MIN || id > INT32_MAX || level < INT32_MIN || level > INT32_MAX)
      throw DatabaseError("The unit " + rows.field("sUnitCode").asText() +
                          " has an identifier or level out of range");
    unit.nUnitID = static_cast<std::int32_t>(id);
    unit.nLevel = static_cast<std::int32_t>(level);
    unit.sUnitCode = rows.field("sUnitCode").asText();
    unit.sUnitName = rows.field("sUnitName").asText();
    found.push_back(std::move(unit));
  }
  return found;
}

std::optional<std::string> TdmDupsweep::ConnectionFailure() {
  // The failure of the last attempt serves when there was one: trying again would make the
  // operator wait for another connect time-out only to hear the same reason.
  if (link_->openFailure()) return link_->openFailure();
  try {
    Dialect();
    return std::nullopt;
  } catch (const DatabaseError& e) {
    return std::string(e.what());  // the database layer never puts a password in a message
  }
}

std::string TdmDupsweep::ExtractTemplate(const std::string& periodId, const std::string& taskCode,
                                         std::int32_t level, std::string* whyNot) {
  qryData.Close();
  qryData.SQL.clear();
  if (whyNot) whyNot->clear();
  std::filesystem::path file;
  // The reserved file goes unless it is handed out, whatever ends the extraction.
  struct Reserved {
    std::filesystem::path& file;
    bool kept = false;
    ~Reserved() {
      if (!kept && !file.empty()) files::deleteFileQuietly(file);
    }
  } reserved{file};
  try {
    file = files::createTemporaryFile("tmp");
    qryData.SQL = sql::templateWorkbook(Dialect(), periodId, taskCode, level);
    qryData.Open();
    db::RowSet& rows = qryData.Rows();
    if (rows.eof() || db::kindOf(rows.at(0, 0)) == db::ValueKind::Null)
      return {};  // no template: nothing failed
    TMemoryStream stream;
    TStreamVariantConvert::VariantToStream(ByteArrayView::of(rows.at(0, 0)), stream);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(stream.bytes.data()),
              static_cast<std::streamsize>(stream.bytes.size()));
    out.close();
    if (!out) throw FileError("Unable to write to " + file.string());
    reserved.kept = true;
    return file.string();
  } catch (const Error& e) {
    // The callers take the empty name as the template's absence; the reason goes to those who
    // show one.
    if (whyNot) *whyNot = e.what();
    return {};
  }
}

std::int32_t TdmDupsweep::DeleteTableData(const std::string& tableName,
                                          const std::string& unitCode,
                                          const std::string& periodId) {
  // Only names of ASCII letters, digits, '_' and '-' are ever sent (delimited when they cannot
  // stand bare); anything else is refused before it is sent.
  if (!sql::isSafeTableName(tableName))
    throw DatabaseError("Invalid table name: " + tableName);
  qryData.Close();
  qryData.SQL = sql::deleteTableData(Dialect(), tableName, unitCode, periodId);
  return static_cast<std::int32_t>(qryData.ExecSQL());
}

std::int32_t TdmDupsweep::DeleteStatus(const std::string& periodId, const std::string& unitCode,
                                       const std::string& taskCode, std::int32_t level) {
  qryData.Close();
  qryData.SQL = sql::deleteStatus(periodId, unitCode, taskCode, level);
  return static_cast<std::int32_t>(qryData.ExecSQL());
}

namespace {

// A journal failure before anything was deleted says so.
[[noreturn]] void nothingDeleted(const JournalError& e) {
  throw JournalError(std::string(e.what()) + "；数据没有删除。");
}

bool sameColumns(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].size() != b[i].size()) return false;
    for (std::size_t k = 0; k < a[i].size(); ++k) {
      const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
      if (lower(a[i][k]) != lower(b[i][k])) return false;
    }
  }
  return true;
}

std::string joinedNames(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

constexpr const char* kStatusTable = "Status";

// A database locked by another writer: in practice another operator's deletion or restore whose
// transaction is still open. The database's own message follows.
[[noreturn]] void lockedBy(const DatabaseError& e, const char* nothingDone) {
  throw DatabaseError(std::string("另一个删除或恢复正在进行，数据库暂时被锁定，请稍后再试；") +
                          nothingDone + "（" + e.what() + "）",
                      e);
}

// Whether `now` (the rows read as a deletion reads them) are exactly the saved rows of `saved`:
// the same columns, and each saved row once, value for value and of the same kind, in any order,
// with no other row.
bool holdsSavedRows(const journal::SavedTable& now, const journal::SavedTable& saved) {
  if (now.rows.size() != saved.rows.size() ||
      saved.rows.size() != static_cast<std::size_t>(saved.savedRows) ||
      !sameColumns(now.columns, saved.columns))
    return false;
  std::vector<bool> matched(saved.rows.size(), false);
  for (const std::vector<db::Value>& row : now.rows) {
    bool found = false;
    for (std::size_t k = 0; k < saved.rows.size() && !found; ++k)
      if (!matched[k] && saved.rows[k] == row) matched[k] = found = true;
    if (!found) return false;
  }
  return true;
}

}  // namespace

void TdmDupsweep::SetJournalPath(std::filesystem::path path) { journalPath_ = std::move(path); }

std::filesystem::path TdmDupsweep::JournalPath() const {
  return journalPath_ ? *journalPath_ : journal::defaultPath();
}

TdmDupsweep::KeptRoute TdmDupsweep::keptRoute() {
  KeptRoute route;
  route.typed =
      Dialect() == db::Dialect::SQLite &&
      db::parseConnectionString(connectionString_).kind == db::ConnectionTarget::Kind::Odbc;
  if (!route.typed) return route;
  const std::unique_ptr<db::RowSet> encoding = connection().query("PRAGMA encoding");
  if (!encoding->eof()) {
    const std::string name = encoding->field(0).asText();
    if (name == "UTF-16le") route.utf16 = "le";
    if (name == "UTF-16be") route.utf16 = "be";
  }
  return route;
}

journal::SavedTable TdmDupsweep::readKept(const KeptRoute& route, const std::string& table,
                                          const std::vector<std::string>& lines) {
  std::unique_ptr<db::RowSet> rows;
  if (route.typed) {
    std::vector<std::string> limited = lines;
    limited.push_back("  Limit 0");
    const std::unique_ptr<db::RowSet> shape = connection().query(sql::joined(limited));
    std::vector<std::string> columns;
    for (int c = 0; c < shape->columnCount(); ++c) columns.push_back(shape->columnName(c));
    rows = connection().query(sql::joined(sql::keptRowsTyped(lines, columns)));
  } else {
    rows = connection().query(sql::joined(lines));
  }
  journal::SavedTable saved;
  saved.name = table;
  for (int c = 0; c < rows->columnCount(); ++c) saved.columns.push_back(rows->columnName(c));
  for (int r = 0; r < rows->rowCount(); ++r) {
    std::vector<db::Value> row;
    row.reserve(saved.columns.size());
    for (int c = 0; c < rows->columnCount(); ++c) {
      if (!route.typed) {
        row.push_back(rows->at(r, c));
        continue;
      }
      const db::CellView cell = rows->view(r, c);
      try {
        if (cell.kind != db::ValueKind::Text) throw DatabaseError("不是文字");
        row.push_back(sql::typedKeptValue(cell.bytes, route.utf16));
      } catch (const DatabaseError& e) {
        throw JournalError("表 " + table + " 第 " + std::to_string(r + 1) + " 行的列 " +
                           saved.columns[std::size_t(c)] + " 的值无法原样保存到删除日志中（" +
                           e.what() + "）；数据没有删除。");
      }
    }
    saved.rows.push_back(std::move(row));
  }
  saved.savedRows = rows->rowCount();
  return saved;
}

std::int64_t TdmDupsweep::DeleteRepeatedCopy(const TSampleData& sample, const std::string& unitCode,
                                             bool withStatus, const std::string& taskCode,
                                             std::int32_t level, const DeletionNotes& notes,
                                             const SameCopyTest& stillIdentical) {
  if (!stillIdentical) throw Error("A deletion needs the comparison's equality test");
  // A failure of the rollback itself is passed over: the failure being reported is the one that
  // stopped the deletion (a lost link has rolled it back already).
  const auto rollback = [this]() noexcept {
    try {
      Rollback();
    } catch (const DatabaseError&) {
    }
  };
  const std::string& period = sample.sPeriodID;
  const std::string num = NumTableName(sample);
  const std::string balance = BalanceTableName(sample);
  for (const std::string* name : {&num, &balance})
    if (!sql::isSafeTableName(*name)) throw DatabaseError("Invalid table name: " + *name);

  // The journal is opened before anything is sent: one that cannot be written stops the deletion
  // before it starts.
  std::optional<journal::Journal> log;
  try {
    log.emplace(JournalPath(), journal::Journal::Mode::ReadWrite);
  } catch (const JournalError& e) {
    nothingDeleted(e);
  }
  journal::Entry entry;
  entry.database = journal::withoutSecrets(connectionString_);
  entry.periodId = period;
  entry.taskCode = taskCode;
  entry.level = level;
  entry.unitCode = unitCode;
  entry.unitName = notes.unitName;
  entry.pairName = notes.pairName;
  entry.otherUnitCode = notes.otherUnitCode;
  entry.otherUnitName = notes.otherUnitName;
  entry.sampleCode = sample.sSampleCode;
  entry.sampleName = sample.sSampleName;

  const db::Dialect dialect = Dialect();
  std::optional<std::int64_t> id;  // set once the entry is on the disk
  bool committing = false;
  std::int64_t total = 0;
  std::vector<std::int64_t> counts;
  StartTransaction();
  try {
    const KeptRoute route = keptRoute();
    entry.tables.push_back(
        readKept(route, num, sql::keptTableRows(dialect, num, unitCode, period)));
    entry.tables.push_back(
        readKept(route, balance, sql::keptTableRows(dialect, balance, unitCode, period)));
    if (withStatus)
      entry.tables.push_back(
          readKept(route, kStatusTable, sql::keptStatusRows(period, unitCode, taskCode, level)));
    // The comparison that found the copy repeated may be old: a resubmission can have changed
    // either unit's figures since. Read under the same transaction as the deletion, both copies
    // must still be identical.
    {
      const std::unique_ptr<db::RowSet> mine = OpenUnitData(num, unitCode, period);
      const std::unique_ptr<db::RowSet> others =
          notes.otherUnitCode.empty() ? nullptr : OpenUnitData(num, notes.otherUnitCode, period);
      if (!mine || !others || mine->rowCount() == 0 || others->rowCount() == 0 ||
          !stillIdentical(*mine, *others))
        throw CopyChanged("单位 " + unitCode + " 与 " + notes.otherUnitCode + " 在表 " +
                          sample.sSampleName + "（" + num + "，期间 " + period +
                          "）中的数据在比对后已经改变，不再相同；没有删除任何数据。");
    }
    try {
      id = log->add(entry);
    } catch (const JournalError& e) {
      nothingDeleted(e);
    }
    counts.push_back(DeleteTableData(num, unitCode, period));
    counts.push_back(DeleteTableData(balance, unitCode, period));
    if (withStatus) counts.push_back(DeleteStatus(period, unitCode, taskCode, level));
    for (std::size_t t = 0; t < counts.size(); ++t) {
      // Rows that came or went between the read and the deletion would be deleted without their
      // entry, or the entry would hold rows that were never deleted.
      if (counts[t] >= 0 && counts[t] != entry.tables[t].savedRows)
        throw DatabaseError("The rows of " + entry.tables[t].name + " changed during the " +
                            "deletion (" + std::to_string(entry.tables[t].savedRows) +
                            " read, " + std::to_string(counts[t]) +
                            " deleted); nothing was deleted");
      total += counts[t];
    }
    if (total >= 0) {
      committing = true;
      Commit();  // a commit that fails leaves the transaction to the rollback
    }
  } catch (const DatabaseError& e) {
    rollback();
    // A link lost while committing leaves the outcome unknown: the entry stays pending, which a
    // restore treats like a done one (its check for rows already there guards either way).
    const bool unknown = committing && e.kind() == DatabaseError::Kind::LinkLost;
    if (id && !unknown) {
      try {
        log->markRolledBack(*id);
      } catch (const JournalError&) {
        // The entry stays pending; the failure reported is the deletion's.
      }
    }
    if (e.kind() == DatabaseError::Kind::Locked) lockedBy(e, "没有删除任何数据。");
    throw;
  } catch (...) {
    rollback();
    throw;
  }
  if (total < 0) {
    rollback();
    try {
      log->markRolledBack(*id);
    } catch (const JournalError&) {
      // The entry stays pending; the failed deletion is what the caller reports.
    }
    return total;
  }
  try {
    log->markDone(*id, counts);
  } catch (const JournalError&) {
    // The deletion has committed and its rows are in the entry; it stays pending, which restores
    // like a done one.
  }
  return total;
}

std::vector<journal::Entry> TdmDupsweep::DeletionEntries() {
  journal::Journal log(JournalPath(), journal::Journal::Mode::ReadOnly);
  return log.list(journal::withoutSecrets(connectionString_));
}

std::int64_t TdmDupsweep::RestoreDeletion(std::int64_t id) {
  const std::filesystem::path path = JournalPath();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec))
    throw JournalError("删除日志 " + path.string() + " 不存在，没有可以恢复的数据");
  journal::Journal log(path, journal::Journal::Mode::ReadWrite);
  const journal::Entry entry = log.get(id);
  const std::string what = "编号为 " + std::to_string(id) + " 的删除记录";
  if (entry.state == journal::State::Restored)
    throw RestoreRefused(what + "已经在 " + entry.restoredWhen + " 恢复过，不能再次恢复。");
  if (entry.state == journal::State::RolledBack)
    throw RestoreRefused(what + "的删除没有生效（已回滚），数据仍在数据库中，不需要恢复。");
  for (const journal::SavedTable& t : entry.tables)
    if (t.name != kStatusTable && !sql::isSafeTableName(t.name))
      throw RestoreRefused(what + "中的表名 " + t.name + " 无效，没有恢复任何数据。");

  const db::Dialect dialect = Dialect();
  const std::string unit = entry.unitName.empty() ? entry.unitCode
                                                  : entry.unitName + "（" + entry.unitCode + "）";
  const auto rollback = [this]() noexcept {
    try {
      Rollback();
    } catch (const DatabaseError&) {
    }
  };
  std::int64_t restored = 0;
  StartTransaction();
  try {
    // Every table is read and checked before any row goes back, so that a refusal changes
    // nothing.
    const auto keptLines = [&](const journal::SavedTable& t) {
      return t.name == kStatusTable
                 ? sql::keptStatusRows(entry.periodId, entry.unitCode, entry.taskCode, entry.level)
                 : sql::keptTableRows(dialect, t.name, entry.unitCode, entry.periodId);
    };
    std::vector<std::unique_ptr<db::RowSet>> current;  // null for a table that is gone
    for (const journal::SavedTable& t : entry.tables) {
      std::unique_ptr<db::RowSet>& now = current.emplace_back();
      try {
        now = connection().query(sql::joined(keptLines(t)));
      } catch (const DatabaseError& e) {
        if (e.kind() != DatabaseError::Kind::MissingTable) throw;
        if (t.savedRows == 0) continue;  // nothing to put into a table that is gone
        throw RestoreRefused("数据库中已经没有表 " + t.name + "，" + what + "无法恢复，没有恢复任何数据。");
      }
    }
    // A pending entry may be one whose deletion was rolled back when the program ended before
    // it could say so: then every saved row is still there as it was, and nothing else.
    // The rows are read again as the deletion read them, so that their values are of the kinds
    // the journal keeps whatever the route.
    if (entry.state == journal::State::Pending && entry.savedRows() > 0) {
      const KeptRoute route = keptRoute();
      bool allThere = true;
      for (std::size_t i = 0; i < entry.tables.size() && allThere; ++i) {
        const journal::SavedTable& t = entry.tables[i];
        if (!current[i])
          allThere = t.savedRows == 0;
        else if (current[i]->rowCount() != t.savedRows)
          allThere = false;
        else if (t.savedRows > 0)
          allThere = holdsSavedRows(readKept(route, t.name, keptLines(t)), t);
      }
      if (allThere)
        throw DeletionNeverTookEffect(what + "的删除没有生效：它的 " +
                                      std::to_string(entry.savedRows()) +
                                      " 行数据都还在数据库中，不需要恢复。删除日志中已记为"
                                      "未删除（已回滚）。");
    }
    for (std::size_t i = 0; i < entry.tables.size(); ++i) {
      const journal::SavedTable& t = entry.tables[i];
      const std::unique_ptr<db::RowSet>& now = current[i];
      if (!now) continue;
      if (now->rowCount() > 0)
        throw RestoreRefused(unit + "在期间 " + entry.periodId + " 的表 " + t.name + " 中已经有 " +
                             std::to_string(now->rowCount()) +
                             " 行数据，恢复会与它们冲突；没有恢复任何数据。");
      std::vector<std::string> columns;
      for (int c = 0; c < now->columnCount(); ++c) columns.push_back(now->columnName(c));
      if (t.savedRows > 0 && !sameColumns(columns, t.columns))
        throw RestoreRefused("表 " + t.name + " 的列与删除时不同（删除时：" +
                             joinedNames(t.columns) + "；现在：" + joinedNames(columns) +
                             "），没有恢复任何数据。");
    }
    for (const journal::SavedTable& t : entry.tables) {
      if (t.rows.empty()) continue;
      const std::string insert = sql::joined(sql::insertRow(dialect, t.name, t.columns));
      for (const std::vector<db::Value>& row : t.rows) {
        const std::int64_t n = connection().executeWith(insert, row);
        if (n != 1)
          throw DatabaseError("Putting a row back into " + t.name + " affected " +
                              std::to_string(n) + " rows; nothing was restored");
        ++restored;
      }
    }
    Commit();
  } catch (const DeletionNeverTookEffect&) {
    rollback();  // nothing was written: the reads end
    try {
      log.markRolledBack(id);
    } catch (const JournalError& e) {
      throw JournalError(what + "的删除没有生效，数据都还在数据库中，但无法在删除日志中记下：" +
                         std::string(e.what()));
    }
    throw;
  } catch (const DatabaseError& e) {
    rollback();
    if (e.kind() == DatabaseError::Kind::Locked) lockedBy(e, "没有恢复任何数据。");
    throw;
  } catch (...) {
    rollback();
    throw;
  }
  try {
    log.markRestored(id);
  } catch (const JournalError& e) {
    throw JournalError("数据已经恢复，但无法在删除日志中记下：" + std::string(e.what()));
  }
  return restored;
}

void TdmDupsweep::StartTransaction() { connection().begin(); }
void TdmDupsweep::Commit() { connection().commit(); }
void TdmDupsweep::Rollback() { connection().rollback(); }

}  // namespace dupsweep
