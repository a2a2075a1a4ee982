// dupsweep-restore as the operator runs it, on a real host database and journal: list prints the
// entries, show their rows, restore puts them back once, prune removes old ones; a damaged
// journal is one clear line with exit status 1 and stays as it was.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "cleanup/cleanup.h"
#include "data/dmdupsweep.h"
#include "support/sqlite_file.h"
#include "support/table_dump.h"
#include "support/temp_dir.h"

namespace dupsweep {
namespace {

struct ProgramResult {
  int status;
  std::string output;
};

ProgramResult runProgram(const std::string& args) {
  const std::string cmd = std::string(RESTORE_PROGRAM) + " " + args + " 2>&1";
  ProgramResult r{0, {}};
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  while (std::size_t n = fread(buf, 1, sizeof buf, p)) r.output.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

class RestoreProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    host.createHostSchema();
    host.exec(R"(
      CREATE TABLE DataNumT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER, nF1 NUMERIC);
      CREATE TABLE DataBalanceT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER);
      INSERT INTO DataNumT01_B01_1 VALUES ('2024N','U1',4,1.5),('2024N','U1',5,NULL),
                                          ('2024N','U2',4,1.5),('2024N','U2',5,NULL),
                                          ('2024N','U3',4,1.5),('2024N','U3',5,NULL);
      INSERT INTO DataBalanceT01_B01_1 VALUES ('2024N','U1',4),('2024N','U2',4);
      INSERT INTO Status VALUES ('2024N','U1','T01',1),('2024N','U2','T01',1);
    )");
    sheet.sTaskCode = "T01";
    sheet.sSampleCode = "B01";
    sheet.sSampleName = "资产负债表";
    sheet.nSampleLevel = 1;
    sheet.sPeriodID = "2024N";
    dm.SetConnection(host.connectionString());
  }
  std::vector<std::string> dump() {
    return testing::dumpTables(host.path(), {"DataNumT01_B01_1", "DataBalanceT01_B01_1", "Status"});
  }
  std::string tool(const std::string& command) {
    return "--journal " + quoted(journal.string()) + " " + command;
  }

  testing::SqliteFile host;
  testing::TempDir dir;
  std::filesystem::path journal = dir / "journal.db";
  TdmDupsweep dm;
  Cleanup cleanup{dm, journal};
  TSampleData sheet;
};

TEST_F(RestoreProgram, ListShowRestoreOnceAndPrune) {
  const auto before = dump();
  // Only copies still identical are deleted; these rows have no figure column, so every pair of
  // units with as many rows is identical.
  cleanup.DeleteRepeatedCopy(sheet, "U1", true, "T01", 1, {"甲", "甲=>乙", "U2", "乙"});
  cleanup.DeleteRepeatedCopy(sheet, "U2", false, "T01", 1, {"乙", "乙=>丙", "U3", "丙"});

  const ProgramResult list = runProgram(tool("list"));
  EXPECT_EQ(list.status, 0) << list.output;
  std::istringstream lines(list.output);
  std::vector<std::string> printed;
  for (std::string line; std::getline(lines, line);) printed.push_back(line);
  ASSERT_EQ(printed.size(), 2u) << list.output;
  for (const char* part : {"1\t", "\tdone\t2024N\t甲=>乙\t甲 (U1)\t资产负债表\t4 rows\t"})
    EXPECT_NE(printed[0].find(part), std::string::npos) << printed[0];
  EXPECT_NE(printed[0].find(host.connectionString()), std::string::npos) << printed[0];
  EXPECT_NE(printed[1].find("乙 (U2)\t资产负债表\t3 rows"), std::string::npos) << printed[1];

  const ProgramResult show = runProgram(tool("show 1"));
  EXPECT_EQ(show.status, 0) << show.output;
  for (const char* part : {"table DataNumT01_B01_1: 2 rows saved, 2 deleted",
                           "sPeriodID sUnitCode nRow nF1", "2024N U1 5 NULL", "table Status"})
    EXPECT_NE(show.output.find(part), std::string::npos) << show.output;

  // The entry's own database, then another connection string naming the same file.
  EXPECT_EQ(runProgram(tool("restore 1")).output, "entry 1: 4 rows restored\n");
  const ProgramResult twice = runProgram(tool("restore 1"));
  EXPECT_EQ(twice.status, 1);
  EXPECT_EQ(twice.output.rfind("dupsweep-restore: 编号为 1 的删除记录已经在", 0), 0u)
      << twice.output;
  const ProgramResult other = runProgram(
      tool("--conn " + quoted("Provider=MSDASQL;Driver=SQLite3;Database=" + host.path().string()) +
           " restore 2"));
  EXPECT_EQ(other.output, "entry 2: 3 rows restored\n");
  EXPECT_EQ(dump(), before);

  for (const char* day : {"2025-02-30", "2023-02-29", "2024-04-31"}) {
    const ProgramResult impossible = runProgram(tool(std::string("prune --before ") + day));
    EXPECT_EQ(impossible.status, 1) << day << ": " << impossible.output;
  }
  EXPECT_EQ(runProgram(tool("prune --before 2000-02-29")).output,
            "0 entries made before 2000-02-29 removed\n");
  EXPECT_EQ(runProgram(tool("prune --before 9999-12-31")).output,
            "2 entries made before 9999-12-31 removed\n");
  EXPECT_EQ(runProgram(tool("list")).output, "no entries in " + journal.string() + "\n");
}

