#include "scheme/scheme.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/errors.h"
#include "platform/text/text.h"

namespace dupsweep::scheme {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// GBK bytes of the Chinese texts used below.
const std::string kBeijingGbk = "\xB1\xB1\xBE\xA9\xB7\xD6\xB9\xAB\xCB\xBE";  // 北京分公司
const std::string kShanghaiGbk = "\xC9\xCF\xBA\xA3";                         // 上海

TUnitData unit(std::int32_t id, std::string code, std::int32_t level, std::string name) {
  TUnitData u;
  u.nUnitID = id;
  u.sUnitCode = std::move(code);
  u.nLevel = level;
  u.sUnitName = std::move(name);
  return u;
}

bool sameUnit(const TUnitData& a, const TUnitData& b) {
  return a.nUnitID == b.nUnitID && a.sUnitCode == b.sUnitCode && a.nLevel == b.nLevel &&
         a.sUnitName == b.sUnitName;
}

// Each test works in a fresh scratch directory standing for the host executable's directory.
class SchemeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "scheme_test.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return schemePath(dir_, name); }
  void writeBytes(const std::string& fileName, const std::string& bytes) const {
    std::ofstream(dir_ + fileName, std::ios::binary) << bytes;
  }
  std::string readBytes(const std::string& fileName) const {
    std::ifstream in(dir_ + fileName, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

  std::string dir_;
};

// A file as the existing installations write it: GBK bytes, CR LF, the writer's key spellings.
const std::string kInstalledFile = "[" + kBeijingGbk + "=>" + kShanghaiGbk +
                                   "]\r\n"
                                   "UnitcodeS=0001\r\n"
                                   "UnitNameS=" +
                                   kBeijingGbk +
                                   "\r\n"
                                   "UnitIDS=12\r\n"
                                   "nLevelS=0\r\n"
                                   "UnitcodeD=0001002\r\n"
                                   "UnitNameD=" +
                                   kShanghaiGbk +
                                   "\r\n"
                                   "UnitIDD=-7\r\n"
                                   "nLevelD=1\r\n";

TEST_F(SchemeTest, WritesTheInstallationsFormatByteForByte) {
  TUnitData s = unit(12, "0001", 0, "北京分公司");
  TUnitData d = unit(-7, "0001002", 1, "上海");
  UnitPair group(s, d);
  saveScheme(path("方案一"), {group});
  EXPECT_EQ(readBytes("方案一.Unitdata"), kInstalledFile);
}

TEST_F(SchemeTest, InstalledFileIsListedAndLoads) {
  writeBytes("A.Unitdata", kInstalledFile);
  EXPECT_THAT(listSchemes(dir_), ElementsAre("A"));
  auto pairs = loadScheme(path("A"));
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].section, "北京分公司=>上海");
  EXPECT_TRUE(sameUnit(pairs[0].units[Left], unit(12, "0001", 0, "北京分公司")));
  EXPECT_TRUE(sameUnit(pairs[0].units[Right], unit(-7, "0001002", 1, "上海")));
}

TEST_F(SchemeTest, SaveThenLoadGivesBackEveryUnitInOrder) {
  std::vector<TUnitData> units = {
      unit(1, "01", 0, "北京分公司"),   unit(2147483647, "01001", 1, "海淀区"),
      unit(-2147483647 - 1, "", 3, ""), unit(40, "X=Y", 2, "名称=含等号"),
      unit(5, "0005", 0, "𠀀扩展汉字"),  // outside the BMP: a four-byte GB18030 sequence
      unit(6, "0006", 1, "Ünïcode ü"),
  };
  std::vector<UnitPair> groups = {{units[0], units[1]}, {units[2], units[3]}, {units[4], units[5]}};
  saveScheme(path("方案"), groups);

  EXPECT_THAT(listSchemes(dir_), ElementsAre("方案"));
  auto pairs = loadScheme(path("方案"));
  ASSERT_EQ(pairs.size(), 3u);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(pairs[i].section, groups[i].name);
    EXPECT_TRUE(sameUnit(pairs[i].units[Left], units[2 * i]));
    EXPECT_TRUE(sameUnit(pairs[i].units[Right], units[2 * i + 1]));
  }
}

