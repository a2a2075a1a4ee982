// The generated databases checked with plain SQLite queries: the host's schema as the
// component's statements use it, the planted cases of repeated data, the template workbooks,
// determinism, scaled databases, and the program's handling of its arguments and files.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <ixion/address.hpp>
#include <ixion/model_context.hpp>
#include <map>
#include <orcus/orcus_xlsx.hpp>
#include <orcus/spreadsheet/document.hpp>
#include <orcus/spreadsheet/factory.hpp>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "demodb.h"
#include "platform/errors.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace dupsweep::demodb;

namespace {

using dupsweep::testing::TempDir;

using Cell = std::variant<std::monostate, std::int64_t, double, std::string>;
using Row = std::vector<Cell>;

class Db {
 public:
  explicit Db(const fs::path& file) {
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + file.string());
  }
  ~Db() { sqlite3_close(db_); }

  // Runs `sql` with the text parameters `args` and returns every row.
  std::vector<Row> rows(const std::string& sql, const std::vector<std::string>& args = {}) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    for (size_t i = 0; i < args.size(); ++i)
      sqlite3_bind_text(stmt, static_cast<int>(i) + 1, args[i].c_str(), -1, SQLITE_TRANSIENT);
    std::vector<Row> out;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      Row row;
      for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
        switch (sqlite3_column_type(stmt, c)) {
          case SQLITE_INTEGER:
            row.emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(stmt, c)));
            break;
          case SQLITE_FLOAT:
            row.emplace_back(sqlite3_column_double(stmt, c));
            break;
          case SQLITE_NULL:
            row.emplace_back(std::monostate{});
            break;
          default:
            row.emplace_back(std::string(static_cast<const char*>(sqlite3_column_blob(stmt, c)),
                                         static_cast<size_t>(sqlite3_column_bytes(stmt, c))));
        }
      }
      out.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    return out;
  }
  std::int64_t count(const std::string& sql, const std::vector<std::string>& args = {}) {
    return std::get<std::int64_t>(rows(sql, args).at(0).at(0));
  }
  std::vector<std::string> strings(const std::string& sql,
                                   const std::vector<std::string>& args = {}) {
    std::vector<std::string> out;
    for (const Row& r : rows(sql, args))
      out.push_back(std::holds_alternative<std::string>(r[0]) ? std::get<std::string>(r[0]) : "");
    return out;
  }
  bool exists(const std::string& table) {
    return count("SELECT count(*) FROM sqlite_master WHERE type='table' AND name=?", {table}) == 1;
  }
  std::vector<std::string> tables(const std::string& prefix) {
    return strings(
        "SELECT name FROM sqlite_master WHERE type='table' AND name LIKE ? || '%' "
        "ORDER BY name",
        {prefix});
  }

 private:
  sqlite3* db_ = nullptr;
};

// A unit's rows of one data table in nRow order.
std::vector<Row> unitRows(Db& db, const std::string& table, const std::string& period,
                          const std::string& unit) {
  return db.rows("SELECT * FROM \"" + table + "\" WHERE sPeriodID=? AND sUnitCode=? ORDER BY nRow",
                 {period, unit});
}

// What the equality test of the viewer sees: the row count, and every figure column (index 5
// on) of every row, paired by position; numbers compare by value, texts byte for byte.
std::string signature(const std::vector<Row>& rows) {
  std::string s = std::to_string(rows.size()) + ";";
  for (const Row& r : rows) {
    for (size_t k = 5; k < r.size(); ++k) {
      if (const auto* i = std::get_if<std::int64_t>(&r[k]))
        s += "N" + std::to_string(static_cast<double>(*i));
      else if (const auto* d = std::get_if<double>(&r[k]))
        s += "N" + std::to_string(*d);
      else if (const auto* t = std::get_if<std::string>(&r[k]))
        s += "T" + std::to_string(t->size()) + ":" + *t;
      else
        s += "Z";
      s += "|";
    }
    s += "\n";
  }
  return s;
}

