// The deletion as the journal sees it, on a real SQLite host database: a copy that is no longer
// identical to the other unit's is not deleted; the rows a deletion will remove are read inside
// its transaction and on the disk before the first deletion statement runs; a failure after that
// rolls the host back and marks the entry; a journal that cannot be written stops the deletion
// before anything is sent; a restore puts back exactly the rows and types there were (also
// through the ODBC driver manager), in one transaction, and refuses when it cannot do so safely.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "cleanup/cleanup.h"
#include "data/dmdupsweep.h"
#include "data/statements.h"
#include "support/faulty_connection.h"
#include "support/sqlite_file.h"
#include "support/table_dump.h"
#include "support/temp_dir.h"
#include "ui/texts.h"

namespace dupsweep {
namespace {

using testing::Faults;
using Lines = std::vector<std::string>;

TEST(JournalStatements, SqlServerTexts) {
  EXPECT_EQ(sql::joined(sql::keptTableRows(db::Dialect::SqlServer, "DataNumT01_B02_1", "U'1",
                                           "2024N")),
            "Select * from DataNumT01_B02_1\r\n"
            "  Where sPeriodID = '2024N'\r\n"
            "    And sUnitCode = 'U''1'\r\n");
  EXPECT_EQ(sql::keptTableRows(db::Dialect::SqlServer, "DataBalanceT01_B02_-1", "U1", "P")[0],
            "Select * from [DataBalanceT01_B02_-1]");
  EXPECT_EQ(sql::joined(sql::keptStatusRows("2024N", "U'1", "T01", -1)),
            "Select * from Status\r\n"
            "  Where sPeriodID = '2024N'\r\n"
            "    And sUnitCode = 'U''1'\r\n"
            "    And sTaskCode = 'T01'\r\n"
            "    And nLevel = -1\r\n");
  EXPECT_EQ(sql::insertRow(db::Dialect::SqlServer, "DataNumT01_B02_-1",
                           {"sPeriodID", "nRow", "1st", "a]b"}),
            (Lines{"Insert into [DataNumT01_B02_-1] (sPeriodID, nRow, [1st], [a]]b])",
                   "  Values (?, ?, ?, ?)"}));
  EXPECT_EQ(sql::insertRow(db::Dialect::SQLite, "DataNumT01_B02_1", {"a\"b"})[0],
            "Insert into DataNumT01_B02_1 (\"a\"\"b\")");
}

const std::vector<std::string> kTables = {"DataNumT01_B01_1", "DataBalanceT01_B01_1", "Status"};

class JournaledDeletion : public ::testing::Test {
 protected:
  void SetUp() override {
    host.createHostSchema();
    // Columns of every declared type the host's tables may have, and rows of other units, other
    // periods, other levels that must stay.
    host.exec(R"(
      CREATE TABLE DataNumT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, sTaskCode TEXT,
        nLevel INTEGER, nF1 NUMERIC, fF2 REAL, sF3 TEXT, bF4 BOOLEAN, oF5 BLOB, dF6 DATETIME, xF7);
      CREATE TABLE DataBalanceT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, nB DECIMAL(18,2));
      INSERT INTO DataNumT01_B01_1 VALUES
        ('2024N','U1',4,'T01',1,1234.5,1.25,'007',1,x'00FF','2024-03-01 12:30:00','mixed'),
        ('2024N','U1',5,'T01',1,NULL,NULL,NULL,0,x'',NULL,42),
        ('2024N','U1',6,'T01',1,2,-0.5,'中文',NULL,NULL,'',4.5),
        ('2023N','U1',4,'T01',1,9,9,'old',0,NULL,NULL,NULL),
        ('2024N','U2',4,'T01',1,1234.5,1.25,'007',1,x'00FF','2024-03-01 12:30:00','mixed'),
        ('2024N','U2',5,'T01',1,NULL,NULL,NULL,0,x'',NULL,42),
        ('2024N','U2',6,'T01',1,2,-0.5,'中文',NULL,NULL,'',4.5);
      INSERT INTO DataBalanceT01_B01_1 VALUES ('2024N','U1',4,10.25),('2024N','U2',4,10.25);
      INSERT INTO Status VALUES ('2024N','U1','T01',1),('2024N','U1','T01',2),('2024N','U2','T01',1);
    )");
    sheet.sTaskCode = "T01";
    sheet.sSampleCode = "B01";
    sheet.sSampleName = "资产负债表";
    sheet.nSampleLevel = 1;
    sheet.sPeriodID = "2024N";
    dm.SetConnection(host.connectionString());
  }
  std::vector<std::string> dump() { return testing::dumpTables(host.path(), kTables); }
  std::int64_t deleteU1() {
    return cleanup.DeleteRepeatedCopy(sheet, "U1", true, "T01", 1, {"甲", "甲=>乙", "U2", "乙"});
  }
  journal::Entry onlyEntry() {
    journal::Journal log(journalFile, journal::Journal::Mode::ReadOnly);
    const auto entries = log.list();
    EXPECT_EQ(entries.size(), 1u);
    return entries.empty() ? journal::Entry{} : log.get(entries.back().id);
  }