TEST_F(SchemeTest, SavingReplacesTheWholeOldContent) {
  TUnitData a = unit(1, "1", 0, "甲"), b = unit(2, "2", 0, "乙"), c = unit(3, "3", 0, "丙");
  UnitPair ab(a, b), bc(b, c);
  saveScheme(path("S"), {ab, bc});
  saveScheme(path("S"), {bc});
  auto pairs = loadScheme(path("S"));
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].section, "乙=>丙");
  // No temporary file is left beside the scheme.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(SchemeTest, PairsOfTheSameGroupNameAreAllKeptUnderNamesThatTellThemApart) {
  // Units of different places share names; names differing in ASCII letter case are one section
  // name to the reader.
  TUnitData s1 = unit(1, "010304", 0, "开发区营业部"), d1 = unit(2, "030104", 0, "开发区营业部");
  TUnitData d2 = unit(4, "020104", 1, "开发区营业部");
  TUnitData x = unit(5, "X", 0, "abc"), y = unit(6, "Y", 0, "Abc");
  UnitPair first(s1, d1), other(x, x), second(s1, d2), otherUpper(y, y);
  EXPECT_THAT(saveScheme(path("S"), {first, other, second, otherUpper}),
              ElementsAre("开发区营业部=>开发区营业部（010304/020104）", "Abc=>Abc（Y/Y）"));

  std::vector<SchemePair> dropped;
  auto pairs = loadScheme(path("S"), &dropped);
  EXPECT_THAT(dropped, IsEmpty());
  ASSERT_EQ(pairs.size(), 4u);
  EXPECT_EQ(pairs[0].section, "开发区营业部=>开发区营业部");
  EXPECT_TRUE(sameUnit(pairs[0].units[Right], d1));
  EXPECT_EQ(pairs[2].section, "开发区营业部=>开发区营业部（010304/020104）");
  EXPECT_TRUE(sameUnit(pairs[2].units[Right], d2));
  EXPECT_TRUE(sameUnit(pairs[3].units[Left], y));

  // Saving the loaded pairs again writes the same file.
  const std::string saved = readBytes("S.Unitdata");
  std::vector<UnitPair> again;
  for (const SchemePair& pair : pairs) again.emplace_back(pair.units[Left], pair.units[Right]);
  saveScheme(path("S"), again);
  EXPECT_EQ(readBytes("S.Unitdata"), saved);
}

TEST_F(SchemeTest, ASectionNameThatStandsTwiceKeepsItsLastPairAndNamesTheOthers) {
  writeBytes("A.Unitdata",
             "[P]\r\nUnitcodeS=1\r\nUnitcodeD=2\r\nUnitNameD=gone\r\n"
             "[Q]\r\nUnitcodeS=3\r\nUnitcodeD=4\r\n"
             " [ p ] \r\nUnitcodeS=5\r\nUnitcodeD=6\r\n");
  EXPECT_THAT(listSchemes(dir_), ElementsAre("A"));
  std::vector<SchemePair> dropped;
  auto pairs = loadScheme(path("A"), &dropped);
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].section, "Q");
  EXPECT_EQ(pairs[1].section, "p");
  // The later section's keys alone: nothing of the earlier one's mixed in.
  EXPECT_TRUE(sameUnit(pairs[1].units[Right], unit(0, "6", 0, "")));
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].section, "P");
  EXPECT_EQ(dropped[0].units[Left].sUnitCode, "1");
}

TEST_F(SchemeTest, SavingAnEmptyListDeletesTheFile) {
  writeBytes("S.Unitdata", kInstalledFile);
  saveScheme(path("S"), {});
  EXPECT_FALSE(fs::exists(path("S")));
  EXPECT_THAT(loadScheme(path("S")), IsEmpty());
  saveScheme(path("S"), {});  // nothing to delete: no error
}

