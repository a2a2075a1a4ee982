// Writing a generated database with libsqlite3: one transaction, prepared statements, no
// journal while building, indexes after the data.

#include "demodb.h"
#include "host_schema.h"

#include <sqlite3.h>
#include <unistd.h>

#include <charconv>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include "demo_content.h"
#include "platform/errors.h"
#include "template_workbook.h"

namespace fs = std::filesystem;

namespace dupsweep::demodb {
namespace {

using detail::ColumnKind;
using detail::Content;
using detail::DataRow;
using detail::PeriodDef;
using detail::SampleLayout;
using detail::Value;

class Statement;

class Database {
 public:
  explicit Database(const fs::path& file) {
    const int rc =
        sqlite3_open_v2(file.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close(db_);
      throw DatabaseError("cannot create the database " + file.string() + ": " + message);
    }
  }
  ~Database() { sqlite3_close(db_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string message = error ? error : sqlite3_errmsg(db_);
      sqlite3_free(error);
      throw DatabaseError("cannot write the database: " + message);
    }
  }
  void close() {
    if (sqlite3_close(db_) != SQLITE_OK)
      throw DatabaseError(std::string("cannot close the database: ") + sqlite3_errmsg(db_));
    db_ = nullptr;
  }
  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  Statement(Database& db, const std::string& sql) : db_(db.handle()) {
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
        SQLITE_OK)
      throw DatabaseError("cannot prepare \"" + sql + "\": " + sqlite3_errmsg(db_));
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Binds are 1-based. Texts must outlive the next run().
  void text(int i, const std::string& v) {
    check(sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC));
  }
  void optionalText(int i, const std::optional<std::string>& v) {
    if (v)
      text(i, *v);
    else
      null(i);
  }
  void integer(int i, std::int64_t v) { check(sqlite3_bind_int64(stmt_, i, v)); }
  void real(int i, double v) { check(sqlite3_bind_double(stmt_, i, v)); }
  void null(int i) { check(sqlite3_bind_null(stmt_, i)); }
  void blob(int i, const std::string& bytes) {
    check(sqlite3_bind_blob64(stmt_, i, bytes.data(), bytes.size(), SQLITE_STATIC));
  }
  void value(int i, const Value& v) {
    if (const auto* n = std::get_if<std::int64_t>(&v))
      integer(i, *n);
    else if (const auto* d = std::get_if<double>(&v))
      real(i, *d);
    else if (const auto* s = std::get_if<std::string>(&v))
      text(i, *s);
    else
      null(i);
  }
  // Runs the statement once and makes it ready for the next set of values.
  void run() {
    if (sqlite3_step(stmt_) != SQLITE_DONE)
      throw DatabaseError(std::string("cannot write the database: ") + sqlite3_errmsg(db_));
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

 private:
  void check(int rc) {
    if (rc != SQLITE_OK)
      throw DatabaseError(std::string("cannot bind a value: ") + sqlite3_errmsg(db_));
  }
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

std::string quoted(const std::string& name) {
  return "\"" + name + "\"";
}

std::string columnType(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Amount:
      return "DECIMAL(18,2)";
    case ColumnKind::Count:
      return "INTEGER";
    case ColumnKind::Ratio:
      return "DECIMAL(9,2)";
    case ColumnKind::Text:
      return "VARCHAR(200)";
  }
  return "VARCHAR(200)";
}

// Figure column number n (1 = spreadsheet column A) is named sFn for text, nFn for numbers.
std::string dataTableColumns(const SampleLayout& sample) {
  std::string sql =
      "sPeriodID VARCHAR(20) NOT NULL, sUnitCode VARCHAR(40) NOT NULL, nRow INTEGER NOT NULL, "
      "sTaskCode VARCHAR(20), nLevel INTEGER";
  for (int n = 1; n <= detail::kLabelColumns; ++n)
    sql += ", sF" + std::to_string(n) + " VARCHAR(100)";
  for (size_t k = 0; k < sample.columns.size(); ++k) {
    const int n = detail::kLabelColumns + 1 + static_cast<int>(k);
    const ColumnKind kind = sample.columns[k].kind;
    sql += std::string(", ") + (kind == ColumnKind::Text ? "sF" : "nF") + std::to_string(n) + " " +
           columnType(kind);
  }
  return sql;
}

std::string insertInto(const std::string& table, size_t columns) {
  std::string sql = "INSERT INTO " + quoted(table) + " VALUES (";
  for (size_t i = 1; i <= columns; ++i) sql += (i > 1 ? ",?" : "?");
  return sql + ")";
}

void createHostTables(Database& db) {
  db.exec(kHostSchema);
  db.exec(kHostKeys);
}

void writeUnits(Database& db, const Content& c) {
  Statement unit(db, "INSERT INTO Unit VALUES (?,?)");
  for (const detail::UnitDef& u : c.units) {
    unit.integer(1, u.id);
    unit.text(2, u.name);
    unit.run();
  }
  Statement cls(db, "INSERT INTO UnitClsAndUnit VALUES (?,?,?,?,?)");
  for (const detail::ClassRow& r : c.classRows) {
    cls.text(1, r.cls);
    cls.integer(2, r.unitId);
    cls.integer(3, r.level);
    cls.optionalText(4, r.parent);
    cls.text(5, r.code);
    cls.run();
  }
}

// Periods, their sample tables and template workbooks; returns the number of templates.
int writePeriods(Database& db, const Content& c) {
  Statement period(db, "INSERT INTO Period VALUES (?,?,?)");
  Statement table(db, "INSERT INTO PeriodTable VALUES (?,?,?,?,?,?,?)");
  Statement vts(db, "INSERT INTO SampleTableVts VALUES (?,?,?,?,?,?)");
  int templates = 0;
  for (const PeriodDef& p : c.periods) {
    period.text(1, p.id);
    period.optionalText(2, p.name);
    period.integer(3, p.type);
    period.run();
    std::vector<const SampleLayout*> sheets;
    for (size_t j = 0; j < p.samples.size(); ++j) {
      const SampleLayout& s = c.samples[static_cast<size_t>(p.samples[j])];
      sheets.push_back(&s);
      table.text(1, p.id);
      table.text(2, c.taskCode);
      table.integer(3, c.sampleLevel);
      table.text(4, s.code);
      table.text(5, s.name);
      table.integer(6, static_cast<std::int64_t>(j) + 1);
      table.integer(7, j == 0 ? 1 : 0);
      table.run();
    }
    if (!p.useTarget) continue;
    const std::string workbook = detail::templateWorkbook(sheets, p.name);
    vts.text(1, p.id);
    vts.text(2, c.taskCode);
    vts.integer(3, c.sampleLevel);
    vts.integer(4, 1);
    vts.integer(5, *p.useTarget);
    vts.blob(6, workbook);
    vts.run();
    ++templates;
    if (p.extraTemplateRow) {
      vts.text(1, p.id);
      vts.text(2, c.taskCode);
      vts.integer(3, c.sampleLevel);
      vts.integer(4, 0);
      vts.integer(5, *p.useTarget == 1 ? 0 : 1);
      vts.null(6);
      vts.run();
    }
  }
  return templates;
}

struct TableSet {
  std::vector<std::string> names;  // DataNum and DataBalance tables, in creation order
};

TableSet createDataTables(Database& db, const Content& c) {
  TableSet set;
  std::set<std::string> seen;
  for (const PeriodDef& p : c.periods)
    for (int i : p.samples) {
      const SampleLayout& s = c.samples[static_cast<size_t>(i)];
      if (!s.hasDataTable) continue;
      for (const char* stem : {"DataNum", "DataBalance"}) {
        const std::string name = detail::dataTableName(c, p, s, stem);
        if (!seen.insert(name).second) continue;
        db.exec("CREATE TABLE " + quoted(name) + " (" + dataTableColumns(s) + ")");
        set.names.push_back(name);
      }
    }
  return set;
}

// Rows of every data unit on every sheet of the periods with data; returns the row count.
std::int64_t writeData(Database& db, const Content& c, std::uint32_t seed) {
  std::map<std::string, int> ordinals;
  for (size_t i = 0; i < c.dataUnits.size(); ++i) ordinals[c.dataUnits[i]] = static_cast<int>(i);
  // A unit's balance table holds the first rows of its figures table.
  constexpr size_t kBalanceRows = 2;
  std::int64_t count = 0;
  Statement status(db, "INSERT INTO Status VALUES (?,?,?,?)");
  for (size_t pi = 0; pi < c.periods.size(); ++pi) {
    const PeriodDef& p = c.periods[pi];
    if (!p.hasData) continue;
    for (int si : p.samples) {
      const SampleLayout& s = c.samples[static_cast<size_t>(si)];
      if (!s.hasDataTable) continue;
      const size_t width = detail::kKeyColumns + detail::kLabelColumns + s.columns.size();
      Statement num(db, insertInto(detail::dataTableName(c, p, s, "DataNum"), width));
      Statement balance(db, insertInto(detail::dataTableName(c, p, s, "DataBalance"), width));
      for (const std::string& unit : c.dataUnits) {
        const std::vector<DataRow> rows =
            detail::unitRows(c, seed, static_cast<int>(pi), si, unit, ordinals);
        for (size_t r = 0; r < rows.size(); ++r) {
          for (Statement* target : {&num, &balance}) {
            if (target == &balance && r >= kBalanceRows) continue;
            target->text(1, p.id);
            target->text(2, unit);
            target->integer(3, rows[r].nRow);
            target->text(4, c.taskCode);
            target->integer(5, c.sampleLevel);
            // The label columns (A, B) stay NULL so that the template's labels remain.
            for (size_t k = 0; k < rows[r].values.size(); ++k)
              target->value(static_cast<int>(detail::kKeyColumns + detail::kLabelColumns + k + 1),
                            rows[r].values[k]);
            target->run();
            ++count;
          }
        }
      }
    }
    for (const std::string& unit : c.dataUnits) {
      status.text(1, p.id);
      status.text(2, unit);
      status.text(3, c.taskCode);
      status.integer(4, c.sampleLevel);
      status.run();
    }
  }
  return count;
}

void createIndexes(Database& db, const TableSet& tables) {
  for (const std::string& name : tables.names)
    db.exec("CREATE INDEX " + quoted("IX_" + name) + " ON " + quoted(name) +
            " (sPeriodID, sUnitCode, nRow)");
}

// Removes the file it names when destroyed, unless released.
class RemoveOnFailure {
 public:
  explicit RemoveOnFailure(fs::path path) : path_(std::move(path)) {}
  ~RemoveOnFailure() {
    if (path_.empty()) return;
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  RemoveOnFailure(const RemoveOnFailure&) = delete;
  RemoveOnFailure& operator=(const RemoveOnFailure&) = delete;
  void release() { path_.clear(); }

 private:
  fs::path path_;
};

Content contentOf(const DemoOptions& options) {
  return options.scale ? detail::scaledContent(*options.scale) : detail::demoContent();
}

std::string periodLine(const Content& c, const PeriodDef& p) {
  std::ostringstream out;
  out << p.id << " " << (p.name ? "\"" + *p.name + "\"" : std::string("NULL")) << ", type "
      << p.type << ", " << p.samples.size() << " sample table(s) ";
  out << c.samples[static_cast<size_t>(p.samples.front())].code;
  if (p.samples.size() > 1) out << ".." << c.samples[static_cast<size_t>(p.samples.back())].code;
  if (!p.useTarget)
    out << ", no template";
  else if (*p.useTarget == 1)
    out << ", bUseTarget 1 (tables *_" << p.id.substr(0, 4) << ")";
  if (p.type == -1 || p.type == -2) out << ", never listed";
  out << (p.planted ? ", planted data" : p.hasData ? ", random data" : ", no data");
  return out.str();
}

const char* kindName(CaseKind kind) {
  switch (kind) {
    case CaseKind::WholeDuplicate:
      return "whole duplicate";
    case CaseKind::SomeSheets:
      return "some sheets";
    case CaseKind::OneCell:
      return "one cell";
    case CaseKind::LetterCase:
      return "letter case";
    case CaseKind::TrailingBlank:
      return "trailing blank";
    case CaseKind::NullVersusZero:
      return "NULL versus 0";
    case CaseKind::FewerRows:
      return "fewer rows";
    case CaseKind::ShiftedRow:
      return "shifted row";
    case CaseKind::SameName:
      return "same name";
    case CaseKind::NoData:
      return "no data";
    case CaseKind::CarriedForward:
      return "carried forward";
    case CaseKind::CopiedEarlier:
      return "copied from an earlier report";
    case CaseKind::Rescaled:
      return "rescaled copy";
  }
  return "?";
}

std::string sheetList(const std::vector<std::string>& sheets) {
  if (sheets.empty()) return "none";
  std::string out;
  for (const std::string& s : sheets) out += (out.empty() ? "" : " ") + s;
  return out;
}

int parseNumber(const std::string& option, const std::string& text, std::int64_t low,
                std::int64_t high) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high)
    throw Error(option + ": \"" + text + "\" is not a whole number from " + std::to_string(low) +
                " to " + std::to_string(high));
  return static_cast<int>(value);
}

}  // namespace