  testing::SqliteFile host;
  testing::TempDir dir;
  std::filesystem::path journalFile = dir / "journal.db";
  std::shared_ptr<Faults> faults = std::make_shared<Faults>();
  TdmDupsweep dm{testing::faultyFactory(faults)};
  Cleanup cleanup{dm, journalFile};
  TSampleData sheet;
};

TEST_F(JournaledDeletion, TheEntryHoldsTheRemovedRowsAndRestoresThemExactly) {
  const auto before = dump();
  EXPECT_EQ(deleteU1(), 3 + 1 + 1);
  const journal::Entry entry = onlyEntry();
  EXPECT_EQ(entry.state, journal::State::Done);
  EXPECT_EQ(entry.database, host.connectionString());
  EXPECT_EQ(entry.unitName, "甲");
  EXPECT_EQ(entry.otherUnitCode, "U2");
  ASSERT_EQ(entry.tables.size(), 3u);
  EXPECT_EQ(entry.tables[0].name, "DataNumT01_B01_1");
  EXPECT_EQ(entry.tables[0].deletedRows, 3);
  EXPECT_EQ(entry.tables[2].rows, (std::vector<std::vector<db::Value>>{
                                      {std::string("2024N"), std::string("U1"),
                                       std::string("T01"), std::int64_t{1}}}));
  EXPECT_EQ(host.scalar("SELECT count(*) FROM DataNumT01_B01_1 WHERE sUnitCode='U1'"), 1);

  EXPECT_EQ(cleanup.RestoreDeletion(entry.id), 5);
  EXPECT_EQ(dump(), before);
  EXPECT_EQ(onlyEntry().state, journal::State::Restored);
}

TEST_F(JournaledDeletion, ACopyThatChangedSinceTheComparisonIsNotDeleted) {
  const std::string table = "UPDATE DataNumT01_B01_1 SET ";
  // Each change, and the statement that undoes it.
  const std::vector<std::pair<std::string, std::string>> changes = {
      {table + "fF2 = 1.26 WHERE sUnitCode = 'U2' AND nRow = 4",  // the other unit's figure
       table + "fF2 = 1.25 WHERE sUnitCode = 'U2' AND nRow = 4"},
      {table + "oF5 = x'00FE' WHERE sUnitCode = 'U1' AND nRow = 4 AND sPeriodID = '2024N'",
       table + "oF5 = x'00FF' WHERE sUnitCode = 'U1' AND nRow = 4 AND sPeriodID = '2024N'"},
      {table + "sUnitCode = 'U9' WHERE sUnitCode = 'U2'",  // the other unit's rows are gone
       table + "sUnitCode = 'U2' WHERE sUnitCode = 'U9'"},
  };
  for (const auto& [change, undo] : changes) {
    host.exec(change);
    const auto before = dump();
    EXPECT_THROW(deleteU1(), CopyChanged) << change;
    EXPECT_EQ(dump(), before) << change;
    journal::Journal log(journalFile, journal::Journal::Mode::ReadOnly);
    EXPECT_TRUE(log.list().empty()) << change;
    host.exec(undo);
  }
  // Identical again, the copy goes.
  EXPECT_EQ(deleteU1(), 5);
}