std::string numTable(const std::string& sample, const std::string& period) {
  return "DataNumT01_" + sample + "_1" + (period == "2024N" ? "_2024" : "");
}

std::vector<std::string> dataUnits(Db& db) {
  return db.strings(
      "SELECT DISTINCT sUnitCode FROM UnitClsAndUnit WHERE sUnitCode <> '030404' ORDER BY 1");
}

Cell cellOf(Db& db, const std::string& table, const std::string& period, const std::string& unit,
            int nRow, const std::string& column) {
  return db
      .rows("SELECT " + column + " FROM \"" + table +
                "\" WHERE sPeriodID=? AND sUnitCode=? AND nRow=" + std::to_string(nRow),
            {period, unit})
      .at(0)
      .at(0);
}

// Every planted pair is identical exactly on its planned sheets, and no other two units are
// identical on any sheet of any period with data.
void expectPlantedCases(const fs::path& file, const DemoPlan& plan) {
  Db db(file);
  std::map<std::pair<std::string, std::string>, std::set<std::string>> plannedSame;
  for (const PlantedCase& pc : plan.cases)
    for (const std::string& sheet : pc.sameSheets) plannedSame[{pc.unitA, pc.unitB}].insert(sheet);

  for (const std::string period : {"2023N", "2024N", "2024Q"}) {
    const bool planted = period != std::string("2024Q");
    const std::vector<std::string> sheets =
        planted ? plan.sampleCodes : std::vector<std::string>{"B01", "B02", "B03"};
    for (const std::string& sheet : sheets) {
      std::map<std::string, std::vector<std::string>> bySignature;
      for (const std::string& unit : dataUnits(db)) {
        const auto rows = unitRows(db, numTable(sheet, period), period, unit);
        ASSERT_FALSE(rows.empty()) << unit << " has no rows on " << sheet << " in " << period;
        bySignature[signature(rows)].push_back(unit);
      }
      for (const auto& [sig, units] : bySignature) {
        if (units.size() < 2) continue;
        ASSERT_EQ(units.size(), 2u) << sheet << " " << period;
        const bool expected = planted && (plannedSame[{units[0], units[1]}].count(sheet) ||
                                          plannedSame[{units[1], units[0]}].count(sheet));
        EXPECT_TRUE(expected) << units[0] << " and " << units[1] << " are identical on " << sheet
                              << " in " << period << " without being planted";
      }
    }
    if (!planted) continue;
    for (const PlantedCase& pc : plan.cases) {
      if (pc.unitB.empty()) continue;
      for (const std::string& sheet : pc.sameSheets)
        EXPECT_EQ(signature(unitRows(db, numTable(sheet, period), period, pc.unitA)),
                  signature(unitRows(db, numTable(sheet, period), period, pc.unitB)))
            << pc.unitA << "/" << pc.unitB << " on " << sheet << " in " << period;
      for (const std::string& sheet : pc.differentSheets)
        EXPECT_NE(signature(unitRows(db, numTable(sheet, period), period, pc.unitA)),
                  signature(unitRows(db, numTable(sheet, period), period, pc.unitB)))
            << pc.unitA << "/" << pc.unitB << " on " << sheet << " in " << period;
    }
  }
}

// Every row of every table, blobs included, in a stable order.
std::string dump(const fs::path& file) {
  Db db(file);
  std::string out;
  for (const std::string& table :
       db.strings("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")) {
    out += "#" + table + "\n";
    for (const Row& r : db.rows("SELECT * FROM \"" + table + "\" ORDER BY rowid")) {
      for (const Cell& c : r) {
        std::visit(
            [&](const auto& v) {
              using T = std::decay_t<decltype(v)>;
              if constexpr (std::is_same_v<T, std::monostate>)
                out += "NULL";
              else if constexpr (std::is_same_v<T, std::string>)
                out += v;
              else
                out += std::to_string(v);
            },
            c);
        out += "|";
      }
      out += "\n";
    }
  }
  return out;
}

struct Workbook {
  std::vector<std::string> sheetNames;
  std::vector<std::string> a1, a3, a4;
  std::vector<double> b4;
};