DemoOptions parseArguments(const std::vector<std::string>& args) {
  DemoOptions options;
  bool scaled = false;
  ScaleOptions scale;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string option = args[i];
    std::optional<std::string> inlineValue;
    if (const size_t eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = option.substr(eq + 1);
      option.erase(eq);
    }
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) throw Error("option " + option + " needs a value");
      return args[++i];
    };
    auto flag = [&] {
      if (inlineValue) throw Error("option " + option + " takes no value");
    };
    if (option == "--out") {
      options.out = value();
      if (options.out.empty()) throw Error("--out: the file name is empty");
    } else if (option == "--seed") {
      options.seed = static_cast<std::uint32_t>(
          parseNumber(option, value(), 0, std::numeric_limits<std::int32_t>::max()));
    } else if (option == "--force") {
      flag();
      options.force = true;
    } else if (option == "--describe") {
      flag();
      options.describe = true;
    } else if (option == "--help" || option == "-h") {
      flag();
      options.help = true;
    } else if (option == "--units" || option == "--sheets" || option == "--rows" ||
               option == "--cols") {
      // Limits: worksheet and table counts stay reasonable, a sheet's rows fit a spreadsheet
      // and a data table's columns stay within SQLite's column limit.
      if (option == "--units") scale.units = parseNumber(option, value(), 1, 1'000'000);
      if (option == "--sheets") scale.sheets = parseNumber(option, value(), 1, 999);
      if (option == "--rows") scale.rows = parseNumber(option, value(), 1, 1'000'000);
      if (option == "--cols") scale.cols = parseNumber(option, value(), 1, 1000);
      scaled = true;
    } else {
      throw Error("unknown option " + args[i] + " (see --help)");
    }
  }
  if (scaled) options.scale = scale;
  if (options.out.empty() && !options.help && !options.describe)
    throw Error("--out FILE is required (see --help)");
  return options;
}

