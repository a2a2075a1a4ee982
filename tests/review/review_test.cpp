// Reviewing what discovery finds, on a real SQLite host database and journal: a decision holds
// while both sides' rows are unchanged and survives a damaged journal's refusal; several copies
// deleted as one batch go back in one step, and a batch stopped by changed rows keeps its done
// part journaled and says what was and was not done.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <map>
#include <sstream>

#include "cleanup/review.h"
#include "data/dmdupsweep.h"
#include "demodb.h"
#include "engine/discovery.h"
#include "journal/journal.h"
#include "platform/spreadsheet/reader.h"
#include "support/sqlite_file.h"
#include "support/table_dump.h"
#include "support/temp_dir.h"
#include "ui/dupsweep/reviewreport.h"
#include "ui/texts.h"

namespace dupsweep {
namespace {

std::string bytesOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Four units of classification 01; U1 and U2 handed in the same figures on all three sheets,
// U3 and U4 differ in one cell of S1.
class Review : public ::testing::Test {
 protected:
  void SetUp() override {
    host.createHostSchema();
    std::string sql =
        "INSERT INTO Period VALUES ('P1','期',1);"
        "INSERT INTO SampleTableVts VALUES ('P1','T01',1,1,0,X'504B0304');";
    for (int s = 1; s <= 3; ++s) {
      const std::string sheet = "S" + std::to_string(s);
      sql += "INSERT INTO PeriodTable VALUES ('P1','T01',1,'" + sheet + "','表" + sheet + "'," +
             std::to_string(s) + (s == 1 ? ",1);" : ",0);");
      sql += "CREATE TABLE DataNumT01_" + sheet +
             "_1 (sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, sTaskCode TEXT, nLevel INTEGER, "
             "f1 NUMERIC, f2 NUMERIC, t TEXT);";
      sql += "CREATE TABLE DataBalanceT01_" + sheet +
             "_1 (sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER);";
      for (int u = 1; u <= 4; ++u) {
        const std::string code = "U" + std::to_string(u);
        const int base = (u == 2 ? 1 : u == 4 ? 3 : u) * 100 + s * 10;
        for (int r = 1; r <= 3; ++r) {
          const bool odd = u == 4 && s == 1 && r == 2;
          sql += "INSERT INTO DataNumT01_" + sheet + "_1 VALUES ('P1','" + code + "'," +
                 std::to_string(r) + ",'T01',1," + std::to_string(base + r) + "," +
                 (odd ? "0.5" : std::to_string(base * 2 + r)) + ",'t" + std::to_string(base) +
                 "');";
        }
        sql += "INSERT INTO DataBalanceT01_" + sheet + "_1 VALUES ('P1','" + code + "',1);";
      }
    }
    for (int u = 1; u <= 4; ++u)
      sql += "INSERT INTO Unit VALUES (" + std::to_string(u) + ",'单位" + std::to_string(u) +
             "'); INSERT INTO UnitClsAndUnit VALUES ('01'," + std::to_string(u) + ",0,NULL,'U" +
             std::to_string(u) + "'); INSERT INTO Status VALUES ('P1','U" + std::to_string(u) +
             "','T01',1);";
    host.exec(sql);
    dm.SetConnection(host.connectionString());
  }

  ReviewSession session() {
    ProgressSink quiet;
    return ReviewSession(dm, DuplicateDiscovery(dm, "P1", "T01", 1, "01").Run(quiet), "T01", 1,
                         journal);
  }
  std::vector<std::string> dump() {
    std::vector<std::string> tables{"Status"};
    for (const char* s : {"S1", "S2", "S3"}) {
      tables.push_back(std::string("DataNumT01_") + s + "_1");
      tables.push_back(std::string("DataBalanceT01_") + s + "_1");
    }
    return testing::dumpTables(host.path(), tables);
  }