TEST_F(JournaledDeletion, APendingEntryWhoseRowsAreAllThereNeverTookEffect) {
  // A deletion whose entry was written but whose transaction the end of the program rolled
  // back: its rows are all in the database, the entry is pending.
  deleteU1();
  journal::Entry entry;
  {
    journal::Journal log(journalFile, journal::Journal::Mode::ReadWrite);
    entry = log.get(onlyEntry().id);
    ASSERT_EQ(cleanup.RestoreDeletion(entry.id), 5);
    entry.id = log.add(entry);
  }
  const auto before = dump();
  // One value differs from the saved one: that is a conflict, not a deletion that never happened.
  host.exec("UPDATE Status SET sTaskCode = 'T02' WHERE sUnitCode = 'U1' AND nLevel = 1");
  try {
    cleanup.RestoreDeletion(entry.id);
    FAIL() << "restored over other rows";
  } catch (const DeletionNeverTookEffect& e) {
    FAIL() << e.what();
  } catch (const RestoreRefused& e) {
    const std::string text = texts::restoreRefusal(e);
    EXPECT_NE(text.find("冲突"), std::string::npos) << text;
  }
  host.exec("UPDATE Status SET sTaskCode = 'T01' WHERE sUnitCode = 'U1' AND nLevel = 1");
  try {
    cleanup.RestoreDeletion(entry.id);
    FAIL() << "restored rows that are there";
  } catch (const DeletionNeverTookEffect& e) {
    const std::string text = texts::restoreRefusal(e);
    EXPECT_NE(text.find("删除没有生效"), std::string::npos) << text;
  }
  EXPECT_EQ(dump(), before);
  journal::Journal log(journalFile, journal::Journal::Mode::ReadOnly);
  EXPECT_EQ(log.get(entry.id).state, journal::State::RolledBack);
}

// Through the SQLite ODBC driver, which hands blobs and untyped values over as texts, the rows
// still there are read as the deletion read them.
TEST_F(JournaledDeletion, APendingEntryThatNeverTookEffectIsKnownThroughOdbc) {
  TdmDupsweep odbc;
  odbc.SetConnection("Provider=MSDASQL;Driver=SQLite3;Database=" + host.path().string());
  Cleanup odbcCleanup(odbc, journalFile);
  odbcCleanup.DeleteRepeatedCopy(sheet, "U1", true, "T01", 1, {"甲", "甲=>乙", "U2", "乙"});
  journal::Journal log(journalFile, journal::Journal::Mode::ReadWrite);
  const journal::Entry entry = log.get(onlyEntry().id);
  ASSERT_EQ(odbcCleanup.RestoreDeletion(entry.id), 5);
  EXPECT_THROW(odbcCleanup.RestoreDeletion(log.add(entry)), DeletionNeverTookEffect);
}

TEST_F(JournaledDeletion, ADatabaseLockedByAnotherDeletionSaysSo) {
  host.exec(
      "INSERT INTO DataNumT01_B01_1 SELECT sPeriodID, 'U3', nRow, sTaskCode, nLevel, nF1, "
      "fF2, sF3, bF4, oF5, dF6, xF7 FROM DataNumT01_B01_1 WHERE sUnitCode = 'U2'");
  deleteU1();
  const std::int64_t done = onlyEntry().id;
  // The other route, through the SQLite ODBC driver, reports SQLite's code as its native error
  // (after waiting its Timeout, in milliseconds).
  TdmDupsweep odbc;
  odbc.SetConnection("Provider=MSDASQL;Driver=SQLite3;Timeout=50;Database=" +
                     host.path().string());
  Cleanup odbcCleanup(odbc, journalFile);
  const auto before = dump();
  // Another deletion's transaction holds the database's write lock.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(host.path().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  const auto saysLocked = [](const std::function<void()>& attempt, texts::Operation operation,
                             const char* nothingDone) {
    try {
      attempt();
      ADD_FAILURE() << "went ahead under another deletion's lock";
    } catch (const DatabaseError& e) {
      const std::string text = texts::cleanupFailure(e, operation);
      EXPECT_EQ(text.rfind("另一个删除或恢复正在进行", 0), 0u) << text;
      EXPECT_NE(text.find(nothingDone), std::string::npos) << text;
      EXPECT_NE(text.find("database is locked"), std::string::npos) << text;
    }
  };
  for (Cleanup* module : {&cleanup, &odbcCleanup}) {
    saysLocked(
        [&] {
          module->DeleteRepeatedCopy(sheet, "U2", false, "T01", 1, {"乙", "乙=>丙", "U3", "丙"});
        },
        texts::Operation::Deletion, "没有删除任何数据");
    saysLocked([&] { module->RestoreDeletion(done); }, texts::Operation::Restore,
               "没有恢复任何数据");
  }
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(dump(), before);
}

