// A deletion and its restore through the SQLite ODBC driver, which hands every value over as a
// text it has made of it: every kind of value SQLite keeps must come back exactly as it was, in
// a database that keeps its text in UTF-8 and in one that keeps it in UTF-16. A value that the
// journal cannot keep stops the deletion before anything is deleted or journaled.
#include <gtest/gtest.h>

#include <cmath>

#include "cleanup/cleanup.h"
#include "data/dmdupsweep.h"
#include "platform/db/forwarding_connection.h"
#include "support/sqlite_file.h"
#include "support/table_dump.h"
#include "support/temp_dir.h"
#include "ui/texts.h"

namespace dupsweep {
namespace {

// The sheet B01 of period 2024N, task T01, level 1.
TSampleData sheetB01() {
  TSampleData sheet;
  sheet.sTaskCode = "T01";
  sheet.sSampleCode = "B01";
  sheet.nSampleLevel = 1;
  sheet.sPeriodID = "2024N";
  return sheet;
}

TEST(JournalThroughOdbc, EveryValueComesBackExactly) {
  for (const char* encoding : {"UTF-8", "UTF-16le"}) {
    SCOPED_TRACE(encoding);
    testing::SqliteFile host;
    host.exec(std::string("PRAGMA encoding = '") + encoding + "'");
    host.createHostSchema();
    // Declared types as the host's tables have them, and a column without one, which keeps
    // each value as it was given.
    host.exec(R"(
      CREATE TABLE DataNumT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER,
        nDec DECIMAL(18,2), fReal REAL, xAny, oBlob BLOB, sText TEXT, bFlag BOOLEAN, dWhen DATETIME);
      CREATE TABLE DataBalanceT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, nB NUMERIC);
      INSERT INTO DataNumT01_B01_1 VALUES
        ('2024N','U1',1,'NaN',0.1+0.2,42,x'00FF','a'||char(0)||'b',1,'2024-03-01 12:30:00'),
        ('2024N','U1',2,1234.5,-1.7976931348623157e308,0.1+0.2,x'','中文',0,''),
        ('2024N','U1',3,'12,5',4.9406564584124654e-324,'X''00FF''',NULL,'',2,NULL),
        ('2024N','U1',4,NULL,9e999,x'0000',x'61',NULL,NULL,20240301),
        ('2024N','U1',5,7,'text',9223372036854775807,'Z',-9223372036854775808,'1',1.5),
        ('2024N','U1',6,-0.0,1e-7,'x'||char(0),char(0),'   ','true',-9e999);
      INSERT INTO DataNumT01_B01_1 SELECT sPeriodID, 'U2', nRow, nDec, fReal, xAny, oBlob, sText,
        bFlag, dWhen FROM DataNumT01_B01_1 WHERE sUnitCode = 'U1';
      INSERT INTO DataBalanceT01_B01_1 VALUES ('2024N','U1',1,'NaN'),('2024N','U1',2,0.1+0.2);
      INSERT INTO Status VALUES ('2024N','U1','T01',1);
    )");
    const std::vector<std::string> tables = {"DataNumT01_B01_1", "DataBalanceT01_B01_1", "Status"};
    const auto before = testing::dumpTables(host.path(), tables);

    testing::TempDir dir;
    TdmDupsweep odbc;
    odbc.SetConnection("Provider=MSDASQL;Driver=SQLite3;Database=" + host.path().string());
    Cleanup cleanup(odbc, dir / "journal.db");
    const TSampleData sheet = sheetB01();
    ASSERT_EQ(cleanup.DeleteRepeatedCopy(sheet, "U1", true, "T01", 1, {"甲", "甲=>乙", "U2", "乙"}),
              6 + 2 + 1);
    EXPECT_EQ(host.scalar("SELECT count(*) FROM DataNumT01_B01_1 WHERE sUnitCode = 'U1'"), 0);
    const auto entries = cleanup.DeletionEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(cleanup.RestoreDeletion(entries.front().id), 6 + 2 + 1);
    EXPECT_EQ(testing::dumpTables(host.path(), tables), before);
  }
}

// A driver that hands over a double NaN, which SQLite (and so the journal) would keep as NULL.
class NaNFigures : public db::ForwardingConnection {
 public:
  explicit NaNFigures(const std::string& connectionString)
      : ForwardingConnection(db::open(connectionString)) {}
  std::unique_ptr<db::RowSet> query(std::string_view sql) override {
    auto rows = inner().query(sql);
    std::vector<std::string> names;
    std::vector<db::Value> cells;
    for (int c = 0; c < rows->columnCount(); ++c) names.push_back(rows->columnName(c));
    for (int r = 0; r < rows->rowCount(); ++r)
      for (int c = 0; c < rows->columnCount(); ++c)
        cells.push_back(std::holds_alternative<double>(rows->at(r, c)) ? db::Value(std::nan(""))
                                                                       : rows->at(r, c));
    return std::make_unique<db::RowSet>(std::move(names), std::move(cells));
  }
};

TEST(JournalThroughOdbc, AValueTheJournalCannotKeepStopsTheDeletion) {
  testing::SqliteFile host;
  host.createHostSchema();
  host.exec(R"(
    CREATE TABLE DataNumT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, fReal REAL);
    CREATE TABLE DataBalanceT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER);
    INSERT INTO DataNumT01_B01_1 VALUES ('2024N','U1',1,0.5), ('2024N','U2',1,0.5);
  )");
  const auto before = testing::dumpTable(host.path(), "DataNumT01_B01_1");
  testing::TempDir dir;
  TdmDupsweep dm([](const std::string& s) { return std::make_unique<NaNFigures>(s); });
  dm.SetConnection(host.connectionString());
  Cleanup cleanup(dm, dir / "journal.db");
  const TSampleData sheet = sheetB01();
  try {
    cleanup.DeleteRepeatedCopy(sheet, "U1", false, "T01", 1, {"甲", "甲=>乙", "U2", "乙"});
    FAIL() << "deleted a value the journal cannot keep";
  } catch (const JournalError& e) {
    const std::string what = texts::journalFailure(e);
    EXPECT_NE(what.find("fReal"), std::string::npos) << what;
    EXPECT_NE(what.find("NaN"), std::string::npos) << what;
    EXPECT_NE(what.find("数据没有删除"), std::string::npos) << what;
  }
  EXPECT_EQ(testing::dumpTable(host.path(), "DataNumT01_B01_1"), before);
  EXPECT_TRUE(cleanup.DeletionEntries().empty());
}

}  // namespace
}  // namespace dupsweep