Workbook readWorkbook(const std::string& bytes) {
  orcus::spreadsheet::document doc{{1048576, 16384}};
  orcus::spreadsheet::import_factory factory(doc);
  orcus::orcus_xlsx loader(&factory);
  loader.read_stream(bytes);
  Workbook wb;
  const ixion::model_context& cxt = doc.get_model_context();
  for (size_t i = 0; i < doc.get_sheet_count(); ++i) {
    const auto sheet = static_cast<ixion::sheet_t>(i);
    wb.sheetNames.emplace_back(doc.get_sheet_name(sheet));
    auto text = [&](ixion::row_t row, ixion::col_t col) {
      const ixion::abs_address_t at(sheet, row, col);
      return cxt.get_celltype(at) == ixion::celltype_t::string
                 ? std::string(cxt.get_string_value(at))
                 : std::string();
    };
    wb.a1.push_back(text(0, 0));
    wb.a3.push_back(text(2, 0));
    wb.a4.push_back(text(3, 0));
    wb.b4.push_back(cxt.get_numeric_value(ixion::abs_address_t(sheet, 3, 1)));
  }
  return wb;
}

DemoOptions optionsFor(const fs::path& out) {
  DemoOptions options;
  options.out = out;
  return options;
}

// The default demo database, written once per test process.
class DemoDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    file_ = dir_->path() / "demo.db";
    writeDemoDatabase(optionsFor(file_));
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static inline TempDir* dir_ = nullptr;
  static inline fs::path file_;
};

TEST_F(DemoDb, PeriodStatementListsOrdinaryPeriodsByKindAndSkipsTypesMinusOneAndTwo) {
  Db db(file_);
  // nPeriodType, nSheetOrder and bIsBaseSample are unqualified in the period statement, so
  // each must exist in exactly one of Period and PeriodTable.
  const auto columns = [&](const std::string& table) {
    std::set<std::string> names;
    for (const Row& r : db.rows("PRAGMA table_info(" + table + ")"))
      names.insert(std::get<std::string>(r[1]));
    return names;
  };
  const auto period = columns("Period");
  const auto periodTable = columns("PeriodTable");
  for (const char* name : {"nPeriodType", "nSheetOrder", "bIsBaseSample"})
    EXPECT_EQ(period.count(name) + periodTable.count(name), 1u) << name;

  EXPECT_EQ(db.count("SELECT count(*) FROM Period WHERE nPeriodType=-1"), 1);
  EXPECT_EQ(db.count("SELECT count(*) FROM Period WHERE nPeriodType=-2"), 1);
  EXPECT_EQ(db.count("SELECT count(*) FROM Period WHERE sPeriodName IS NULL"), 1);

  const auto listed = db.rows(
      "SELECT pd.sPeriodId, CASE WHEN nPeriodType=-1 THEN '模板样表' ELSE (sPeriodName || '(' || "
      "(CASE substr(pd.sPeriodId,-1,1) WHEN 'N' THEN '年报' WHEN 'Q' THEN '季报' WHEN 'M' THEN "
      "'月报' WHEN 'X' THEN '旬报' WHEN 'W' THEN '周报' ELSE '日报' END) || ')') END AS "
      "sPeriodName "
      "FROM Period pd, PeriodTable p WHERE pd.sPeriodID=p.sPeriodID AND p.sTaskCode='T01' "
      "AND nPeriodType<>-1 AND nPeriodType<>-2 AND nSheetOrder=1 AND p.nSampleLevel= 1 "
      "AND bIsBaseSample=1 ORDER BY sPeriodName");
  std::map<std::string, Cell> byId;
  for (const Row& r : listed) byId[std::get<std::string>(r[0])] = r[1];
  EXPECT_EQ(listed.size(), byId.size()) << "a period is listed twice";
  const std::map<std::string, std::string> expected = {
      {"2023N", "2023年(年报)"},         {"2024N", "2024年(年报)"},
      {"2024Q", "2024年第一季度(季报)"}, {"202403M", "2024年3月(月报)"},
      {"202402M", "2024年2月(月报)"},    {"2024031X", "2024年3月上旬(旬报)"},
      {"202410W", "2024年第10周(周报)"}, {"20240301", "2024年3月1日(日报)"}};
  for (const auto& [id, name] : expected) {
    ASSERT_TRUE(byId.count(id)) << id;
    EXPECT_EQ(std::get<std::string>(byId[id]), name);
  }
  ASSERT_TRUE(byId.count("2022N"));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(byId["2022N"]));
  EXPECT_FALSE(byId.count("0000N"));
  EXPECT_FALSE(byId.count("9999N"));
  EXPECT_EQ(byId.size(), expected.size() + 1);
}

