// The deletion statements: their SQL Server texts, and what they remove from a real database.
#include <gtest/gtest.h>

#include "data/dmdupsweep.h"
#include "data/statements.h"
#include "support/sqlite_file.h"

namespace dupsweep {
namespace {

TEST(DeletionStatements, SqlServerTexts) {
  EXPECT_EQ(
      sql::joined(sql::deleteTableData(db::Dialect::SqlServer, "DataNumT01_B02_1", "U'1", "2024N")),
      "Delete from DataNumT01_B02_1\r\n"
      "  Where sPeriodID = '2024N'\r\n"
      "    And sUnitCode = 'U''1'\r\n");
  // Only a name that cannot stand bare, a negative level's, is bracketed.
  TSampleData s;
  s.sTaskCode = "T01";
  s.sSampleCode = "B02";
  for (int level : {-1, 0, 1, 5}) {
    s.nSampleLevel = level;
    for (const std::string& name : {NumTableName(s), BalanceTableName(s)}) {
      const std::string sent = level < 0 ? "[" + name + "]" : name;
      EXPECT_EQ(sql::joined(sql::deleteTableData(db::Dialect::SqlServer, name, "U1", "2024N")),
                "Delete from " + sent + "\r\n"
                "  Where sPeriodID = '2024N'\r\n"
                "    And sUnitCode = 'U1'\r\n");
    }
  }
  EXPECT_EQ(sql::deleteTableData(db::Dialect::SqlServer, "DataBalanceT01_B02_-1", "U1", "P")[0],
            "Delete from [DataBalanceT01_B02_-1]");
  EXPECT_EQ(sql::joined(sql::deleteStatus("2024N", "", "T01", -1)),
            "Delete from Status\r\n"
            "  Where sPeriodID = '2024N'\r\n"
            "    And sUnitCode = ''\r\n"
            "    And sTaskCode = 'T01'\r\n"
            "    And nLevel = -1\r\n");
}

class Deletion : public ::testing::Test {
 protected:
  void SetUp() override {
    db.createHostSchema();
    db.exec(R"(
      CREATE TABLE DataNumT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER,
                                    sTaskCode TEXT, nLevel INTEGER, nF1 NUMERIC);
      INSERT INTO DataNumT01_B01_1 VALUES ('2024N','U1',4,'T01',1,1), ('2024N','U1',5,'T01',1,2),
        ('2023N','U1',4,'T01',1,3), ('2024N','U2',4,'T01',1,4), ('2024N','U''Q',4,'T01',1,5),
        ('2024N','',4,'T01',1,6);
      INSERT INTO Status VALUES ('2024N','U1','T01',1), ('2024N','U1','T01',0),
                                ('2024N','U2','T01',1);
    )");
    dm.SetConnection(db.connectionString());
  }
  long long rows(const std::string& where) {
    return db.scalar("SELECT count(*) FROM DataNumT01_B01_1 WHERE " + where);
  }