TEST_F(SchemeTest, FailedSaveRaisesFileErrorAndKeepsTheOldScheme) {
  TUnitData s = unit(1, "1", 0, "甲"), d = unit(2, "2", 0, "乙");
  UnitPair group(s, d);

  std::string missing = dir_ + "no-such-dir/S.Unitdata";
  EXPECT_THROW(
      {
        try {
          saveScheme(missing, {group});
        } catch (const FileError& e) {
          EXPECT_STREQ(e.what(), ("Unable to write to " + missing).c_str());
          throw;
        }
      },
      FileError);

  writeBytes("plain", "x");
  EXPECT_THROW(saveScheme(dir_ + "plain/S.Unitdata", {group}), FileError);

  // A write that fails half-way (the file size limit stands in for a full disk; root ignores
  // permission bits) leaves the old file exactly as it was.
  writeBytes("Old.Unitdata", kInstalledFile);
  std::vector<UnitPair> many;
  for (int i = 0; i < 200; ++i)
    many.emplace_back(unit(i, std::to_string(i), 0, "单位" + std::to_string(i)), d);
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  EXPECT_THROW(saveScheme(path("Old"), many), FileError);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(readBytes("Old.Unitdata"), kInstalledFile);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

TEST_F(SchemeTest, LineBreakInANameIsRefusedBeforeTouchingTheFile) {
  writeBytes("Old.Unitdata", kInstalledFile);
  TUnitData s = unit(1, "1", 0, "甲\r\n[注入]"), d = unit(2, "2", 0, "乙");
  TUnitData code = unit(1, "1\n2", 0, "丙");
  UnitPair byName(s, d), byCode(code, d);
  EXPECT_THROW(saveScheme(path("Old"), {byName}), FormatError);
  EXPECT_THROW(saveScheme(path("Old"), {byCode}), FormatError);
  EXPECT_EQ(readBytes("Old.Unitdata"), kInstalledFile);
}

TEST_F(SchemeTest, KeysAndSectionsMatchWithoutRegardToCase) {
  writeBytes("A.Unitdata",
             "[X]\r\nunitcodes=c1\r\nUNITNAMES=n1\r\nunitids=5\r\nNLEVELS=2\r\n"
             "UNITCODED=c2\r\nunitnamed=n2\r\nUnitIdD=6\r\nnlevelD=3\r\n");
  EXPECT_THAT(listSchemes(dir_), ElementsAre("A"));
  auto pairs = loadScheme(path("A"));
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_TRUE(sameUnit(pairs[0].units[Left], unit(5, "c1", 2, "n1")));
  EXPECT_TRUE(sameUnit(pairs[0].units[Right], unit(6, "c2", 3, "n2")));
}

TEST_F(SchemeTest, ValidityNeedsBothCodeKeysInEverySection) {
  const std::string good = "[G]\r\nUnitcodeS=\r\nUnitcodeD=\r\n";
  writeBytes("Good.Unitdata", good);
  writeBytes("LastLacksD.Unitdata", good + "[L]\r\nUnitcodeS=1\r\nUnitNameD=x\r\n");
  writeBytes("FirstLacksS.Unitdata", "[F]\r\nUnitcodeD=1\r\n" + good);
  writeBytes("NoSections.Unitdata", "UnitcodeS=1\r\nUnitcodeD=2\r\n");
  writeBytes("Empty.Unitdata", "");
  writeBytes("EmptySection.Unitdata", good + "[E]\r\n");
  EXPECT_THAT(listSchemes(dir_), ElementsAre("Good"));

  // Loading does not test validity: every section is a pair, missing keys give "" and 0.
  auto pairs = loadScheme(path("LastLacksD"));
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[1].section, "L");
  EXPECT_TRUE(sameUnit(pairs[1].units[Left], unit(0, "1", 0, "")));
  EXPECT_TRUE(sameUnit(pairs[1].units[Right], unit(0, "", 0, "x")));
  EXPECT_THAT(loadScheme(path("NoSections")), IsEmpty());
}