TEST_F(DemoDb, SampleListingSkipsCaretSamplesAndNamesExistingDataTables) {
  Db db(file_);
  for (const std::string& period : db.strings("SELECT sPeriodID FROM Period")) {
    EXPECT_EQ(db.count("SELECT count(*) FROM PeriodTable WHERE sPeriodID=? AND nSheetOrder=1 "
                       "AND bIsBaseSample=1",
                       {period}),
              1)
        << period;
    EXPECT_LE(db.count("SELECT count(*) FROM SampleTableVts WHERE sPeriodID=? AND "
                       "bIsBaseSample=1",
                       {period}),
              1)
        << period;
    const auto samples = db.rows(
        "Select *, (Select bUseTarget from SampleTableVts where sPeriodID = ?1 And sTaskCode = "
        "'T01' And nSampleLevel = 1 and bIsBaseSample = 1) as bUseTarget from PeriodTable "
        "Where sPeriodID = ?1 And sTaskCode = 'T01' And nSampleLevel = 1 And "
        "SubString(sSampleCode,1,1)<>'^'",
        {period});
    ASSERT_FALSE(samples.empty()) << period;
    for (const Row& s : samples) {
      const std::string code = std::get<std::string>(s[3]);
      EXPECT_NE(code[0], '^');
      const bool useTarget = s.back() == Cell(std::int64_t{1});
      EXPECT_EQ(useTarget, period == "2024N") << period;
      if (period == "202402M") {
        EXPECT_TRUE(std::holds_alternative<std::monostate>(s.back()));
      }
      const std::string suffix =
          "T01_" + code + "_1" + (useTarget ? "_" + period.substr(0, 4) : "");
      EXPECT_TRUE(db.exists("DataNum" + suffix)) << suffix;
      EXPECT_TRUE(db.exists("DataBalance" + suffix)) << suffix;
    }
  }
  EXPECT_EQ(db.count("SELECT count(*) FROM PeriodTable WHERE sSampleCode='^B09' AND "
                     "sPeriodID='2023N' AND nSheetOrder=9"),
            1);
  EXPECT_EQ(db.count("SELECT count(*) FROM sqlite_master WHERE instr(name, '^') > 0"), 0);
  EXPECT_TRUE(db.exists("DataNumT01_B01_1_2024"));
  EXPECT_FALSE(db.exists("DataNumT01_B01_1_2023"));
}

TEST_F(DemoDb, DataTablesHaveKeyColumnsIndexAndEmptyLabelColumns) {
  Db db(file_);
  std::vector<std::string> tables = db.tables("DataNum");
  const auto balance = db.tables("DataBalance");
  EXPECT_EQ(tables.size(), 16u);
  EXPECT_EQ(balance.size(), 16u);
  tables.insert(tables.end(), balance.begin(), balance.end());
  for (const std::string& table : tables) {
    const auto info = db.rows("PRAGMA table_info(\"" + table + "\")");
    ASSERT_GE(info.size(), 8u) << table;
    EXPECT_EQ(std::get<std::string>(info[0][1]), "sPeriodID");
    EXPECT_EQ(std::get<std::string>(info[1][1]), "sUnitCode");
    EXPECT_EQ(std::get<std::string>(info[2][1]), "nRow");
    bool indexed = false;
    for (const Row& index : db.rows("PRAGMA index_list(\"" + table + "\")")) {
      std::vector<std::string> cols;
      for (const Row& c : db.rows("PRAGMA index_info(\"" + std::get<std::string>(index[1]) + "\")"))
        cols.push_back(std::get<std::string>(c[2]));
      indexed |= cols == std::vector<std::string>{"sPeriodID", "sUnitCode", "nRow"};
    }
    EXPECT_TRUE(indexed) << table;
    EXPECT_EQ(db.count("SELECT count(*) FROM \"" + table +
                       "\" WHERE sF1 IS NOT NULL OR sF2 IS NOT NULL OR nRow < 4"),
              0)
        << table;
  }
  // Declared types and values: decimal numbers and some text columns.
  EXPECT_EQ(db.rows("PRAGMA table_info(DataNumT01_B01_1)")[7][2],
            Cell(std::string("DECIMAL(18,2)")));
  EXPECT_GT(db.count("SELECT count(*) FROM DataNumT01_B01_1 WHERE typeof(nF3)='real'"), 0);
  EXPECT_GT(db.count("SELECT count(*) FROM DataNumT01_B06_1 WHERE typeof(sF6)='text'"), 0);
}

