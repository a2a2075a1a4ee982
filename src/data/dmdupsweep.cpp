#include "data/dmdupsweep.h"

#include <charconv>
#include <cstdint>
#include <cmath>
#include <exception>
#include <fstream>

#include "data/VarStreamConvert.h"
#include "data/statements.h"
#include "data/units.h"
#include "platform/db/forwarding_connection.h"
#include "platform/files/files.h"
#include "platform/text/text.h"

namespace dupsweep {
namespace {

std::string tableName(const char* stem, const TSampleData& s) {
  std::string name = stem + s.sTaskCode + "_" + s.sSampleCode + "_" + std::to_string(s.nSampleLevel);
  if (!s.TablePrefix.empty()) name += "_" + s.TablePrefix;
  return name;
}

// NULL never equals 1; true counts as 1 (the tables carry the prefix); text is read as a number.
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

// Opened on the first statement and dropped when the link is found gone, so the next statement
// connects afresh instead of failing for the rest of the dialog's life.
class TdmDupsweep::Link : public db::ForwardingConnection {
 public:
  explicit Link(ConnectionFactory factory) : factory_(std::move(factory)) {}

  void reset(const std::string& connectionString) {
    if (connectionString != connectionString_) {
      connection_.reset();
      openFailure_.reset();
    }
    connectionString_ = connectionString;
  }
  const ConnectionFactory& factory() const noexcept { return factory_; }
  const std::optional<std::string>& openFailure() const noexcept { return openFailure_; }

  // Rows are handed on as they come, not read whole first.
  void stream(std::string_view sql, db::RowSink& sink) override {
    forward([&](db::Connection& c) { c.stream(sql, sink); });
  }

 protected:
  db::Connection& inner() const override {
    if (!connection_) {
      try {
        connection_ = factory_(connectionString_);
        openFailure_.reset();
      } catch (const DatabaseError& e) {
        openFailure_ = e.what();
        throw;
      }
    }
    return *connection_;
  }
  // A lost link drops the connection before the error goes on.
  void failed(const DatabaseError& e) const override {
    if (e.kind() == DatabaseError::Kind::LinkLost) connection_.reset();
  }