  testing::SqliteFile db;
  TdmDupsweep dm;
};

TEST_F(Deletion, RemovesExactlyOneUnitsRowsOfOnePeriod) {
  EXPECT_EQ(dm.DeleteTableData("DataNumT01_B01_1", "U1", "2024N"), 2);
  EXPECT_EQ(rows("sUnitCode='U1'"), 1);  // the other period stays
  EXPECT_EQ(rows("1"), 4);
  EXPECT_EQ(dm.DeleteTableData("DataNumT01_B01_1", "U1", "2024N"), 0);
  EXPECT_EQ(dm.DeleteTableData("DataNumT01_B01_1", "x' OR '1'='1", "2024N"), 0);
  EXPECT_EQ(dm.DeleteTableData("DataNumT01_B01_1", "U'Q", "2024N"), 1);
  EXPECT_EQ(rows("1"), 3);
  EXPECT_EQ(dm.DeleteTableData("DataNumT01_B01_1", "", "2024N"), 1);
  EXPECT_EQ(rows("1"), 2);
}

TEST_F(Deletion, StatusRowOfOneLevelOnly) {
  EXPECT_EQ(dm.DeleteStatus("2024N", "U1", "T01", 1), 1);
  EXPECT_EQ(db.scalar("SELECT count(*) FROM Status"), 2);
  EXPECT_EQ(dm.DeleteStatus("2024N", "U1", "T01", 1), 0);
}

TEST_F(Deletion, RefusedStatementsRaiseAndUnsafeNamesAreNeverSent) {
  EXPECT_THROW(dm.DeleteTableData("DataNumT01_B99_1", "U1", "2024N"), DatabaseError);
  EXPECT_THROW(dm.DeleteTableData("DataNumT01_B01_1 WHERE 1=1 --", "U1", "2024N"),
               DatabaseError);
  EXPECT_EQ(rows("1"), 6);
}

TEST_F(Deletion, ANegativeLevelsTablesAreReadAndDeletedFrom) {
  db.exec(R"(
    CREATE TABLE "DataNumT01_B02_-1"(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER,
                                     sTaskCode TEXT, nLevel INTEGER, nF1 NUMERIC);
    CREATE TABLE "DataBalanceT01_B02_-1"(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER,
                                         sTaskCode TEXT, nLevel INTEGER, nF1 NUMERIC);
    INSERT INTO "DataNumT01_B02_-1" VALUES ('2024N','U1',5,'T01',-1,2), ('2024N','U1',4,'T01',-1,1),
      ('2024N','U2',4,'T01',-1,9);
    INSERT INTO "DataBalanceT01_B02_-1" VALUES ('2024N','U1',4,'T01',-1,1);
    -- A table of the bare name the unquoted text would be taken for must stay untouched.
    CREATE TABLE DataNumT01_B02_(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER);
    INSERT INTO DataNumT01_B02_ VALUES ('2024N','U1',4);
  )");
  TSampleData s;
  s.sTaskCode = "T01";
  s.sSampleCode = "B02";
  s.nSampleLevel = -1;
  s.sPeriodID = "2024N";

  std::unique_ptr<db::RowSet> read = dm.OpenUnitData(NumTableName(s), "U1", "2024N");
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(read->rowCount(), 2);
  EXPECT_EQ(read->field("nRow").asInteger(), 4);
  EXPECT_EQ(dm.OpenUnitData("DataNumT01_B09_-1", "U1", "2024N"), nullptr);  // no such table

  EXPECT_EQ(dm.DeleteTableData(NumTableName(s), "U1", "2024N"), 2);
  EXPECT_EQ(dm.DeleteTableData(BalanceTableName(s), "U1", "2024N"), 1);
  EXPECT_EQ(db.scalar("SELECT count(*) FROM \"DataNumT01_B02_-1\""), 1);
  EXPECT_EQ(db.scalar("SELECT count(*) FROM \"DataBalanceT01_B02_-1\""), 0);
  EXPECT_EQ(db.scalar("SELECT count(*) FROM DataNumT01_B02_"), 1);
  EXPECT_THROW(dm.DeleteTableData("DataNumT01_B09_-1", "U1", "2024N"), DatabaseError);
}

TEST_F(Deletion, RollbackUndoesEveryStatementOfTheTransaction) {
  dm.StartTransaction();
  EXPECT_EQ(dm.DeleteTableData("DataNumT01_B01_1", "U1", "2024N"), 2);
  EXPECT_EQ(dm.DeleteStatus("2024N", "U1", "T01", 1), 1);
  dm.Rollback();
  EXPECT_EQ(rows("sUnitCode='U1'"), 3);
  EXPECT_EQ(db.scalar("SELECT count(*) FROM Status"), 3);
  dm.StartTransaction();
  dm.DeleteTableData("DataNumT01_B01_1", "U2", "2024N");
  dm.Commit();
  EXPECT_EQ(rows("sUnitCode='U2'"), 0);
}

}  // namespace
}  // namespace dupsweep