TEST_F(DemoDb, UnitTreeHasThreeLevelsTwinNamesAndASecondClassification) {
  Db db(file_);
  EXPECT_EQ(db.count("SELECT count(*) FROM UnitClsAndUnit WHERE sUnitClsCode='01' AND nLevel=0 "
                     "AND sParentCode IS NULL"),
            3);
  EXPECT_EQ(db.count("SELECT count(*) FROM UnitClsAndUnit WHERE sUnitClsCode='01' AND nLevel=1"),
            12);
  EXPECT_EQ(db.count("SELECT count(*) FROM UnitClsAndUnit WHERE sUnitClsCode='01' AND nLevel=2"),
            48);
  // Every unit below the top hangs under a unit one level up in the same classification.
  EXPECT_EQ(db.count("SELECT count(*) FROM UnitClsAndUnit c WHERE nLevel > 0 AND NOT EXISTS "
                     "(SELECT 1 FROM UnitClsAndUnit p WHERE p.sUnitClsCode=c.sUnitClsCode AND "
                     "p.sUnitCode=c.sParentCode AND p.nLevel=c.nLevel-1)"),
            0);
  EXPECT_EQ(db.count("SELECT count(*) FROM UnitClsAndUnit c LEFT JOIN Unit u USING (nUnitID) "
                     "WHERE u.sUnitName IS NULL"),
            0);
  const auto twins = db.rows(
      "SELECT u.sUnitName, c.sUnitCode, c.sParentCode FROM UnitClsAndUnit c JOIN Unit u USING "
      "(nUnitID) WHERE c.sUnitClsCode='01' AND u.sUnitName IN (SELECT u2.sUnitName FROM Unit u2 "
      "GROUP BY u2.sUnitName HAVING count(*) > 1) ORDER BY c.sUnitCode");
  ASSERT_EQ(twins.size(), 2u);
  EXPECT_EQ(twins[0][0], Cell(std::string("开发区营业部")));
  EXPECT_EQ(twins[0][1], Cell(std::string("010304")));
  EXPECT_EQ(twins[1][1], Cell(std::string("030104")));
  EXPECT_NE(twins[0][2], twins[1][2]);
  EXPECT_GE(db.count("SELECT count(*) FROM UnitClsAndUnit WHERE sUnitClsCode='02'"), 5);
}

TEST_F(DemoDb, PlantedCasesAreIdenticalExactlyWherePlanned) {
  const DemoPlan plan = planDemo(optionsFor(file_));
  EXPECT_EQ(plan.unitClsCode, "01");
  EXPECT_EQ(plan.taskCode, "T01");
  EXPECT_EQ(plan.plantedPeriods, (std::vector<std::string>{"2023N", "2024N"}));
  EXPECT_EQ(plan.cases.size(), 11u);
  expectPlantedCases(file_, plan);
}