// A batch is the last column of list, and restore-batch puts it back whole, or names the entry
// that stops it and changes nothing.
TEST_F(RestoreProgram, RestoreBatchPutsAWholeBatchBackOrNothing) {
  const auto before = dump();
  const Cleanup::BatchOutcome done = cleanup.DeleteBatch(
      {{sheet, "U1", false, "T01", 1, {"甲", "甲=>丙", "U3", "丙"}},
       {sheet, "U2", true, "T01", 1, {"乙", "乙=>丙", "U3", "丙"}}});
  ASSERT_FALSE(done.stopped);
  const std::string batch = std::to_string(done.batch);
  const ProgramResult list = runProgram(tool("list"));
  std::istringstream lines(list.output);
  int inBatch = 0;
  for (std::string line; std::getline(lines, line);)
    inBatch += line.size() > batch.size() && line.ends_with("\t" + batch) ? 1 : 0;
  EXPECT_EQ(inBatch, 2) << list.output;

  // U1's rows come back by hand: the batch cannot go back whole, and nothing of it does.
  host.exec("INSERT INTO DataNumT01_B01_1 VALUES ('2024N','U1',4,9)");
  const ProgramResult refused = runProgram(tool("restore-batch " + batch));
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.output.rfind("dupsweep-restore: 批次 " + batch + " 中编号为 1 的删除记录无法恢复", 0),
            0u)
      << refused.output;
  host.exec("DELETE FROM DataNumT01_B01_1 WHERE sUnitCode = 'U1'");
  EXPECT_EQ(runProgram(tool("restore-batch " + batch)).output,
            "batch " + batch + ": 7 rows restored\n");
  EXPECT_EQ(dump(), before);
}

TEST_F(RestoreProgram, ADamagedJournalIsOneLineAndStaysAsItWas) {
  const std::string garbage(4096, '\x7f');
  std::ofstream(journal, std::ios::binary) << garbage;
  for (const char* command : {"list", "show 1", "restore 1", "prune --before 2024-01-01"}) {
    const ProgramResult r = runProgram(tool(command));
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << r.output;  // one line
    EXPECT_EQ(r.output.rfind("dupsweep-restore: 删除日志 " + journal.string() + " 已损坏", 0), 0u)
        << r.output;
  }
  std::ifstream in(journal, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), garbage);
  EXPECT_FALSE(std::filesystem::exists(journal.string() + "-journal"));

  // A mistyped journal is not made by pruning it.
  const std::filesystem::path typo = dir / "typo" / "journal.db";
  const ProgramResult missing =
      runProgram("--journal " + quoted(typo.string()) + " prune --before 2024-01-01");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find(typo.string() + " 不存在"), std::string::npos) << missing.output;
  EXPECT_FALSE(std::filesystem::exists(dir / "typo"));

  for (const char* bad : {"show x", "restore", "prune", "list --conn x", "undo 1"}) {
    const ProgramResult r = runProgram(tool(bad));
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_EQ(r.output.rfind("dupsweep-restore: ", 0), 0u) << r.output;
  }
}

// The restore window lists a database's deletions whatever string reaches the database: the
// entry names it by the string of its deletion.
TEST_F(RestoreProgram, ADatabaseIsKnownByAnyStringThatReachesIt) {
  cleanup.DeleteRepeatedCopy(sheet, "U1", true, "T01", 1, {"甲", "甲=>乙", "U2", "乙"});
  const std::string path = host.path().string();
  std::filesystem::create_symlink(host.path(), dir / "link.db");
  const std::string dotted = (host.dir() / "." / host.path().filename()).string();
  for (const std::string& conn :
       {"provider=sqlite;DATA SOURCE=" + path, "Provider = SQLite ; Data Source = " + path + " ;",
        "Data Source=" + path + ";Provider=SQLite",
        "Provider=SQLite;Data Source=" + (dir / "link.db").string(),
        "Provider=SQLite;Data Source=" + dotted,
        "Provider=MSDASQL;Driver=SQLite3;Database=" + path,
        "Provider=MSDASQL;Extended Properties=\"DRIVER=SQLite3;Database=" + dotted + "\""}) {
    TdmDupsweep other;
    other.SetConnection(conn);
    EXPECT_EQ(Cleanup(other, journal).DeletionEntries().size(), 1u) << conn;
  }
  testing::SqliteFile another;
  TdmDupsweep other;
  other.SetConnection(another.connectionString());
  EXPECT_TRUE(Cleanup(other, journal).DeletionEntries().empty());
}

}  // namespace
}  // namespace dupsweep