  testing::SqliteFile host;
  testing::TempDir dir;
  std::filesystem::path journal = dir / "journal.db";
  TdmDupsweep dm;
};

TEST_F(Review, ALegitimateFindingIsHiddenUntilEitherSidesRowsChange) {
  {
    ReviewSession review = session();
    review.mark(review.find("U2", "U1", "S1"), Mark::Legitimate, "总部代报");
    review.mark(review.find("U1", "U2", "S2"), Mark::Confirmed, {});
  }
  ReviewSession again = session();
  const ReviewedFinding& s1 = again.findings()[again.find("U1", "U2", "S1")];
  EXPECT_EQ(s1.mark, Mark::Legitimate);
  EXPECT_FALSE(s1.changed());
  EXPECT_EQ(s1.decision->note, "总部代报");
  EXPECT_EQ(s1.decision->who, journal::currentUser());
  EXPECT_EQ(again.findings()[again.find("U1", "U2", "S2")].mark, Mark::Confirmed);
  EXPECT_EQ(again.findings()[again.find("U1", "U2", "S3")].mark, Mark::Pending);
  EXPECT_EQ(again.findings()[again.find("U3", "U4", "S1")].mark, Mark::Pending);

  // Both sides change alike: still identical, but no longer what was decided on.
  host.exec("UPDATE DataNumT01_S1_1 SET f1 = 7 WHERE nRow = 1 AND sUnitCode IN ('U1','U2')");
  {
    ReviewSession changed = session();
    const ReviewedFinding& f = changed.findings()[changed.find("U1", "U2", "S1")];
    EXPECT_EQ(f.finding.kind, kIdenticalKind);
    EXPECT_EQ(f.mark, Mark::Pending);
    EXPECT_TRUE(f.changed());
    EXPECT_EQ(f.decision->mark, Mark::Legitimate);  // the old decision is shown
  }
  // Marked again on the rows as they are now, then one side changes: a near-copy now, listed
  // again as pending with its old decision.
  session().mark(session().find("U1", "U2", "S1"), Mark::Legitimate, {});
  EXPECT_EQ(session().findings()[session().find("U1", "U2", "S1")].mark, Mark::Legitimate);
  host.exec("UPDATE DataNumT01_S1_1 SET f2 = 1 WHERE nRow = 3 AND sUnitCode = 'U2'");
  ReviewSession near = session();
  const ReviewedFinding& f = near.findings()[near.find("U1", "U2", "S1")];
  EXPECT_EQ(f.finding.kind, kNearKind);
  EXPECT_EQ(f.mark, Mark::Pending);
  EXPECT_TRUE(f.changed());
}

TEST_F(Review, ADecisionSurvivesTheRefusalOfADamagedJournal) {
  ReviewSession review = session();
  review.mark(review.find("U1", "U2", "S1"), Mark::Legitimate, "keep");
  review.deleteCopies({{review.find("U1", "U2", "S3"), Right}});  // rows in DeletedValue
  testing::corruptSqliteTable(journal, "DeletedValue");
  const std::string before = bytesOf(journal);
  try {
    review.mark(review.find("U1", "U2", "S2"), Mark::Confirmed, {});
    ADD_FAILURE() << "wrote into a damaged journal";
  } catch (const JournalError& e) {
    EXPECT_NE(texts::journalFailure(e).find("已损坏"), std::string::npos)
        << texts::journalFailure(e);
  }
  EXPECT_EQ(bytesOf(journal), before);
  EXPECT_EQ(testing::dumpTable(journal, "Decision").size(), 1u);
}

TEST_F(Review, ABatchOfThreeDeletionsRestoresInOneStep) {
  const auto before = dump();
  ReviewSession review = session();
  const Cleanup::BatchOutcome done = review.deleteCopies({{review.find("U1", "U2", "S1"), Right},
                                                          {review.find("U1", "U2", "S2"), Right},
                                                          {review.find("U1", "U2", "S3"), Right}});
  ASSERT_FALSE(done.stopped);
  EXPECT_EQ(done.rows, (std::vector<std::int64_t>{4, 4, 5}));  // the Status row with the last
  EXPECT_NE(dump(), before);

  Cleanup cleanup(dm, journal);
  const auto entries = cleanup.DeletionEntries();
  ASSERT_EQ(entries.size(), 3u);
  for (const journal::Entry& e : entries) EXPECT_EQ(e.batch, done.batch);
  EXPECT_EQ(cleanup.RestoreBatch(done.batch), 13);
  EXPECT_EQ(dump(), before);
  for (const journal::Entry& e : cleanup.DeletionEntries())
    EXPECT_EQ(e.state, journal::State::Restored);
  // A whole batch or nothing: restored once, it is refused naming an entry, and changes nothing.
  try {
    cleanup.RestoreBatch(done.batch);
    ADD_FAILURE() << "restored twice";
  } catch (const RestoreRefused& e) {
    EXPECT_EQ(e.reason(), RestoreRefused::Reason::AlreadyRestored);
    EXPECT_EQ(e.facts().id, entries[0].id);
  }
  EXPECT_EQ(dump(), before);
}

TEST_F(Review, ABatchStoppedByChangedRowsKeepsWhatItDidAndSaysSo) {
  ReviewSession review = session();
  host.exec("UPDATE DataNumT01_S2_1 SET f1 = 0 WHERE nRow = 1 AND sUnitCode = 'U1'");
  const Cleanup::BatchOutcome done = review.deleteCopies({{review.find("U1", "U2", "S1"), Right},
                                                          {review.find("U1", "U2", "S2"), Right},
                                                          {review.find("U1", "U2", "S3"), Right}});
  ASSERT_EQ(done.rows.size(), 1u);
  ASSERT_TRUE(done.stopped);
  const std::string said = texts::batchDeletion(3, done.rows.size(), done.stopped);
  EXPECT_NE(said.find("已删除 1 份"), std::string::npos) << said;
  EXPECT_NE(said.find("其余 2 份没有删除"), std::string::npos) << said;
  EXPECT_NE(said.find("不再相同"), std::string::npos) << said;

  const auto entries = Cleanup(dm, journal).DeletionEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].sampleCode, "S1");
  EXPECT_EQ(entries[0].state, journal::State::Done);
  EXPECT_EQ(entries[0].batch, done.batch);
  EXPECT_EQ(entries[0].tables.size(), 2u);  // not the last sheet: the Status row stays
  EXPECT_EQ(testing::dumpTable(host.path(), "DataNumT01_S3_1").size(), 12u);
}