TEST_F(DemoDb, NearDuplicatesDifferInTheirPlantedCell) {
  Db db(file_);
  for (const std::string p : {"2023N", "2024N"}) {
    const std::string t = numTable("B04", p);
    EXPECT_EQ(cellOf(db, t, p, "020301", 5, "sF7"), Cell(std::string("abc")));
    EXPECT_EQ(cellOf(db, t, p, "020302", 5, "sF7"), Cell(std::string("ABC")));
    const std::string b06 = numTable("B06", p);
    EXPECT_EQ(cellOf(db, b06, p, "030101", 5, "sF6"), Cell(std::string("abc")));
    EXPECT_EQ(cellOf(db, b06, p, "030102", 5, "sF6"), Cell(std::string("abc ")));
    const std::string b07 = numTable("B07", p);
    EXPECT_EQ(cellOf(db, b07, p, "030201", 7, "nF5"), Cell(std::monostate{}));
    EXPECT_EQ(cellOf(db, b07, p, "030202", 7, "nF5"), Cell(std::int64_t{0}));
    const std::string b02 = numTable("B02", p);
    EXPECT_EQ(std::get<double>(cellOf(db, b02, p, "020202", 6, "nF4")) -
                  std::get<double>(cellOf(db, b02, p, "020201", 6, "nF4")),
              100.0);
    const std::string b03 = numTable("B03", p);
    EXPECT_EQ(unitRows(db, b03, p, "010301").size(), unitRows(db, b03, p, "010302").size() + 1);
    // Same figures by position, but the last row sits under another nRow.
    const auto a = unitRows(db, numTable("B08", p), p, "030301");
    const auto b = unitRows(db, numTable("B08", p), p, "030302");
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(a.back()[2], Cell(std::int64_t{8}));
    EXPECT_EQ(b.back()[2], Cell(std::int64_t{7}));
  }
}

TEST_F(DemoDb, StatusAndBalanceRowsExistExceptForTheUnitWithoutData) {
  Db db(file_);
  for (const std::string& table : db.tables("Data"))
    EXPECT_EQ(db.count("SELECT count(*) FROM \"" + table + "\" WHERE sUnitCode='030404'"), 0)
        << table;
  EXPECT_EQ(db.count("SELECT count(*) FROM Status WHERE sUnitCode='030404'"), 0);
  EXPECT_EQ(db.count("SELECT count(*) FROM UnitClsAndUnit WHERE sUnitCode='030404'"), 1);

  const std::int64_t units = static_cast<std::int64_t>(dataUnits(db).size());
  EXPECT_EQ(units, 68);
  for (const std::string p : {"2023N", "2024N", "2024Q"})
    EXPECT_EQ(db.count("SELECT count(*) FROM Status WHERE sPeriodID=? AND sTaskCode='T01' AND "
                       "nLevel=1",
                       {p}),
              units);
  EXPECT_EQ(db.count("SELECT count(*) FROM DataBalanceT01_B05_1_2024 WHERE sPeriodID='2024N'"),
            2 * units);
  EXPECT_EQ(db.count("SELECT count(*) FROM DataBalanceT01_B01_1 WHERE sPeriodID='2024Q'"),
            2 * units);
  // Periods without data leave the shared tables alone.
  EXPECT_EQ(db.count("SELECT count(*) FROM DataNumT01_B01_1 WHERE sPeriodID NOT IN "
                     "('2023N','2024Q')"),
            0);
}