TEST_F(SchemeTest, ListedNamesDropEveryExactCaseExtension) {
  const std::string good = "[G]\r\nUnitcodeS=\r\nUnitcodeD=\r\n";
  writeBytes("A.Unitdata.Unitdata", good);
  writeBytes("B.UNITDATA", good);
  writeBytes(".hidden.Unitdata", good);
  writeBytes("C.Unitdata.txt", good);
  fs::create_directory(dir_ + "D.Unitdata");
  ASSERT_EQ(::mkfifo((dir_ + "F.Unitdata").c_str(), 0600), 0);
  EXPECT_THAT(listSchemes(dir_), ElementsAre(".hidden", "A", "B.UNITDATA"));
  // Picking "A" opens A.Unitdata, another file; "B.UNITDATA" opens B.UNITDATA.Unitdata.
  EXPECT_THAT(loadScheme(path("A")), IsEmpty());
  EXPECT_THAT(loadScheme(path("B.UNITDATA")), IsEmpty());
  // Neither a directory nor a FIFO is read (a FIFO would block).
  EXPECT_THAT(loadScheme(path("D")), IsEmpty());
  EXPECT_THAT(loadScheme(path("F")), IsEmpty());
  EXPECT_FALSE(isSchemeFile(path("F")));
  EXPECT_THAT(listSchemes(dir_ + "missing"), IsEmpty());
}

TEST_F(SchemeTest, HandEditedSectionNameIsKept) {
  writeBytes("A.Unitdata",
             text::utf8ToGb18030("[我的一对]\n; a comment\nUnitcodeS=1\nUnitNameS=甲\n"
                                 "UnitcodeD=2\nUnitNameD=乙\n"));
  auto pairs = loadScheme(path("A"));
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].section, "我的一对");
  TUnitGroup group(pairs[0].units[Left], pairs[0].units[Right]);
  EXPECT_EQ(group.GroupName, "甲=>乙");
}

TEST_F(SchemeTest, LfOnlyFileAndOddValuesLoad) {
  writeBytes("A.Unitdata",
             "UnitcodeS=orphan\n"  // before any section: belongs to none
             "[P]\nUnitcodeS=a=b\nUnitNameS=  spaced  \nUnitIDS=+42\nnLevelS= 7 \n"
             "UnitcodeD=\nUnitIDD=12abc\nnLevelD=99999999999\n"
             "[Q]\nUnitcodeS=\nUnitcodeD=\nUnitIDS=+-5\nnLevelS=-3\n");
  EXPECT_THAT(listSchemes(dir_), ElementsAre("A"));
  auto pairs = loadScheme(path("A"));
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].section, "P");
  EXPECT_TRUE(sameUnit(pairs[0].units[Left], unit(42, "a=b", 7, "spaced")));
  EXPECT_TRUE(sameUnit(pairs[0].units[Right], unit(0, "", 0, "")));
  EXPECT_TRUE(sameUnit(pairs[1].units[Left], unit(0, "", -3, "")));
}