std::string usageText() {
  return "usage: dupsweep-demodb --out FILE [--force] [--seed N] [--describe]\n"
         "       dupsweep-demodb --out FILE --units N --sheets N --rows N --cols N [--seed N]\n"
         "Writes a SQLite database in the host reporting system's layout.\n"
         "  --out FILE    the database to write; an existing file is refused without --force\n"
         "  --force       replace an existing file\n"
         "  --seed N      seed of the figures, 0 to 2147483647 (default " +
         std::to_string(kDefaultSeed) +
         ")\n"
         "  --describe    print the planted cases\n"
         "  --units, --sheets, --rows, --cols N\n"
         "                write a scaled database instead of the demo: N units, N sample\n"
         "                tables, N rows per sheet, N value columns (C onwards); those not\n"
         "                given default to 100 units, 10 sheets, 50 rows, 10 columns\n";
}

DemoPlan planDemo(const DemoOptions& options) {
  const Content c = contentOf(options);
  DemoPlan plan = detail::planOf(c);
  for (const PeriodDef& p : c.periods) plan.periodLines.push_back(periodLine(c, p));
  return plan;
}

std::string describePlan(const DemoPlan& plan) {
  std::ostringstream out;
  out << "unit classification " << plan.unitClsCode << ", task " << plan.taskCode
      << ", sample level " << plan.sampleLevel << "\n";
  for (const std::string& line : plan.periodLines) out << "period " << line << "\n";
  out << "planted periods: " << sheetList(plan.plantedPeriods) << "; sheets "
      << sheetList(plan.sampleCodes) << "\n";
  for (const PlantedCase& pc : plan.cases) {
    out << kindName(pc.kind) << ": " << pc.unitA << " " << pc.nameA;
    if (!pc.unitB.empty()) {
      out << " / " << pc.unitB << " " << pc.nameB << "; same on " << sheetList(pc.sameSheets)
          << "; different on " << sheetList(pc.differentSheets);
    }
    out << "; " << pc.detail << "\n";
  }
  for (const PlantedFinding& f : plan.findings)
    out << kindName(f.kind) << ": " << f.unitA << " " << f.nameA << " / " << f.unitB << " "
        << f.nameB << "; on " << sheetList(f.sheets) << "; " << f.detail << "\n";
  return out.str();
}