// The case file: a row per finding with its decision and the journal entry that deleted a copy,
// and a sheet of the differing cells of each confirmed finding.
TEST_F(Review, TheReportNamesDecisionsDeletionsAndTheCellsOfConfirmedFindings) {
  ReviewSession review = session();
  review.mark(review.find("U4", "U3", "S1"), Mark::Confirmed, "抄错一格");
  const Cleanup::BatchOutcome done = review.deleteCopies({{review.find("U1", "U2", "S3"), Right}});
  ASSERT_FALSE(done.stopped);
  std::vector<std::vector<CellDifference>> cells;
  for (const ReviewedFinding& f : review.findings())
    cells.push_back(differingCells(dm, review.result(), f.finding));
  const std::string file = (dir / "review.xlsx").string();
  writeReviewWorkbook(file, review.result(), review.findings(), cells,
                      Cleanup(dm, journal).DeletionEntries());

  const sheet::Workbook book = sheet::readWorkbook(file);
  ASSERT_EQ(book.sheetCount(), 2);
  const sheet::Worksheet& rows = book.sheet(1);
  std::map<std::string, std::string> lines;  // units and sheet -> decision, note, deleted
  for (int row = 2; row <= rows.lastRow(); ++row)
    lines[std::string(rows.text(row, 2)) + std::string(rows.text(row, 5)) +
          std::string(rows.text(row, 7))] =
        std::string(rows.text(row, 9)) + "|" + std::string(rows.text(row, 13)) + "|" +
        std::string(rows.text(row, 14)) + "|" + std::string(rows.text(row, 17));
  EXPECT_EQ(lines["U3U4S1"], "近似|确认重复|抄错一格|");
  EXPECT_EQ(lines["U1U2S3"],
            "相同|待审||" + std::to_string(Cleanup(dm, journal).DeletionEntries()[0].id));
  const sheet::Worksheet& confirmed = book.sheet(2);
  EXPECT_EQ(confirmed.lastRow(), 2);  // the one differing cell: row 2, figure f2
  EXPECT_EQ(std::string(confirmed.text(2, 1)) + "|" + std::string(confirmed.text(2, 2)) + "|" +
                std::string(confirmed.text(2, 3)) + "|" + std::string(confirmed.text(2, 4)),
            "2|2|622|0.5");
}

// Findings against an earlier period and rescaled copies are reviewed like the others: the
// right side of a finding against 2023 is read from that period's own table, and a rescaled
// copy's cells break nothing when its factor is applied.
TEST(ReviewAcrossPeriods, EarlierAndRescaledFindingsAreReviewedOnTheirOwnRows) {
  testing::TempDir dir;
  demodb::DemoOptions options;
  options.out = dir / "demo.db";
  demodb::writeDemoDatabase(options);
  const demodb::DemoPlan plan = demodb::planDemo(options);
  TdmDupsweep dm;
  dm.SetConnection("Provider=SQLite;Data Source=" + options.out.string());
  DiscoverySettings settings;
  settings.againstPeriod = "2023N";
  ProgressSink quiet;
  const auto open = [&] {
    return ReviewSession(dm,
                         DuplicateDiscovery(dm, "2024N", plan.taskCode, plan.sampleLevel,
                                            plan.unitClsCode, settings)
                             .Run(quiet),
                         plan.taskCode, plan.sampleLevel, dir / "journal.db");
  };
  ReviewSession review = open();
  const std::size_t carried = review.find("010103", "010103", "B01", "2023N");
  const std::size_t copied = review.find("020104", "020102", "B01", "2023N");
  const std::size_t scaled = review.find("030303", "010104", "B01");
  EXPECT_EQ(review.findings()[carried].finding.kind, kCarriedKind);
  EXPECT_EQ(review.findings()[copied].finding.kind, kCopiedFromKind);
  const Finding& rescaled = review.findings()[scaled].finding;
  ASSERT_EQ(rescaled.kind, kScaledKind);
  EXPECT_EQ(std::abs(rescaled.exponent), 3);
  EXPECT_TRUE(differingCells(dm, review.result(), rescaled).empty());
  // The cells whose figures differ in text but that the factor explains.
  EXPECT_FALSE(differingCells(dm, review.result(), rescaled, true).empty());
  EXPECT_TRUE(differingCells(dm, review.result(), review.findings()[copied].finding).empty());

  review.mark(carried, Mark::Legitimate, "上期数据未变");
  EXPECT_EQ(open().findings()[carried].mark, Mark::Legitimate);
}

}  // namespace
}  // namespace dupsweep
