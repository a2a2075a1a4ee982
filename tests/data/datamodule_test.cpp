// The data module's unit and period statements against real SQLite databases.
#include <gtest/gtest.h>

#include "data/dmdupsweep.h"
#include "data/units.h"
#include "support/sqlite_file.h"

namespace dupsweep {
namespace {

class DataModule : public ::testing::Test {
 protected:
  void SetUp() override {
    db.createHostSchema();
    db.exec(R"(
      INSERT INTO Unit VALUES (1,'总公司'),(2,'北京分公司'),(3,'上海分公司'),(4,'北京分公司');
      INSERT INTO UnitClsAndUnit VALUES ('01',1,0,NULL,'A'),('01',2,1,'A','A01'),
                                        ('01',3,1,'A','A02'),('02',4,0,NULL,'Z');
      INSERT INTO Period VALUES ('2024N','2024',0),('2024Q','2024',0),('202403M','2024',0),
        ('2024X','2023',0),('2024W','2022',0),('20240301','2021',0),('TPLN','模板',-1),
        ('HIDEN','隐藏',-2),('NULLN',NULL,0),('OTHERN','其他',0);
    )");
    for (const char* id : {"2024N", "2024Q", "202403M", "2024X", "2024W", "20240301", "TPLN",
                           "HIDEN", "NULLN"})
      db.exec(std::string("INSERT INTO PeriodTable VALUES ('") + id +
              "','T01',1,'B01','资产负债表',1,1)");
    // Not listed: another level, a sheet other than 1, a sheet that is no base sample.
    db.exec(R"(INSERT INTO PeriodTable VALUES ('OTHERN','T01',2,'B01','x',1,1),
                                              ('OTHERN','T01',1,'B01','x',2,1),
                                              ('OTHERN','T01',1,'B02','x',1,0))");
    dm.SetConnection(db.connectionString());
  }

  testing::SqliteFile db;
  TdmDupsweep dm;
};

TEST_F(DataModule, PeriodListComposesReportKindsAndLeavesOutTemplateTypes) {
  auto list = dm.GetPeriodList("T01", 1);
  ASSERT_TRUE(list.has_value());
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& e : *list) {
    EXPECT_EQ(e.text, e.period->sPeriodName);
    got.emplace_back(e.period->sPeriodID, e.text);
  }
  // Ordered by the composed name in the database's collation (SQLite: by bytes, so 季 < 年 < 月);
  // the NULL name composes to NULL and sorts first.
  std::vector<std::pair<std::string, std::string>> want = {
      {"NULLN", ""},
      {"20240301", "2021(日报)"},
      {"2024W", "2022(周报)"},
      {"2024X", "2023(旬报)"},
      {"2024Q", "2024(季报)"},
      {"2024N", "2024(年报)"},
      {"202403M", "2024(月报)"},
  };
  EXPECT_EQ(got, want);
}

TEST_F(DataModule, PeriodListEmptyForUnknownTaskAndNullOnFailure) {
  auto none = dm.GetPeriodList("NOSUCH", 1);
  ASSERT_TRUE(none.has_value());
  EXPECT_TRUE(none->empty());
  // An apostrophe in the task code stays a value: the statement still runs.
  auto quoted = dm.GetPeriodList("T'01", 1);
  ASSERT_TRUE(quoted.has_value());
  EXPECT_TRUE(quoted->empty());

  dm.SetConnection("Provider=SQLite;Data Source=" + (db.dir() / "missing.db").string());
  EXPECT_FALSE(dm.GetPeriodList("T01", 1).has_value());
  EXPECT_FALSE(std::filesystem::exists(db.dir() / "missing.db"));
  dm.SetConnection("");
  EXPECT_FALSE(dm.GetPeriodList("T01", 1).has_value());
}

TEST_F(DataModule, UnitLevelsAndTheirFailures) {
  TQuery* top = dm.GetSpecifyUnitList("01", "ignored", 0);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top, &dm.qryUnit);
  db::RowSet& rows = top->Rows();
  ASSERT_EQ(rows.rowCount(), 1);
  EXPECT_EQ(rows.field("sUnitName").asText(), "总公司");
  EXPECT_EQ(rows.field("sUnitCode").asText(), "A");
  EXPECT_EQ(rows.field("nUnitID").asInteger(), 1);
  EXPECT_EQ(rows.field("nLevel").asInteger(), 0);

