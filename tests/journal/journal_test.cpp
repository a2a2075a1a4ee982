// The deletion journal on real SQLite files: every kind of value comes back as it went in, where
// the file lives and who may read it, and the faults: a damaged, foreign, locked, read-only or
// full journal fails with a clear message and the file is left as it was; a write cut short is
// rolled back, also for reading.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "journal/journal.h"
#include "platform/errors.h"
#include "support/faulty_vfs.h"
#include "support/sqlite_file.h"
#include "support/temp_dir.h"
#include "ui/texts.h"

namespace dupsweep::journal {
namespace {

using testing::TempDir;

std::string bytesOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

unsigned modeOf(const std::filesystem::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

// An entry of two tables whose rows hold a value of every kind.
Entry sampleEntry(const std::string& when = "2024-05-01T08:00:00Z") {
  Entry e;
  e.when = when;
  e.database = "Provider=SQLite;Data Source=/tmp/host.db";
  e.periodId = "2024N";
  e.taskCode = "T01";
  e.level = -1;
  e.unitCode = "U'1";
  e.unitName = "甲";
  e.pairName = "甲=>乙";
  e.otherUnitCode = "U2";
  e.otherUnitName = "乙";
  e.sampleCode = "B01";
  e.sampleName = "资产负债表";
  SavedTable num{"DataNumT01_B01_-1", {"sPeriodID", "nRow", "cA", "cB", "cC", "cD", "cE", "cF"},
                 {}, 0, -1};
  num.rows.push_back({std::string("2024N"), std::int64_t{-9007199254740993}, db::Decimal{"1234.50"},
                      1.5e-300, db::Bytes{0, 1, 255}, db::DateTime{"2024-03-01 12:30:00"}, true,
                      db::Null{}});
  num.rows.push_back({std::string("a\0b", 3), std::int64_t{0}, db::Decimal{"-0.0"}, -0.0,
                      db::Bytes{}, db::DateTime{""}, false, std::string()});
  e.tables.push_back(num);
  e.tables.push_back({"DataBalanceT01_B01_-1", {"sPeriodID"}, {}, 0, -1});
  return e;
}

TEST(Journal, AnEntryComesBackWithEveryValueOfItsOwnKind) {
  TempDir dir;
  const Entry written = sampleEntry();
  Journal log(dir / "sub" / "journal.db", Journal::Mode::ReadWrite);  // the directory is made
  const std::int64_t id = log.add(written);

  Journal reader(dir / "sub" / "journal.db", Journal::Mode::ReadOnly);
  const Entry read = reader.get(id);
  EXPECT_EQ(read.state, State::Pending);
  EXPECT_EQ(read.unitCode, "U'1");
  EXPECT_EQ(read.level, -1);
  EXPECT_EQ(read.sampleName, "资产负债表");
  ASSERT_EQ(read.tables.size(), 2u);
  EXPECT_EQ(read.tables[0].columns, written.tables[0].columns);
  EXPECT_EQ(read.tables[0].rows, written.tables[0].rows);  // kinds included: variant equality
  EXPECT_TRUE(read.tables[1].rows.empty());
  EXPECT_EQ(read.savedRows(), 2);

  // The list has the counts but not the rows, and only the database asked for.
  ASSERT_EQ(reader.list().size(), 1u);
  EXPECT_TRUE(reader.list()[0].tables[0].rows.empty());
  EXPECT_EQ(reader.list()[0].savedRows(), 2);
  EXPECT_TRUE(reader.list(std::string("Provider=SQLite;Data Source=/other.db")).empty());
  EXPECT_THROW(reader.get(id + 1), JournalError);
}

TEST(Journal, WhereItLivesAndWhatItNamesTheDatabase) {
  const auto set = [](const char* name, const char* value) {
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  };
  set("DUPSWEEP_JOURNAL", "/j/own.db");
  set("XDG_DATA_HOME", "/xdg");
  EXPECT_EQ(defaultPath(), "/j/own.db");
  set("DUPSWEEP_JOURNAL", "");
  EXPECT_EQ(defaultPath(), "/xdg/dupsweep/journal.db");
  set("XDG_DATA_HOME", nullptr);
  set("HOME", "/home/op");
  EXPECT_EQ(defaultPath(), "/home/op/.local/share/dupsweep/journal.db");
  set("XDG_DATA_HOME", "relative");  // not absolute: ignored, as the base directory rules say
  EXPECT_EQ(defaultPath(), "/home/op/.local/share/dupsweep/journal.db");

  const std::string named = withoutSecrets(
      "Provider=SQLOLEDB;Data Source=srv;User ID=sa;Password=S3cret;Initial Catalog=R");
  EXPECT_EQ(named.find("S3cret"), std::string::npos) << named;
  EXPECT_NE(named.find("Data Source=srv"), std::string::npos) << named;
  EXPECT_EQ(withoutSecrets("Provider=MSDASQL;DSN=x;PWD={a;b}").find("a;b"), std::string::npos);
  EXPECT_EQ(withoutSecrets("Provider=SQLite;Data Source=/d/host.db"),
            "Provider=SQLite;Data Source=/d/host.db");
}

// The journal keeps a copy of every deleted figure: nobody else may read it, and it is not
// written where others could change it. (Tests run as root, which no mode stops: the modes set
// and the refusals are what is checked.)
TEST(Journal, PrivateWhateverTheUmaskAndNeverWrittenWhereOthersMayWrite) {
  TempDir dir;
  const std::filesystem::path inner = dir / "a" / "b", file = inner / "journal.db";
  const mode_t umaskBefore = ::umask(0);
  { Journal(file, Journal::Mode::ReadWrite).add(sampleEntry()); }
  ::umask(umaskBefore);
  EXPECT_EQ(modeOf(dir / "a"), 0700u);
  EXPECT_EQ(modeOf(inner), 0700u);
  EXPECT_EQ(modeOf(file), 0600u);

  // A journal left readable by all: reading leaves it, writing makes it private.
  ::chmod(file.c_str(), 0644);
  EXPECT_EQ(Journal(file, Journal::Mode::ReadOnly).list().size(), 1u);
  EXPECT_EQ(modeOf(file), 0644u);
  { Journal log(file, Journal::Mode::ReadWrite); }
  EXPECT_EQ(modeOf(file), 0600u);

  const std::pair<std::filesystem::path, unsigned> open[] = {{file, 0620}, {inner, 0703}};
  for (const auto& [path, mode] : open) {
    const unsigned before = modeOf(path);
    ::chmod(path.c_str(), mode);
    try {
      Journal log(file, Journal::Mode::ReadWrite);
      ADD_FAILURE() << "wrote where others may write: " << path;
    } catch (const JournalError& e) {
      EXPECT_NE(texts::journalFailure(e).find(path.string() + " 允许同组或其他用户写入"),
                std::string::npos)
          << texts::journalFailure(e);
    }
    EXPECT_EQ(modeOf(path), mode);
    EXPECT_EQ(Journal(file, Journal::Mode::ReadOnly).list().size(), 1u);
    ::chmod(path.c_str(), before);
  }
}

// A journal made before batches and decisions is read as it is and gains their tables when it is
// next written; its entries stay.
TEST(Journal, AJournalWithoutDecisionsIsReadAndExtended) {
  TempDir dir;
  const std::filesystem::path file = dir / "journal.db";
  { Journal(file, Journal::Mode::ReadWrite).add(sampleEntry()); }
  sqlite3* old = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &old), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(old, "DROP TABLE Batch; DROP TABLE DeletionBatch; DROP TABLE Decision;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(old);
  {
    Journal reader(file, Journal::Mode::ReadOnly);
    EXPECT_EQ(reader.list().size(), 1u);
    EXPECT_TRUE(reader.decisions().empty());
  }
  Journal log(file, Journal::Mode::ReadWrite);
  Decision d;
  d.key = {"sqlite:/h.db", "2024N", "", "T01", 1, "U1", "U2", "B01"};
  d.mark = Mark::Legitimate;
  log.decide(d);
  d.note = "again";
  log.decide(d);  // replaces the decision on the same finding
  ASSERT_EQ(log.decisions("sqlite:/h.db").size(), 1u);
  EXPECT_EQ(log.decisions()[0].note, "again");
  EXPECT_TRUE(log.decisions("sqlite:/other.db").empty());
  EXPECT_EQ(log.get(log.list()[0].id).tables[0].rows, sampleEntry().tables[0].rows);
}

// A journal that cannot be used is refused in both modes and stays byte for byte as it was.
class BadJournal : public ::testing::Test {
 protected:
  void expectRefusedAndUnchanged(const std::string& expected) {
    const std::string before = bytesOf(file);
    for (auto mode : {Journal::Mode::ReadWrite, Journal::Mode::ReadOnly}) {
      try {
        Journal log(file, mode);
        ADD_FAILURE() << "opened";
      } catch (const JournalError& e) {
        EXPECT_NE(texts::journalFailure(e).find(expected), std::string::npos)
            << texts::journalFailure(e);
        EXPECT_NE(texts::journalFailure(e).find(file.string()), std::string::npos)
            << texts::journalFailure(e);
      }
    }
    EXPECT_EQ(bytesOf(file), before);
    EXPECT_FALSE(std::filesystem::exists(file.string() + "-journal"));
  }
  TempDir dir;
  std::filesystem::path file = dir / "journal.db";
};

TEST_F(BadJournal, NotADatabase) {
  std::ofstream(file, std::ios::binary) << std::string(3000, '\x5a');
  expectRefusedAndUnchanged("已损坏");
}

TEST_F(BadJournal, ADamagedPage) {
  {
    Journal log(file, Journal::Mode::ReadWrite);
    log.add(sampleEntry());
  }
  testing::corruptSqliteTable(file, "DeletedValue");
  expectRefusedAndUnchanged("已损坏");
}

TEST_F(BadJournal, AnotherProgramsDatabase) {
  testing::SqliteFile other;
  other.exec("CREATE TABLE Deletion(x); INSERT INTO Deletion VALUES (1);");
  std::filesystem::copy_file(other.path(), file);
  expectRefusedAndUnchanged("不是 dupsweep 的删除日志");
}

TEST_F(BadJournal, OurMarkOnTablesOfAnotherLayout) {
  testing::SqliteFile other;
  other.exec("CREATE TABLE Deletion(nID INTEGER PRIMARY KEY, sWhen TEXT);"
             "PRAGMA application_id = 1685418099; PRAGMA user_version = 1;");
  std::filesystem::copy_file(other.path(), file);
  expectRefusedAndUnchanged("不是这种格式的删除日志");
}

// A write cut short (the program killed in the middle of a large entry) leaves its rollback
// journal beside the file. A reader rolls it back as a writer would and reads the journal as it
// was before; where the file cannot be written, the message says what was left behind.
TEST(JournalFaults, AWriteCutShortIsRolledBackAlsoForReading) {
  TempDir dir, copy;
  const std::filesystem::path file = dir / "journal.db", cut = copy / "journal.db";
  { Journal(file, Journal::Mode::ReadWrite).add(sampleEntry()); }
  const std::string before = bytesOf(file);
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &writer), SQLITE_OK);
  // A small page cache makes SQLite write pages into the file before the end of the write.
  ASSERT_EQ(sqlite3_exec(writer,
                         "PRAGMA cache_size = 4; BEGIN;"
                         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                         "WHERE i < 5000) INSERT INTO DeletedValue "
                         "SELECT 1, 0, 100 + i, 0, 6, randomblob(200) FROM n;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(modeOf(file.string() + "-journal"), 0600u);  // the side file is as private
  // The files as a kill would leave them now.
  std::filesystem::copy_file(file, cut);
  std::filesystem::copy_file(file.string() + "-journal", cut.string() + "-journal");
  EXPECT_NE(bytesOf(cut), before);
  sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(writer);

  {
    testing::FaultyVfs disk(copy.path());
    disk.mode = testing::FaultyVfs::Mode::ReadOnly;
    for (auto mode : {Journal::Mode::ReadOnly, Journal::Mode::ReadWrite}) {
      try {
        Journal log(cut, mode);
        ADD_FAILURE() << "read a journal with a write left unfinished";
      } catch (const JournalError& e) {
        EXPECT_NE(texts::journalFailure(e).find("上一次写入没有完成"), std::string::npos)
            << texts::journalFailure(e);
        EXPECT_NE(texts::journalFailure(e).find(cut.string() + "-journal"), std::string::npos);
      }
    }
  }
  Journal log(cut, Journal::Mode::ReadOnly);
  ASSERT_EQ(log.list().size(), 1u);
  EXPECT_EQ(log.get(log.list()[0].id).tables[0].rows, sampleEntry().tables[0].rows);
  EXPECT_FALSE(std::filesystem::exists(cut.string() + "-journal"));
  EXPECT_EQ(bytesOf(cut), before);
}

TEST(JournalFaults, ALockedJournalSaysSo) {
  TempDir dir;
  { Journal(dir / "journal.db", Journal::Mode::ReadWrite).add(sampleEntry()); }
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((dir / "journal.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  try {
    Journal log(dir / "journal.db", Journal::Mode::ReadWrite);
    ADD_FAILURE() << "opened a locked journal";
  } catch (const JournalError& e) {
    EXPECT_NE(texts::journalFailure(e).find("锁定"), std::string::npos) << texts::journalFailure(e);
  }
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(Journal(dir / "journal.db", Journal::Mode::ReadOnly).list().size(), 1u);
}

TEST(JournalFaults, AReadOnlyOrFullFileSystemWritesNothingAndKeepsWhatIsThere) {
  TempDir dir;
  const std::filesystem::path file = dir / "journal.db";
  testing::FaultyVfs disk(dir.path());
  { Journal(file, Journal::Mode::ReadWrite).add(sampleEntry()); }

  disk.mode = testing::FaultyVfs::Mode::ReadOnly;
  try {
    Journal log(file, Journal::Mode::ReadWrite);
    log.add(sampleEntry());
    ADD_FAILURE() << "wrote to a read-only journal";
  } catch (const JournalError& e) {
    EXPECT_NE(texts::journalFailure(e).find("只读"), std::string::npos) << texts::journalFailure(e);
  }
  EXPECT_THROW(Journal(dir / "new.db", Journal::Mode::ReadWrite), JournalError);

  disk.mode = testing::FaultyVfs::Mode::Full;
  {
    Journal log(file, Journal::Mode::ReadWrite);
    try {
      log.add(sampleEntry());
      ADD_FAILURE() << "wrote to a full disk";
    } catch (const JournalError& e) {
      EXPECT_NE(texts::journalFailure(e).find("磁盘已满"), std::string::npos)
          << texts::journalFailure(e);
    }
  }
  disk.mode = testing::FaultyVfs::Mode::Working;
  Journal log(file, Journal::Mode::ReadOnly);
  ASSERT_EQ(log.list().size(), 1u);  // the earlier entry whole, nothing of the failed one
  EXPECT_EQ(log.get(log.list()[0].id).tables[0].rows, sampleEntry().tables[0].rows);
}

}  // namespace
}  // namespace dupsweep::journal