TEST_F(DemoDb, TemplatesAreWorkbooksWithOneNamedSheetPerSample) {
  Db db(file_);
  const auto templates =
      db.rows("SELECT sPeriodID, OleVTS FROM SampleTableVts WHERE bIsBaseSample=1");
  EXPECT_EQ(templates.size(), 10u);
  std::map<std::string, size_t> sheetCounts;
  std::set<std::string> distinct;
  for (const Row& t : templates) {
    const std::string period = std::get<std::string>(t[0]);
    const std::string& bytes = std::get<std::string>(t[1]);
    ASSERT_EQ(bytes.substr(0, 2), "PK") << period;
    distinct.insert(bytes);
    const Workbook wb = readWorkbook(bytes);
    const auto names = db.strings(
        "SELECT sSampleName FROM PeriodTable WHERE sPeriodID=? ORDER BY nSheetOrder", {period});
    EXPECT_EQ(wb.sheetNames, names) << period;
    for (size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(wb.a1[i], names[i]) << period;
      EXPECT_EQ(wb.a3[i], "项目");
      EXPECT_FALSE(wb.a4[i].empty());
      EXPECT_EQ(wb.b4[i], 1.0);
    }
    sheetCounts[period] = wb.sheetNames.size();
  }
  EXPECT_EQ(distinct.size(), templates.size());
  EXPECT_EQ(sheetCounts["2023N"], 9u);
  EXPECT_EQ(sheetCounts["2024Q"], 3u);
  EXPECT_EQ(sheetCounts["202403M"], 2u);
  EXPECT_EQ(sheetCounts["20240301"], 1u);
  EXPECT_FALSE(sheetCounts.count("202402M"));
  EXPECT_EQ(db.count("SELECT count(*) FROM SampleTableVts WHERE bIsBaseSample=0 AND OleVTS IS "
                     "NULL AND sPeriodID IN ('2023N','2024N')"),
            2);
}

TEST(DemoDbWriter, SameSeedGivesSameBytesAndAnotherSeedOtherFiguresSameCases) {
  TempDir dir;
  DemoOptions options = optionsFor(dir.path() / "a.db");
  writeDemoDatabase(options);
  options.out = dir.path() / "b.db";
  writeDemoDatabase(options);
  options.out = dir.path() / "c.db";
  options.seed = 7;
  writeDemoDatabase(options);
  const std::string a = dump(dir.path() / "a.db");
  EXPECT_EQ(a, dump(dir.path() / "b.db"));
  EXPECT_NE(a, dump(dir.path() / "c.db"));
  Db db(dir.path() / "c.db");
  EXPECT_EQ(db.count("SELECT count(*) FROM Unit"), 69);
  expectPlantedCases(options.out, planDemo(options));
}

TEST(DemoDbWriter, RefusesToReplaceAFileWithoutForceAndLeavesNothingElse) {
  TempDir dir;
  const fs::path file = dir.path() / "demo.db";
  { std::ofstream(file) << "keep me"; }
  DemoOptions options = optionsFor(file);
  EXPECT_THROW(writeDemoDatabase(options), dupsweep::FileError);
  std::ifstream in(file);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "keep me");

  options.force = true;
  writeDemoDatabase(options);
  EXPECT_EQ(Db(file).count("SELECT count(*) FROM Period"), 11);
  std::vector<std::string> entries;
  for (const auto& e : fs::directory_iterator(dir.path()))
    entries.push_back(e.path().filename().string());
  EXPECT_EQ(entries, std::vector<std::string>{"demo.db"});

  EXPECT_THROW(writeDemoDatabase(optionsFor(dir.path() / "missing" / "demo.db")),
               dupsweep::FileError);
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
}

