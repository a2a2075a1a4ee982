// Sample tables, data rows and template workbooks against real SQLite databases, and the
// prefix rule for value kinds SQLite cannot store (through a canned connection).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "data/VarStreamConvert.h"
#include "data/dmdupsweep.h"
#include "platform/files/files.h"
#include "support/sqlite_file.h"

namespace dupsweep {
namespace {

std::vector<unsigned char> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Samples : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TMPDIR", db.dir().c_str(), 1);
    db.createHostSchema();
    db.exec(R"(
      INSERT INTO PeriodTable VALUES
        ('2024N','T01',1,'B01','资产负债表',1,1), ('2024N','T01',1,'B02','利润表',2,0),
        ('2024N','T01',1,'^B03','隐藏表',3,0),   ('2024N','T01',1,'B^4','现金流量表',4,0),
        ('2024N','T01',2,'B09','其他级次',1,1),   ('2023N','T01',1,'B01','资产负债表',1,1);
      CREATE TABLE DataNumT01_B01_1(sPeriodID TEXT, sUnitCode TEXT, nRow INTEGER,
                                    sTaskCode TEXT, nLevel INTEGER, nF1 NUMERIC, sF2 TEXT);
      INSERT INTO DataNumT01_B01_1 VALUES ('2024N','U1',5,'T01',1,10,'a'),
        ('2024N','U1',4,'T01',1,20,NULL), ('2024N','U2',4,'T01',1,20,NULL),
        ('2023N','U1',4,'T01',1,99,'old'), ('2024N','U''Q',4,'T01',1,7,'q');
    )");
    dm.SetConnection(db.connectionString());
  }
  void TearDown() override { unsetenv("TMPDIR"); }

  void setUseTarget(const std::string& value) {
    db.exec("DELETE FROM SampleTableVts");
    if (!value.empty())
      db.exec("INSERT INTO SampleTableVts VALUES ('" + period + "','T01',1,1," + value + ",NULL)");
  }
  std::vector<std::string> prefixes() {
    std::vector<std::string> out;
    for (auto& s : dm.GetSampleList(period, "T01", 1)) out.push_back(s->TablePrefix);
    return out;
  }

  testing::SqliteFile db;
  TdmDupsweep dm;
  std::string period = "2024N";
};

TEST_F(Samples, ListLeavesOutCaretCodesAndFillsEveryField) {
  auto list = dm.GetSampleList("2024N", "T01", 1);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]->sSampleCode, "B01");
  EXPECT_EQ(list[0]->sSampleName, "资产负债表");
  EXPECT_EQ(list[0]->nSheetOrder, 1);
  EXPECT_EQ(list[0]->nSampleLevel, 1);
  EXPECT_EQ(list[0]->sPeriodID, "2024N");
  EXPECT_EQ(list[0]->sTaskCode, "T01");
  EXPECT_FALSE(list[0]->bRepeated);
  EXPECT_EQ(list[1]->sSampleCode, "B02");
  EXPECT_EQ(list[2]->sSampleCode, "B^4");  // a caret elsewhere in the code is kept
  EXPECT_TRUE(dm.GetSampleList("1999N", "T01", 1).empty());
}

TEST_F(Samples, PrefixOnlyWhenTheBaseSampleUsesTargetsEqualToOne) {
  setUseTarget("");
  EXPECT_EQ(prefixes(), std::vector<std::string>(3, ""));
  setUseTarget("NULL");
  EXPECT_EQ(prefixes(), std::vector<std::string>(3, ""));
  setUseTarget("0");
  EXPECT_EQ(prefixes(), std::vector<std::string>(3, ""));
  setUseTarget("2");
  EXPECT_EQ(prefixes(), std::vector<std::string>(3, ""));
  setUseTarget("1.0");
  EXPECT_EQ(prefixes(), std::vector<std::string>(3, "2024"));
  setUseTarget("'abc'");
  EXPECT_THROW(prefixes(), DatabaseError);

  // The first four characters, not bytes, of the period id; the whole id when shorter.
  db.exec("UPDATE PeriodTable SET sPeriodID='年度AB7N' WHERE sPeriodID='2024N'");
  period = "年度AB7N";
  setUseTarget("1");
  EXPECT_EQ(prefixes(), std::vector<std::string>(3, "年度AB"));
  db.exec("UPDATE PeriodTable SET sPeriodID='AB' WHERE sPeriodID='年度AB7N'");
  period = "AB";
  setUseTarget("1");
  EXPECT_EQ(prefixes(), std::vector<std::string>(3, "AB"));
}

TEST_F(Samples, NullInAReadColumnEndsTheListingWithAnError) {
  db.exec("UPDATE PeriodTable SET sSampleName=NULL WHERE sSampleCode='B02'");
  EXPECT_THROW(dm.GetSampleList("2024N", "T01", 1), DatabaseError);
  db.exec("UPDATE PeriodTable SET sSampleName='x', nSheetOrder=NULL WHERE sSampleCode='B02'");
  EXPECT_THROW(dm.GetSampleList("2024N", "T01", 1), DatabaseError);
}