  TQuery* children = dm.GetSpecifyUnitList("01", "A", 1);
  ASSERT_NE(children, nullptr);
  EXPECT_EQ(children->Rows().rowCount(), 2);
  TQuery* leaf = dm.GetSpecifyUnitList("01", "A01", 2);
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(leaf->Rows().rowCount(), 0);
  EXPECT_TRUE(leaf->Rows().eof());

  db.exec("DROP TABLE Unit");
  EXPECT_EQ(dm.GetSpecifyUnitList("01", "", 0), nullptr);
}

// The tree, the classification and the look-up by code read a unit row alike, and none of them
// lets an identifier beyond 32 bits wrap round into another unit's.
TEST_F(DataModule, EveryUnitStatementReadsTheRowAsTheSameRecord) {
  const auto fields = [](const TUnitData& u) {
    return std::make_tuple(u.nUnitID, u.sUnitCode, u.nLevel, u.sUnitName);
  };
  TQuery* children = dm.GetSpecifyUnitList("01", "A", 1);
  ASSERT_NE(children, nullptr);
  const auto want = std::make_tuple(2, std::string("A01"), 1, std::string("北京分公司"));
  EXPECT_EQ(fields(unitFromRow(children->Rows(), 1)), want);
  const std::vector<TUnitData> found = dm.FindUnits("01", {"A01"});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(fields(found[0]), want);
  EXPECT_EQ(fields(dm.GetClassificationUnits("01").at(1).unit), want);

  db.exec("UPDATE Unit SET nUnitID = 4294967298 WHERE nUnitID = 2;"
          "UPDATE UnitClsAndUnit SET nUnitID = 4294967298 WHERE nUnitID = 2");
  children = dm.GetSpecifyUnitList("01", "A", 1);
  ASSERT_NE(children, nullptr);
  EXPECT_THROW(unitFromRow(children->Rows(), 1), DatabaseError);
  EXPECT_THROW(dm.FindUnits("01", {"A01"}), DatabaseError);
  EXPECT_THROW(dm.GetClassificationUnits("01"), DatabaseError);
}

TEST_F(DataModule, SetConnectionClosesBothQueries) {
  ASSERT_NE(dm.GetSpecifyUnitList("01", "", 0), nullptr);
  ASSERT_TRUE(dm.GetPeriodList("T01", 1).has_value());
  EXPECT_TRUE(dm.qryUnit.Active());
  EXPECT_TRUE(dm.qryData.Active());
  dm.SetConnection(db.connectionString());
  EXPECT_FALSE(dm.qryUnit.Active());
  EXPECT_FALSE(dm.qryData.Active());
  EXPECT_THROW(dm.qryUnit.Rows(), DatabaseError);
}

TEST_F(DataModule, StatementsGoThroughTheOdbcDriverManagerToo) {
  TdmDupsweep odbc;
  odbc.SetConnection("Provider=MSDASQL;Driver=SQLite3;Database=" + db.path().string());
  auto list = odbc.GetPeriodList("T01", 1);
  ASSERT_TRUE(list.has_value());
  ASSERT_EQ(list->size(), 7u);
  EXPECT_EQ((*list)[5].text, "2024(年报)");
  TQuery* top = odbc.GetSpecifyUnitList("01", "", 0);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->Rows().field("sUnitName").asText(), "总公司");
}

}  // namespace
}  // namespace dupsweep
