#include "platform/files/files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <fstream>
#include <set>

#include "platform/errors.h"

namespace dupsweep::files {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

// Each test gets a fresh scratch directory, which is also $TMPDIR while it runs.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "files_test.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    const char* old = std::getenv("TMPDIR");
    if (old != nullptr) oldTmpdir_ = old;
    hadTmpdir_ = old != nullptr;
    ::setenv("TMPDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (hadTmpdir_) {
      ::setenv("TMPDIR", oldTmpdir_.c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
    fs::remove_all(dir_);
  }
  void touch(const std::string& name, const std::string& content = {}) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
  }
  std::vector<std::string> allFiles() { return listFiles(dir_, "*"); }

  fs::path dir_;
  std::string oldTmpdir_;
  bool hadTmpdir_ = false;
};

TEST_F(FilesTest, ExecutablePathAndDirectory) {
  fs::path exe = executablePath();
  EXPECT_TRUE(exe.is_absolute());
  EXPECT_EQ(exe.filename(), "files_test");
  EXPECT_TRUE(fs::equivalent(exe, "/proc/self/exe"));
  std::string dir = executableDirectory();
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(dir + "files_test", exe.string());
}

TEST_F(FilesTest, TemporaryDirectoryFollowsTmpdir) {
  EXPECT_EQ(temporaryDirectory(), dir_);
  ::setenv("TMPDIR", "", 1);
  EXPECT_EQ(temporaryDirectory(), "/tmp");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(temporaryDirectory(), "/tmp");
}

TEST_F(FilesTest, TemporaryFilesAreNewEmptyAndUnique) {
  std::set<fs::path> seen;
  for (int i = 0; i < 200; ++i) {
    fs::path p = createTemporaryFile();
    EXPECT_EQ(p.parent_path(), dir_);
    EXPECT_THAT(p.filename().string(), MatchesRegex("tmp[0-9A-F]+\\.tmp"));
    EXPECT_TRUE(fs::is_regular_file(p));
    EXPECT_EQ(fs::file_size(p), 0u);
    EXPECT_TRUE(seen.insert(p).second) << p;
  }
  EXPECT_EQ(allFiles().size(), 200u);

  fs::path sub = dir_ / "sub";
  fs::create_directory(sub);
  fs::path p = createTemporaryFile("abc", sub);
  EXPECT_EQ(p.parent_path(), sub);
  EXPECT_THAT(p.filename().string(), MatchesRegex("abc[0-9A-F]+\\.tmp"));
}

TEST_F(FilesTest, TemporaryFileFailsWhereNoFileCanBeCreated) {
  touch("plain");
  EXPECT_THROW(createTemporaryFile("tmp", dir_ / "missing"), FileError);
  EXPECT_THROW(createTemporaryFile("tmp", dir_ / "plain"), FileError);
  ::setenv("TMPDIR", (dir_ / "missing").c_str(), 1);
  EXPECT_THROW(createTemporaryFile(), FileError);
  // A prefix cannot lead the file out of the directory.
  EXPECT_THROW(createTemporaryFile("../x", dir_ / "sub"), FileError);
}

TEST_F(FilesTest, DeleteFileQuietly) {
  touch("a");
  fs::create_directory(dir_ / "d");
  deleteFileQuietly(dir_ / "a");
  deleteFileQuietly(dir_ / "a");          // already gone
  deleteFileQuietly(dir_ / "missing/x");  // no such directory
  deleteFileQuietly(dir_ / "d");          // not a file: left alone
  EXPECT_FALSE(fs::exists(dir_ / "a"));
  EXPECT_TRUE(fs::is_directory(dir_ / "d"));
}