TEST_F(Samples, UnitRowsInRowOrderAsIndependentRowSets) {
  auto a = dm.OpenUnitData("DataNumT01_B01_1", "U1", "2024N");
  auto b = dm.OpenUnitData("DataNumT01_B01_1", "U1", "2024N");
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->rowCount(), 2);
  EXPECT_EQ(a->field("nRow").asInteger(), 4);
  a->next();
  EXPECT_EQ(a->field("nRow").asInteger(), 5);
  EXPECT_EQ(b->field("nRow").asInteger(), 4);  // the second set has its own cursor
  EXPECT_EQ(a->columnCount(), 7);
  // Other statements on the data module leave the row sets intact.
  dm.GetSampleList("2024N", "T01", 1);
  EXPECT_EQ(a->field(6).asText(), "a");

  auto none = dm.OpenUnitData("DataNumT01_B01_1", "NOBODY", "2024N");
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->eof());
  EXPECT_EQ(dm.OpenUnitData("DataNumT01_B99_1", "U1", "2024N"), nullptr);
  EXPECT_EQ(dm.OpenUnitData("DataNumT01_B01_1 --", "U1", "2024N"), nullptr);

  auto quoted = dm.OpenUnitData("DataNumT01_B01_1", "U'Q", "2024N");
  ASSERT_TRUE(quoted);
  ASSERT_EQ(quoted->rowCount(), 1);
  EXPECT_EQ(quoted->field("sF2").asText(), "q");
  auto injected = dm.OpenUnitData("DataNumT01_B01_1", "x' OR '1'='1", "2024N");
  ASSERT_TRUE(injected);
  EXPECT_EQ(injected->rowCount(), 0);
}

TEST_F(Samples, TemplateBytesReachTheFileExactly) {
  std::vector<unsigned char> bytes = {'P', 'K', 0, 0, 3, 4, 0, 255, 0};
  db.execBlob("INSERT INTO SampleTableVts VALUES ('2024N','T01',1,1,0,?)", &bytes);
  std::string first = dm.ExtractTemplate("2024N", "T01", 1);
  std::string second = dm.ExtractTemplate("2024N", "T01", 1);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(std::filesystem::path(first).parent_path(), db.dir());
  EXPECT_EQ(std::filesystem::path(first).filename().string().rfind("tmp", 0), 0u);
  EXPECT_EQ(fileBytes(first), bytes);
  EXPECT_EQ(fileBytes(second), bytes);

  std::vector<unsigned char> empty;
  db.exec("DELETE FROM SampleTableVts");
  db.execBlob("INSERT INTO SampleTableVts VALUES ('2024N','T01',1,1,0,?)", &empty);
  std::string zero = dm.ExtractTemplate("2024N", "T01", 1);
  ASSERT_FALSE(zero.empty());
  EXPECT_TRUE(std::filesystem::exists(zero));
  EXPECT_EQ(std::filesystem::file_size(zero), 0u);
}

TEST_F(Samples, NoTemplateGivesAnEmptyNameAndLeavesNoFile) {
  auto tmpCount = [&] { return files::listFiles(db.dir(), "tmp*").size(); };
  EXPECT_EQ(dm.ExtractTemplate("2024N", "T01", 1), "");  // no row
  db.execBlob("INSERT INTO SampleTableVts VALUES ('2024N','T01',1,1,0,?)", nullptr);
  EXPECT_EQ(dm.ExtractTemplate("2024N", "T01", 1), "");  // NULL value
  db.exec("UPDATE SampleTableVts SET OleVTS='text, not bytes'");
  EXPECT_EQ(dm.ExtractTemplate("2024N", "T01", 1), "");
  db.exec("DROP TABLE SampleTableVts");
  EXPECT_EQ(dm.ExtractTemplate("2024N", "T01", 1), "");  // statement fails
  EXPECT_EQ(tmpCount(), 0u);
}

TEST(VarStreamConvert, SizeComesFromTheBounds) {
  const unsigned char data[] = {1, 2, 3, 4};
  TMemoryStream stream;
  stream.position = 3;
  TStreamVariantConvert::VariantToStream({5, 8, data}, stream);
  EXPECT_EQ(stream.bytes, (std::vector<unsigned char>{1, 2, 3, 4}));
  EXPECT_EQ(stream.position, 0u);
  TStreamVariantConvert::VariantToStream({-2, -3, data}, stream);
  EXPECT_TRUE(stream.bytes.empty());
  EXPECT_THROW(ByteArrayView::of(db::Value{db::Null{}}), FormatError);
}

// A connection that answers every query with one canned row set, for value kinds SQLite
// cannot hold (a SQL Server bit column read as a boolean).
class CannedConnection : public db::Connection {
 public:
  explicit CannedConnection(db::Value useTarget) : useTarget_(std::move(useTarget)) {}
  db::Dialect dialect() const override { return db::Dialect::SqlServer; }
  std::unique_ptr<db::RowSet> query(std::string_view) override {
    return std::make_unique<db::RowSet>(
        std::vector<std::string>{"sSampleCode", "sSampleName", "nSheetOrder", "bUseTarget"},
        std::vector<db::Value>{std::string("B01"), std::string("表"), std::int64_t{1}, useTarget_});
  }
  std::int64_t execute(std::string_view) override { return 0; }
  std::int64_t executeWith(std::string_view, const std::vector<db::Value>&) override { return 0; }
  void begin() override {}
  void commit() override {}
  void rollback() override {}

 private:
  db::Value useTarget_;
};

TEST(SamplePrefix, BooleanTrueCountsAsOne) {
  auto prefixFor = [](db::Value v) {
    TdmDupsweep dm([v](const std::string&) { return std::make_unique<CannedConnection>(v); });
    dm.SetConnection("canned");
    return dm.GetSampleList("2024N", "T01", 1).at(0)->TablePrefix;
  };
  EXPECT_EQ(prefixFor(true), "2024");
  EXPECT_EQ(prefixFor(false), "");
  EXPECT_EQ(prefixFor(db::Decimal{"1.00"}), "2024");
  EXPECT_EQ(prefixFor(db::Decimal{"-1"}), "");
  EXPECT_EQ(prefixFor(1.0), "2024");
}

}  // namespace
}  // namespace dupsweep
