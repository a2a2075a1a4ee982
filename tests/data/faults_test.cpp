// The data module when the database fails under it: failed statements, a link that goes away,
// a busy database.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "cleanup/cleanup.h"
#include "data/dmdupsweep.h"
#include "support/faulty_connection.h"
#include "support/sqlite_file.h"

namespace dupsweep {
namespace {

using testing::Faults;

class Faulty : public ::testing::Test {
 protected:
  void SetUp() override {
    db.createHostSchema();
    db.exec(R"(INSERT INTO Unit VALUES (1,'总公司');
               INSERT INTO UnitClsAndUnit VALUES ('01',1,0,NULL,'A');
               INSERT INTO Period VALUES ('2024N','2024',0);
               INSERT INTO PeriodTable VALUES ('2024N','T01',1,'B01','表',1,1);
               INSERT INTO Status VALUES ('2024N','U1','T01',1);)");
    dm.SetConnection(db.connectionString());
  }

  testing::SqliteFile db;
  std::shared_ptr<Faults> faults = std::make_shared<Faults>();
  TdmDupsweep dm{testing::faultyFactory(faults)};
};

TEST_F(Faulty, ALostLinkIsReopenedByTheNextStatement) {
  faults->failNext(1, Faults::Kind::Dropped);
  EXPECT_FALSE(dm.GetPeriodList("T01", 1).has_value());
  EXPECT_EQ(dm.GetSpecifyUnitList("01", "", 0)->Rows().rowCount(), 1);
  EXPECT_EQ(faults->opens, 2);
  ASSERT_TRUE(dm.GetPeriodList("T01", 1).has_value());
  EXPECT_EQ(faults->opens, 2);  // an ordinary failure keeps the connection
  faults->failNext(1);
  EXPECT_THROW(dm.DeleteStatus("2024N", "U1", "T01", 1), DatabaseError);
  EXPECT_EQ(dm.DeleteStatus("2024N", "U1", "T01", 1), 1);
  EXPECT_EQ(faults->opens, 2);
}

TEST_F(Faulty, ConnectionThatCannotOpenGivesTheEmptyResults) {
  faults->failOpen = true;
  EXPECT_EQ(dm.GetSpecifyUnitList("01", "", 0), nullptr);
  EXPECT_FALSE(dm.GetPeriodList("T01", 1).has_value());
  // Rows that cannot be read are a failure, never an absent table.
  EXPECT_THROW(dm.OpenUnitData("DataNumT01_B01_1", "U1", "2024N"), DatabaseError);
  EXPECT_EQ(dm.ExtractTemplate("2024N", "T01", 1), "");
  EXPECT_THROW(dm.GetSampleList("2024N", "T01", 1), DatabaseError);
  EXPECT_THROW(dm.DeleteStatus("2024N", "U1", "T01", 1), DatabaseError);
  faults->failOpen = false;
  EXPECT_EQ(dm.GetSampleList("2024N", "T01", 1).size(), 1u);
}

TEST_F(Faulty, TheReasonAConnectionCannotOpenIsKeptSoTellingItCostsNoSecondAttempt) {
  faults->failOpen = true;
  EXPECT_FALSE(dm.GetPeriodList("T01", 1).has_value());
  const int attempts = faults->opens;
  const std::optional<std::string> why = dm.ConnectionFailure();
  ASSERT_TRUE(why.has_value());
  EXPECT_FALSE(why->empty());
  EXPECT_EQ(faults->opens, attempts);  // the reason of the failed attempt, not a new attempt
  faults->failOpen = false;
  ASSERT_TRUE(dm.GetPeriodList("T01", 1).has_value());
  EXPECT_EQ(dm.ConnectionFailure(), std::nullopt);
  EXPECT_EQ(faults->opens, attempts + 1);
}

TEST_F(Faulty, AnAllocationFailureIsNeverTakenForAnEmptyResult) {
  for (int statement = 0; statement < 4; ++statement) {
    SCOPED_TRACE(statement);
    faults->failNext(1, Faults::Kind::OutOfMemory);
    switch (statement) {
      case 0: EXPECT_THROW(dm.GetSpecifyUnitList("01", "", 0), std::bad_alloc); break;
      case 1: EXPECT_THROW(dm.GetPeriodList("T01", 1), std::bad_alloc); break;
      case 2: EXPECT_THROW(dm.ExtractTemplate("2024N", "T01", 1), std::bad_alloc); break;
      case 3: EXPECT_THROW(dm.OpenUnitData("DataNumT01_B01_1", "U1", "2024N"), std::bad_alloc);
    }
  }
  // The statements that fail for the database's reasons still give the empty results.
  faults->failNext(1);
  std::string why;
  EXPECT_EQ(dm.ExtractTemplate("2024N", "T01", 1, &why), "");
  EXPECT_EQ(why.rfind("Injected failure", 0), 0u) << why;
  EXPECT_EQ(dm.ExtractTemplate("2023N", "T01", 1, &why), "");  // no template: no reason
  EXPECT_EQ(why, "");
}

TEST_F(Faulty, ADeletionThatFailsAtAnyStatementLeavesEveryRow) {
  db.exec(R"(CREATE TABLE DataNumT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER);
             CREATE TABLE DataBalanceT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER);
             INSERT INTO DataNumT01_B01_1 VALUES ('2024N','U1',4),('2024N','U1',5),
                                                 ('2024N','U2',4),('2024N','U2',5);
             INSERT INTO DataBalanceT01_B01_1 VALUES ('2024N','U1',4);)");
  TSampleData sheet;
  sheet.sTaskCode = "T01";
  sheet.sSampleCode = "B01";
  sheet.nSampleLevel = 1;
  sheet.sPeriodID = "2024N";
  const auto rows = [this] {
    return db.scalar("SELECT (SELECT count(*) FROM DataNumT01_B01_1) * 100 + "
                     "(SELECT count(*) FROM DataBalanceT01_B01_1) * 10 + "
                     "(SELECT count(*) FROM Status)");
  };
  ASSERT_EQ(rows(), 411);
  const Cleanup::DeletionNotes notes{"", "", "U2", ""};
  Cleanup cleanup(dm);
  // After the three reads for the journal and the two of both units' figures: the DataBalance
  // statement, then the Status statement.
  for (int failing : {7, 8}) {
    faults->failNext(failing);
    EXPECT_THROW(cleanup.DeleteRepeatedCopy(sheet, "U1", true, "T01", 1, notes),
                 DatabaseError);
    EXPECT_EQ(rows(), 411) << failing;
  }
  // No Status statement.
  EXPECT_EQ(cleanup.DeleteRepeatedCopy(sheet, "U1", false, "T01", 1, notes), 3);
  EXPECT_EQ(rows(), 201);
}

TEST_F(Faulty, ABusyDatabaseFailsTheStatementOnly) {
  faults->failNext(1, Faults::Kind::Busy);
  try {
    dm.DeleteStatus("2024N", "U1", "T01", 1);
    FAIL() << "expected a failure";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(e.sqlState(), "HYT00");
  }
  EXPECT_EQ(db.scalar("SELECT count(*) FROM Status"), 1);
  EXPECT_EQ(dm.DeleteStatus("2024N", "U1", "T01", 1), 1);
}

TEST_F(Faulty, AWriterHoldingTheDatabaseIsWaitedFor) {
  // Another connection holds the write lock for a moment; the deletion waits instead of failing.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(db.path().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::thread release([other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  });
  EXPECT_EQ(dm.DeleteStatus("2024N", "U1", "T01", 1), 1);
  release.join();
  sqlite3_close(other);
}

}  // namespace
}  // namespace dupsweep