 private:
  ConnectionFactory factory_;
  std::string connectionString_;
  mutable std::unique_ptr<db::Connection>
      connection_;  // opened on first use, even from const calls
  mutable std::optional<std::string> openFailure_;
};

TdmDupsweep::TdmDupsweep() : TdmDupsweep([](const std::string& s) { return db::open(s); }) {}

TdmDupsweep::TdmDupsweep(ConnectionFactory factory)
    : qryUnit([this]() -> db::Connection& { return connection(); }),
      qryData([this]() -> db::Connection& { return connection(); }),
      link_(std::make_unique<Link>(std::move(factory))) {}

TdmDupsweep::~TdmDupsweep() = default;

std::unique_ptr<TdmDupsweep> TdmDupsweep::NewReader() const {
  auto reader = std::make_unique<TdmDupsweep>(link_->factory());
  reader->SetConnection(connectionString_);
  return reader;
}

db::Connection& TdmDupsweep::connection() { return *link_; }

db::Dialect TdmDupsweep::Dialect() { return connection().dialect(); }

void TdmDupsweep::SetConnection(const std::string& connectionString) {
  qryUnit.Close();
  qryData.Close();
  // The next statement opens a connection to the new string; the same string keeps it.
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
  if (!sql::isSafeTableName(tableName)) return nullptr;
  try {
    return connection().query(sql::joined(sql::unitData(Dialect(), tableName, unitCode, periodId)));
  } catch (const DatabaseError& e) {
    // Only a missing table is an absent result; a damaged file, a lost link or a lock must never
    // pass for rows that are not there.
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
    ClassificationUnit entry{unitFromRow(rows), std::nullopt};
    if (const db::Field parent = rows.field("sParentCode"); !parent.isNull())
      entry.parentCode = parent.asText();
    found.push_back(std::move(entry));
  }
  qryData.Close();
  return found;
}

bool TdmDupsweep::StreamUnitData(const std::string& tableName, const std::string& unitCode,
                                 const std::string& periodId, db::RowSink& sink) {
  if (!sql::isSafeTableName(tableName)) return false;
  try {
    connection().stream(sql::joined(sql::unitData(Dialect(), tableName, unitCode, periodId)), sink);
    return true;
  } catch (const DatabaseError& e) {
    if (e.kind() == DatabaseError::Kind::MissingTable) return false;
    throw;
  }
}

bool TdmDupsweep::StreamSheetData(const std::string& tableName, const std::string& periodId,
                                  db::RowSink& sink) {
  if (!sql::isSafeTableName(tableName)) return false;
  const std::string text = sql::joined(sql::sheetData(Dialect(), tableName, periodId));
  try {
    connection().stream(text, sink);
    return true;
  } catch (const DatabaseError& e) {
    // Only a missing table is an absent result.
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
  for (rows.first(); !rows.eof(); rows.next()) found.push_back(unitFromRow(rows));
  return found;
}

std::optional<std::string> TdmDupsweep::ConnectionFailure() {
  // Trying again would make the operator wait for another connect time-out only to hear the same
  // reason.
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
    // The callers take the empty name as the template's absence.
    if (whyNot) *whyNot = e.what();
    return {};
  }
}

std::int32_t TdmDupsweep::DeleteTableData(const std::string& tableName,
                                          const std::string& unitCode,
                                          const std::string& periodId) {
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

TdmDupsweep::KeptRoute TdmDupsweep::KeptRouteOf() {
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

TdmDupsweep::KeptRows TdmDupsweep::ReadKeptTableRows(const KeptRoute& route,
                                                     const std::string& tableName,
                                                     const std::string& unitCode,
                                                     const std::string& periodId) {
  return readKept(route, tableName, sql::keptTableRows(Dialect(), tableName, unitCode, periodId));
}

TdmDupsweep::KeptRows TdmDupsweep::ReadKeptStatusRows(const KeptRoute& route,
                                                      const std::string& periodId,
                                                      const std::string& unitCode,
                                                      const std::string& taskCode,
                                                      std::int32_t level) {
  return readKept(route, "Status", sql::keptStatusRows(periodId, unitCode, taskCode, level));
}

std::unique_ptr<db::RowSet> TdmDupsweep::OpenKeptTableRows(const std::string& tableName,
                                                           const std::string& unitCode,
                                                           const std::string& periodId) {
  return connection().query(
      sql::joined(sql::keptTableRows(Dialect(), tableName, unitCode, periodId)));
}

std::unique_ptr<db::RowSet> TdmDupsweep::OpenKeptStatusRows(const std::string& periodId,
                                                            const std::string& unitCode,
                                                            const std::string& taskCode,
                                                            std::int32_t level) {
  return connection().query(sql::joined(sql::keptStatusRows(periodId, unitCode, taskCode, level)));
}

std::int64_t TdmDupsweep::InsertRow(const std::string& tableName,
                                    const std::vector<std::string>& columns,
                                    const std::vector<db::Value>& values) {
  return connection().executeWith(sql::joined(sql::insertRow(Dialect(), tableName, columns)),
                                  values);
}

TdmDupsweep::KeptRows TdmDupsweep::readKept(const KeptRoute& route, const std::string& table,
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
  KeptRows kept;
  for (int c = 0; c < rows->columnCount(); ++c) kept.columns.push_back(rows->columnName(c));
  kept.rows.reserve(static_cast<std::size_t>(rows->rowCount()));
  for (int r = 0; r < rows->rowCount(); ++r) {
    std::vector<db::Value> row;
    row.reserve(kept.columns.size());
    for (int c = 0; c < rows->columnCount(); ++c) {
      if (!route.typed) {
        row.push_back(rows->at(r, c));
        continue;
      }
      const db::CellView cell = rows->view(r, c);
      JournalError::Facts facts{.table = table,
                                .column = kept.columns[std::size_t(c)],
                                .row = r + 1,
                                .problem = KeptValueProblem::NotText};
      if (cell.kind != db::ValueKind::Text)
        throw JournalError(JournalError::Reason::ValueNotKept, facts);
      try {
        row.push_back(sql::typedKeptValue(cell.bytes, route.utf16));
      } catch (const sql::KeptValueError& e) {
        facts.detail = e.value();
        facts.problem = e.problem();
        throw JournalError(JournalError::Reason::ValueNotKept, std::move(facts));
      }
    }
    kept.rows.push_back(std::move(row));
  }
  return kept;
}

void TdmDupsweep::StartTransaction() { connection().begin(); }
void TdmDupsweep::Commit() { connection().commit(); }
void TdmDupsweep::Rollback() { connection().rollback(); }

}  // namespace dupsweep