TEST(DemoDbWriter, ScaledDatabaseHasOneRowPerUnitSheetAndRow) {
  TempDir dir;
  const auto options = parseArguments({"--out", (dir.path() / "s.db").string(), "--units", "20",
                                       "--sheets", "3", "--rows", "10", "--cols", "5"});
  const WriteSummary summary = writeDemoDatabase(options);
  EXPECT_EQ(summary.units, 20);
  EXPECT_EQ(summary.dataTables, 6);
  EXPECT_EQ(summary.dataRows, 3 * (20 * 10 + 20 * 2));
  Db db(options.out);
  EXPECT_EQ(db.count("SELECT count(*) FROM Unit"), 20);
  EXPECT_EQ(db.count("SELECT count(*) FROM UnitClsAndUnit WHERE sUnitClsCode='01'"), 20);
  EXPECT_EQ(db.count("SELECT count(*) FROM Period"), 1);
  EXPECT_EQ(db.count("SELECT count(*) FROM PeriodTable WHERE nSheetOrder=1 AND bIsBaseSample=1"),
            1);
  EXPECT_EQ(db.count("SELECT count(*) FROM Status"), 20);
  const auto tables = db.tables("DataNum");
  ASSERT_EQ(tables.size(), 3u);
  for (const std::string& t : tables) {
    EXPECT_EQ(db.count("SELECT count(*) FROM \"" + t + "\""), 200) << t;
    EXPECT_EQ(db.count("SELECT count(DISTINCT sUnitCode) FROM \"" + t + "\""), 20) << t;
    EXPECT_EQ(db.rows("PRAGMA table_info(\"" + t + "\")").size(), 5u + 2u + 5u) << t;
    EXPECT_EQ(db.count("SELECT min(nRow) FROM \"" + t + "\""), 4);
    EXPECT_EQ(db.count("SELECT max(nRow) FROM \"" + t + "\""), 13);
  }
  const auto blob = db.rows("SELECT OleVTS FROM SampleTableVts WHERE bIsBaseSample=1");
  ASSERT_EQ(blob.size(), 1u);
  EXPECT_EQ(readWorkbook(std::get<std::string>(blob[0][0])).sheetNames.size(), 3u);

  const DemoPlan plan = planDemo(options);
  ASSERT_EQ(plan.cases.size(), 1u);
  EXPECT_EQ(plan.cases[0].sameSheets.size(), 3u);
  for (const std::string& sheet : plan.cases[0].sameSheets)
    EXPECT_EQ(signature(unitRows(db, "DataNumT01_" + sheet + "_1", "2024N", plan.cases[0].unitA)),
              signature(unitRows(db, "DataNumT01_" + sheet + "_1", "2024N", plan.cases[0].unitB)));
}

TEST(DemoDbArguments, AcceptsTheDocumentedOptionsAndRejectsTheRest) {
  const auto options = parseArguments({"--out=x.db", "--seed", "42", "--force", "--describe"});
  EXPECT_EQ(options.out, "x.db");
  EXPECT_EQ(options.seed, 42u);
  EXPECT_TRUE(options.force);
  EXPECT_TRUE(options.describe);
  EXPECT_FALSE(options.scale);
  const auto scaled = parseArguments({"--out", "y.db", "--units", "7"});
  ASSERT_TRUE(scaled.scale);
  EXPECT_EQ(scaled.scale->units, 7);
  EXPECT_NO_THROW(parseArguments({"--describe"}));
  EXPECT_NO_THROW(parseArguments({"--help"}));

  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--seed", "1"},
      {"--out"},
      {"--out", ""},
      {"--out", "x.db", "--bogus"},
      {"--out", "x.db", "--units", "abc"},
      {"--out", "x.db", "--units", "0"},
      {"--out", "x.db", "--units", "-5"},
      {"--out", "x.db", "--rows", "12x"},
      {"--out", "x.db", "--cols", "99999"},
      {"--out", "x.db", "--force=yes"},
      {"x.db"},
  };
  for (const auto& args : bad) EXPECT_THROW(parseArguments(args), dupsweep::Error);
}

TEST(DemoDbProgram, PrintsOneLineOnSuccessAndOneErrorLineOnRefusal) {
  TempDir dir;
  const fs::path file = dir.path() / "demo.db";
  const std::string out = (dir.path() / "stdout").string();
  const std::string err = (dir.path() / "stderr").string();
  const std::string run = std::string("'") + DEMODB_PROGRAM + "' --out '" + file.string() + "' >'" +
                          out + "' 2>'" + err + "'";
  auto lines = [](const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> result;
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  };
  ASSERT_EQ(std::system(run.c_str()), 0);
  auto stdoutLines = lines(out);
  ASSERT_EQ(stdoutLines.size(), 1u);
  EXPECT_EQ(stdoutLines[0].rfind("wrote " + file.string() + ": 69 units, 11 periods", 0), 0u);
  EXPECT_TRUE(lines(err).empty());

  const int status = std::system(run.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_TRUE(lines(out).empty());
  const auto errorLines = lines(err);
  ASSERT_EQ(errorLines.size(), 1u);
  EXPECT_NE(errorLines[0].find("already exists"), std::string::npos);
}

}  // namespace
