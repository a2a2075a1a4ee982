// Hostile values through every statement of the data module against a real SQLite database:
// each statement keeps its structure, and only the intended rows are read or deleted.
#include <gtest/gtest.h>

#include "data/dmdupsweep.h"
#include "support/sqlite_file.h"

namespace dupsweep {
namespace {

const std::vector<std::string>& hostileValues() {
  static const std::vector<std::string> values = {
      "'",
      "' OR '1'='1",
      "x'; DELETE FROM Status; --",
      "--",
      ";",
      "]",
      "[dbo].[Unit]",
      "“引号”‘单引号’",
      std::string(5000, 'A') + "'",
      std::string("\xff\xfe bad utf-8 \xc3"),
  };
  return values;
}

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    db.createHostSchema();
    db.exec(R"(
      CREATE TABLE DataNumT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER,
                                    sTaskCode TEXT, nLevel INTEGER, nF1 NUMERIC);
      CREATE TABLE DataBalanceT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER,
                                        sTaskCode TEXT, nLevel INTEGER, nF1 NUMERIC);
      INSERT INTO Unit VALUES (1,'总公司');
      INSERT INTO UnitClsAndUnit VALUES ('01',1,0,NULL,'A');
      INSERT INTO Period VALUES ('2024N','2024',0);
      INSERT INTO PeriodTable VALUES ('2024N','T01',1,'B01','表',1,1);
      INSERT INTO SampleTableVts VALUES ('2024N','T01',1,1,0,X'504B');
      INSERT INTO Status VALUES ('2024N','U1','T01',1),('2024N','U2','T01',1);
      INSERT INTO DataNumT01_B01_1 VALUES ('2024N','U1',4,'T01',1,1),('2024N','U2',4,'T01',1,2);
      INSERT INTO DataBalanceT01_B01_1 VALUES ('2024N','U1',4,'T01',1,1);
    )");
    dm.SetConnection(db.connectionString());
  }
  long long total() {
    return db.scalar(
        "SELECT (SELECT count(*) FROM Status) + (SELECT count(*) FROM DataNumT01_B01_1) + "
        "(SELECT count(*) FROM DataBalanceT01_B01_1) + (SELECT count(*) FROM Unit)");
  }

  testing::SqliteFile db;
  TdmDupsweep dm;
};

TEST_F(Hostile, ValuesNeverChangeAStatementOrReachOtherRows) {
  const long long before = total();
  for (const std::string& v : hostileValues()) {
    SCOPED_TRACE(v.substr(0, 40));
    TQuery* units = dm.GetSpecifyUnitList(v, v, 1);
    ASSERT_NE(units, nullptr);
    EXPECT_EQ(units->Rows().rowCount(), 0);
    units = dm.GetSpecifyUnitList(v, v, 0);
    ASSERT_NE(units, nullptr);
    EXPECT_EQ(units->Rows().rowCount(), 0);

    auto periods = dm.GetPeriodList(v, 1);
    ASSERT_TRUE(periods.has_value());
    EXPECT_TRUE(periods->empty());

    EXPECT_TRUE(dm.GetSampleList(v, "T01", 1).empty());
    EXPECT_TRUE(dm.GetSampleList("2024N", v, 1).empty());
    EXPECT_EQ(dm.ExtractTemplate(v, "T01", 1), "");
    EXPECT_EQ(dm.ExtractTemplate("2024N", v, 1), "");

    auto rows = dm.OpenUnitData("DataNumT01_B01_1", v, "2024N");
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->rowCount(), 0);
    rows = dm.OpenUnitData("DataNumT01_B01_1", "U1", v);
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->rowCount(), 0);
    EXPECT_EQ(dm.OpenUnitData(v, "U1", "2024N"), nullptr);  // never sent as a table name

    EXPECT_EQ(dm.DeleteTableData("DataNumT01_B01_1", v, "2024N"), 0);
    EXPECT_EQ(dm.DeleteTableData("DataNumT01_B01_1", "U1", v), 0);
    EXPECT_THROW(dm.DeleteTableData(v, "U1", "2024N"), DatabaseError);
    EXPECT_EQ(dm.DeleteStatus(v, "U1", "T01", 1), 0);
    EXPECT_EQ(dm.DeleteStatus("2024N", v, "T01", 1), 0);
    EXPECT_EQ(dm.DeleteStatus("2024N", "U1", v, 1), 0);
  }
  EXPECT_EQ(total(), before);
}

TEST_F(Hostile, AValueHoldingNulIsNeverSent) {
  const std::string v("U1\0' OR '1'='1", 15);
  const long long before = total();
  EXPECT_EQ(dm.GetSpecifyUnitList(v, "", 0), nullptr);
  EXPECT_FALSE(dm.GetPeriodList(v, 1).has_value());
  EXPECT_THROW(dm.GetSampleList(v, "T01", 1), DatabaseError);
  EXPECT_EQ(dm.ExtractTemplate(v, "T01", 1), "");
  EXPECT_THROW(dm.OpenUnitData("DataNumT01_B01_1", v, "2024N"), DatabaseError);
  EXPECT_THROW(dm.DeleteTableData("DataNumT01_B01_1", v, "2024N"), DatabaseError);
  EXPECT_THROW(dm.DeleteStatus("2024N", v, "T01", 1), DatabaseError);
  EXPECT_EQ(total(), before);
}

TEST_F(Hostile, AUnitCodeWithAQuoteDeletesExactlyThatUnitsRows) {
  db.exec(R"(INSERT INTO DataNumT01_B01_1 VALUES ('2024N','O''Brien',4,'T01',1,3);
             INSERT INTO Status VALUES ('2024N','O''Brien','T01',1);)");
  EXPECT_EQ(dm.DeleteTableData("DataNumT01_B01_1", "O'Brien", "2024N"), 1);
  EXPECT_EQ(dm.DeleteStatus("2024N", "O'Brien", "T01", 1), 1);
  EXPECT_EQ(db.scalar("SELECT count(*) FROM DataNumT01_B01_1"), 2);
  EXPECT_EQ(db.scalar("SELECT count(*) FROM Status"), 2);
}

}  // namespace
}  // namespace dupsweep