WriteSummary writeDemoDatabase(const DemoOptions& options) {
  if (options.out.empty()) throw FileError("no database file was named");
  const fs::path out = options.out;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(out, ec);
  if (fs::exists(status)) {
    if (!options.force)
      throw FileError(out.string() + " already exists (use --force to replace it)");
    if (!fs::is_regular_file(status))
      throw FileError(out.string() + " exists and is not a regular file");
  }
  const fs::path dir = out.has_parent_path() ? out.parent_path() : fs::path(".");
  if (!fs::is_directory(dir, ec))
    throw FileError("the directory " + dir.string() + " does not exist");

  const Content content = contentOf(options);
  const fs::path temp =
      dir / ("." + out.filename().string() + ".tmp-" + std::to_string(::getpid()));
  fs::remove(temp, ec);
  RemoveOnFailure guard(temp);

  WriteSummary summary;
  {
    Database db(temp);
    db.exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-65536;");
    db.exec("BEGIN");
    createHostTables(db);
    writeUnits(db, content);
    summary.templates = writePeriods(db, content);
    const TableSet tables = createDataTables(db, content);
    summary.dataRows = writeData(db, content, options.seed);
    createIndexes(db, tables);
    db.exec("COMMIT");
    db.close();
    summary.units = static_cast<int>(content.units.size());
    summary.periods = static_cast<int>(content.periods.size());
    summary.dataTables = static_cast<int>(tables.names.size());
  }
  fs::rename(temp, out, ec);
  if (ec)
    throw FileError("cannot move the database into place as " + out.string() + ": " + ec.message());
  guard.release();
  return summary;
}

std::string summaryLine(const fs::path& out, const WriteSummary& s) {
  return "wrote " + out.string() + ": " + std::to_string(s.units) + " units, " +
         std::to_string(s.periods) + " periods, " + std::to_string(s.templates) + " templates, " +
         std::to_string(s.dataTables) + " data tables, " + std::to_string(s.dataRows) +
         " data rows";
}

}  // namespace dupsweep::demodb
