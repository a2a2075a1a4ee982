// The equality test of two units' rows and the verdicts of a run, on real SQLite row sets.
#include <gtest/gtest.h>

#include "engine/compare.h"
#include "engine/run.h"
#include "support/sqlite_file.h"

namespace dupsweep {
namespace {

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    db.createHostSchema();
    db.exec(R"(
      CREATE TABLE DataNumT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, sTaskCode TEXT,
                                    nLevel INTEGER, nF1 NUMERIC, sF2 TEXT, fF3 REAL);
      CREATE TABLE DataNumT01_B02_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, sTaskCode TEXT,
                                    nLevel INTEGER);
    )");
    dm.SetConnection(db.connectionString());
  }
  // Rows of units A and B from `values` ("(nRow, nF1, sF2, fF3)" tuples) and their test.
  bool same(const std::string& a, const std::string& b) {
    db.exec("DELETE FROM DataNumT01_B01_1");
    auto insert = [&](const char* unit, const std::string& rows) {
      if (rows.empty()) return;
      std::string sql = "INSERT INTO DataNumT01_B01_1 SELECT '2024N','" + std::string(unit) +
                        "',column1,'T01',1,column2,column3,column4 FROM (VALUES " + rows + ")";
      db.exec(sql);
    };
    insert("A", a);
    insert("B", b);
    auto s = dm.OpenUnitData("DataNumT01_B01_1", "A", "2024N");
    auto d = dm.OpenUnitData("DataNumT01_B01_1", "B", "2024N");
    return SameRows(*s, *d);
  }

  testing::SqliteFile db;
  TdmDupsweep dm;
};

TEST_F(Engine, ValueRuleOfTheEqualityTest) {
  EXPECT_TRUE(same("(4,1,'abc',0.5),(5,2,NULL,NULL)", "(4,1,'abc',0.5),(5,2,NULL,NULL)"));
  EXPECT_FALSE(same("", ""));                                  // no rows: never repeated data
  EXPECT_FALSE(same("(4,1,'a',1)", "(4,1,'a',1),(5,1,'a',1)"));  // row counts differ
  EXPECT_TRUE(same("(1,7,'x',1),(2,8,'y',2),(3,9,'z',3)",      // paired by position, not nRow
                   "(1,7,'x',1),(2,8,'y',2),(4,9,'z',3)"));
  EXPECT_FALSE(same("(4,NULL,'a',1)", "(4,0,'a',1)"));
  EXPECT_FALSE(same("(4,1,NULL,1)", "(4,1,'',1)"));
  EXPECT_FALSE(same("(4,1,'abc',1)", "(4,1,'ABC',1)"));
  EXPECT_FALSE(same("(4,1,'abc',1)", "(4,1,'abc ',1)"));
  EXPECT_TRUE(same("(4,1234.50,'a',1)", "(4,1234.5,'a',1)"));  // numbers by value
  EXPECT_TRUE(same("(4,5,'a',1)", "(4,5.0,'a',1.0)"));
  // A difference in the first row does not stop the test from visiting the rest.
  EXPECT_FALSE(same("(4,1,'a',1),(5,1,'a',1)", "(4,2,'a',1),(5,1,'a',1)"));
}

TEST_F(Engine, RunCountsSheetsWithoutRowsOrWithoutATableAsNotIdentical) {
  db.exec(R"(
    INSERT INTO DataNumT01_B02_1 VALUES ('2024N','A',1,'T01',1),('2024N','B',1,'T01',1);
    INSERT INTO PeriodTable VALUES ('2024N','T01',1,'B01','一',1,1),('2024N','T01',1,'B02','二',2,0),
                                   ('2024N','T01',1,'B03','三',3,0);
    INSERT INTO SampleTableVts VALUES ('2024N','T01',1,1,NULL,X'00');)");
  TUnitData a{1, "A", 0, "甲"}, b{2, "B", 0, "乙"};
  TUnitGroup pair(a, b);
  ProgressSink quiet;
  ComparisonRun run(dm, "2024N", "T01", 1);
  const RunResult& result = run.Run({{&pair, true}}, quiet, GridCheck::None);
  // B01 has no rows for either unit, B02 has only key columns (identical), B03 has no table.
  ASSERT_EQ(result.pairs.size(), 1u);
  EXPECT_EQ(result.pairs[0].sheets,
            (std::vector<Verdict>{Verdict::Different, Verdict::Identical, Verdict::NoTable}));
}

}  // namespace
}  // namespace dupsweep