TEST_F(JournaledDeletion, AFailureAfterTheEntryRollsTheHostBackAndMarksTheEntry) {
  const auto before = dump();
  // Three reads for the journal, two of both units' figures, then the DataNum, DataBalance and
  // Status deletions: an entry with every row is on the disk also when the first deletion fails.
  for (int failing : {6, 8}) {
    faults->failNext(failing, failing == 6 ? Faults::Kind::Dropped : Faults::Kind::Error);
    EXPECT_THROW(deleteU1(), DatabaseError);
    EXPECT_EQ(dump(), before) << failing;
  }
  journal::Journal log(journalFile, journal::Journal::Mode::ReadOnly);
  const auto entries = log.list();
  ASSERT_EQ(entries.size(), 2u);
  for (const journal::Entry& e : entries) {
    EXPECT_EQ(e.state, journal::State::RolledBack);
    EXPECT_EQ(e.savedRows(), 5);
    EXPECT_THROW(cleanup.RestoreDeletion(e.id), RestoreRefused);
  }
  EXPECT_EQ(dump(), before);
}

TEST_F(JournaledDeletion, AJournalThatCannotBeWrittenStopsTheDeletionBeforeItStarts) {
  const auto before = dump();
  std::ofstream(journalFile, std::ios::binary) << "not a journal, but someone's file";
  try {
    deleteU1();
    FAIL() << "deleted without a journal";
  } catch (const JournalError& e) {
    const std::string text = texts::journalFailure(e);
    EXPECT_NE(text.find("数据没有删除"), std::string::npos) << text;
  }
  EXPECT_EQ(dump(), before);
  for (const std::string& text : faults->texts) EXPECT_FALSE(text.starts_with("Delete")) << text;
  std::ifstream in(journalFile, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            "not a journal, but someone's file");
}

TEST_F(JournaledDeletion, ARestoreIsWholeOrNothingAndRefusesWhatItCannotDoSafely) {
  const auto before = dump();
  deleteU1();
  const auto deleted = dump();
  const std::int64_t id = onlyEntry().id;

  // Three reads, then one insertion per row: the second insertion fails.
  faults->failNext(5);
  EXPECT_THROW(cleanup.RestoreDeletion(id), DatabaseError);
  EXPECT_EQ(dump(), deleted);
  EXPECT_EQ(onlyEntry().state, journal::State::Done);

  // A row the unit has again, in any of the tables, is a conflict.
  host.exec("INSERT INTO Status VALUES ('2024N','U1','T01',1)");
  EXPECT_THROW(cleanup.RestoreDeletion(id), RestoreRefused);
  host.exec("DELETE FROM Status WHERE sUnitCode='U1' AND nLevel=1");
  // Columns that are not the saved ones.
  host.exec("ALTER TABLE DataBalanceT01_B01_1 ADD COLUMN nExtra INTEGER");
  try {
    cleanup.RestoreDeletion(id);
    FAIL() << "restored into changed columns";
  } catch (const RestoreRefused& e) {
    const std::string text = texts::restoreRefusal(e);
    EXPECT_NE(text.find("DataBalanceT01_B01_1 的列与删除时不同"), std::string::npos) << text;
  }
  host.exec("ALTER TABLE DataBalanceT01_B01_1 DROP COLUMN nExtra");
  EXPECT_EQ(dump(), deleted);

  EXPECT_EQ(cleanup.RestoreDeletion(id), 5);
  EXPECT_EQ(dump(), before);
  // A second restore is refused whatever the tables hold now.
  deleteU1();
  try {
    cleanup.RestoreDeletion(id);
    FAIL() << "restored twice";
  } catch (const RestoreRefused& e) {
    const std::string text = texts::restoreRefusal(e);
    EXPECT_NE(text.find("已经在"), std::string::npos) << text;
  }
  EXPECT_EQ(dump(), deleted);
}

TEST_F(JournaledDeletion, TheRoundTripHoldsThroughTheOdbcDriverManager) {
  const auto before = dump();
  TdmDupsweep odbc;
  odbc.SetConnection("Provider=MSDASQL;Driver=SQLite3;Database=" + host.path().string());
  Cleanup odbcCleanup(odbc, journalFile);
  EXPECT_EQ(odbcCleanup.DeleteRepeatedCopy(sheet, "U1", true, "T01", 1,
                                           {"甲", "甲=>乙", "U2", "乙"}),
            5);
  EXPECT_NE(dump(), before);
  EXPECT_EQ(odbcCleanup.RestoreDeletion(onlyEntry().id), 5);
  EXPECT_EQ(dump(), before);
}

}  // namespace
}  // namespace dupsweep