TEST_F(FilesTest, ListFilesMatchesWithoutCaseAndSkipsDirectories) {
  for (auto name : {"A.UNITDATA", "b.Unitdata", "A.Unitdata.bak", "Unitdata", "c.txt",
                    "方案.unitdata", "ab.Unitdata"}) {
    touch(name);
  }
  fs::create_directory(dir_ / "d.Unitdata");
  fs::create_symlink(dir_ / "d.Unitdata", dir_ / "e.Unitdata");  // link to a directory
  fs::create_symlink(dir_ / "c.txt", dir_ / "f.Unitdata");       // link to a file

  EXPECT_THAT(listFiles(dir_, "*.Unitdata"), ElementsAre("A.UNITDATA", "ab.Unitdata", "b.Unitdata",
                                                         "f.Unitdata", "方案.unitdata"));
  EXPECT_THAT(listFiles(dir_, "?.unitDATA"), ElementsAre("A.UNITDATA", "b.Unitdata", "f.Unitdata"));
  EXPECT_THAT(listFiles(dir_, "??.Unitdata"), ElementsAre("ab.Unitdata", "方案.unitdata"));
  EXPECT_THAT(listFiles(dir_, "*a*.b*"), ElementsAre("A.Unitdata.bak"));
  EXPECT_THAT(listFiles(dir_, "C.TXT"), ElementsAre("c.txt"));
  EXPECT_THAT(listFiles(dir_, "*.Unit"), IsEmpty());
  EXPECT_THAT(listFiles(dir_ / "missing", "*"), IsEmpty());
  EXPECT_THAT(listFiles(dir_ / "c.txt", "*"), IsEmpty());
}

TEST_F(FilesTest, WriteFileAtomicallyCreatesAndReplaces) {
  fs::path target = dir_ / "Scheme.Unitdata";
  writeFileAtomically(target, "[A|B]\r\nCodeS=1\r\n");
  EXPECT_EQ(readFile(target), "[A|B]\r\nCodeS=1\r\n");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  writeFileAtomically(target, std::string("x\0y", 3));
  EXPECT_EQ(readFile(target), std::string("x\0y", 3));
  EXPECT_EQ(fs::status(target).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  writeFileAtomically(target, "");
  EXPECT_EQ(readFile(target), "");
  EXPECT_THAT(allFiles(), ElementsAre("Scheme.Unitdata"));  // no temporary file left
}

TEST_F(FilesTest, WriteFileAtomicallyFailsWithoutTouchingAnything) {
  touch("plain", "old");
  for (fs::path bad : {dir_ / "missing" / "x.Unitdata", dir_ / "plain" / "x.Unitdata"}) {
    try {
      writeFileAtomically(bad, "new");
      ADD_FAILURE() << "no error for " << bad;
    } catch (const FileError& e) {
      EXPECT_EQ(e.what(), "Unable to write to " + bad.string());
    }
  }
  // The rename fails: the target is a directory, which keeps its content.
  fs::create_directory(dir_ / "taken");
  touch("taken/inner", "keep");
  EXPECT_THROW(writeFileAtomically(dir_ / "taken", "new"), FileError);
  EXPECT_EQ(readFile(dir_ / "taken/inner"), "keep");
  EXPECT_EQ(readFile(dir_ / "plain"), "old");
  EXPECT_THAT(allFiles(), ElementsAre("plain"));
}

TEST_F(FilesTest, WriteFileAtomicallyKeepsOldContentWhenTheWriteFails) {
  // Permission bits do not stop root, so the write is made to fail by a file size limit.
  fs::path target = dir_ / "Scheme.Unitdata";
  writeFileAtomically(target, "old content");
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool threw = false;
  try {
    writeFileAtomically(target, std::string(1000, 'n'));
  } catch (const FileError& e) {
    threw = true;
    EXPECT_EQ(e.what(), "Unable to write to " + target.string());
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(threw);
  EXPECT_EQ(readFile(target), "old content");
  EXPECT_THAT(allFiles(), ElementsAre("Scheme.Unitdata"));
}

TEST_F(FilesTest, ReadFile) {
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes += static_cast<char>(i % 251);
  touch("data.bin", bytes);
  EXPECT_EQ(readFile(dir_ / "data.bin"), bytes);
  touch("empty");
  EXPECT_EQ(readFile(dir_ / "empty"), "");
  EXPECT_THROW(readFile(dir_ / "missing"), FileError);
  EXPECT_THROW(readFile(dir_), FileError);
}

}  // namespace
}  // namespace dupsweep::files