TEST_F(SchemeTest, FilesThatAreNotGb18030TextAreNotSchemes) {
  // UTF-8 "中" then CR LF: E4 B8 AD 0D is not a GB18030 sequence.
  const std::string utf8 = "[X]\r\nUnitcodeS=\xE4\xB8\xAD\r\nUnitcodeD=\r\n";
  ASSERT_THROW(text::gb18030ToUtf8(utf8), FormatError);
  writeBytes("Utf8.Unitdata", utf8);
  std::string binary = "[X]\r\nUnitcodeS=\r\nUnitcodeD=\r\n";
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
  writeBytes("Binary.Unitdata", binary);
  writeBytes("Nul.Unitdata", std::string("[X]\r\nUnitcodeS=\0\r\nUnitcodeD=\r\n", 29));
  std::string huge = "[X]\r\nUnitcodeS=\r\nUnitcodeD=\r\n";
  huge.resize(kMaxSchemeFileSize + 1, ' ');
  writeBytes("Huge.Unitdata", huge);

  EXPECT_THAT(listSchemes(dir_), IsEmpty());
  for (const char* name : {"Utf8", "Binary", "Nul", "Huge", "Missing"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(isSchemeFile(path(name)));
    EXPECT_THAT(loadScheme(path(name)), IsEmpty());
  }
}

TEST_F(SchemeTest, AByteOrderMarkIsRefusedInsteadOfSwallowingTheFirstPair) {
  // Read as GB18030, EF BB BF and the '[' after them are two double-byte characters: the first
  // header would vanish and its pair with it.
  const std::string pairs = "[A]\r\nUnitcodeS=1\r\nUnitcodeD=2\r\n[B]\r\nUnitcodeS=3\r\nUnitcodeD=4\r\n";
  writeBytes("Bom.Unitdata", "\xEF\xBB\xBF" + pairs);
  writeBytes("Bom16.Unitdata", "\xFF\xFE[");
  EXPECT_THAT(listSchemes(dir_), IsEmpty());
  EXPECT_THAT(loadScheme(path("Bom")), IsEmpty());
  EXPECT_EQ(schemeFileProblem(path("Bom")),
            "it begins with a UTF-8 byte-order mark; scheme files are GB18030 text");
  EXPECT_EQ(schemeFileProblem(path("Bom16")),
            "it begins with a UTF-16 byte-order mark; scheme files are GB18030 text");
}

TEST_F(SchemeTest, EveryRefusedFileSaysWhy) {
  writeBytes("Good.Unitdata", "[A]\r\nUnitcodeS=1\r\nUnitcodeD=2\r\n");
  writeBytes("Utf8.Unitdata", "[X]\r\nUnitcodeS=\xE4\xB8\xAD\r\nUnitcodeD=\r\n");
  writeBytes("Nul.Unitdata", std::string("[X]\r\nUnitcodeS=\0\r\n", 18));
  writeBytes("Empty.Unitdata", "UnitcodeS=1\r\n");
  writeBytes("Half.Unitdata", "[A]\r\nUnitcodeS=1\r\nUnitcodeD=2\r\n[B]\r\nUnitcodeS=1\r\n");
  std::filesystem::create_directory(path("Folder"));
  EXPECT_EQ(schemeFileProblem(path("Good")), "");
  EXPECT_EQ(schemeFileProblem(path("Utf8")), "it is not GB18030 text");
  EXPECT_EQ(schemeFileProblem(path("Nul")), "it holds NUL bytes, so it is no text file");
  EXPECT_EQ(schemeFileProblem(path("Empty")), "it has no section");
  EXPECT_EQ(schemeFileProblem(path("Half")), "its section [B] has no UnitcodeD key");
  EXPECT_EQ(schemeFileProblem(path("Missing")), "the file does not exist");
  EXPECT_EQ(schemeFileProblem(path("Folder")), "it is not a regular file");
}

TEST(SchemeNames, PathsAndListedNames) {
  EXPECT_EQ(schemePath("/opt/host/", " A "), "/opt/host/ A .Unitdata");
  EXPECT_EQ(schemePath("/opt/host", "A"), "/opt/host/A.Unitdata");
  EXPECT_EQ(schemeNameOf("A.Unitdata"), "A");
  EXPECT_EQ(schemeNameOf("/opt/host/A.Unitdata"), "A");
  EXPECT_EQ(schemeNameOf("A.Unitdata.Unitdata"), "A");
  EXPECT_EQ(schemeNameOf("A.UNITDATA"), "A.UNITDATA");
  EXPECT_EQ(schemeNameOf("x.Unitdatay.Unitdata"), "xy");
  // One pass: removing the inner occurrence does not create a new one to remove.
  EXPECT_EQ(schemeNameOf("A.Unit.Unitdatadata"), "A.Unitdata");
}

TEST(SchemeNames, BlankAndRefusedNames) {
  EXPECT_TRUE(isBlankName(""));
  EXPECT_TRUE(isBlankName("   "));
  EXPECT_TRUE(isBlankName(" \t\r\n\x01 "));
  EXPECT_FALSE(isBlankName(" a "));
  EXPECT_FALSE(isBlankName("　"));  // the ideographic space is a character of the name

  for (const char* name : {"A", " A ", "方案一", "a.b", "..a", "-", "A=>B"}) {
    EXPECT_TRUE(isValidSchemeName(name)) << name;
  }
  for (const char* name : {"", ".", "..", "a/b", "../x", "a\\b", "a\tb", "a\nb", "a\x7F", "\xFF"}) {
    EXPECT_FALSE(isValidSchemeName(name)) << name;
  }
}

}  // namespace
}  // namespace dupsweep::scheme
