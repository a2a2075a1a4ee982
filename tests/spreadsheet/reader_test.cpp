// Reading real workbook files: xlsx written by libxlsxwriter, OpenDocument, Excel 2003 XML,
// Gnumeric and CSV written by hand, and broken files of every kind.

#include <gtest/gtest.h>

#include <string>

#include "platform/spreadsheet/reader.h"
#include "platform/text/text.h"
#include "sheet_files.h"

namespace dupsweep::sheet {
namespace {

using testing::cellTexts;

using testing::TempDir;

class XlsxReading : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::writeSampleXlsx(dir_ / "sample.xlsx");
    book_ = readWorkbook(dir_ / "sample.xlsx");
  }
  const CellFormat& formatOf(int sheet, int row, int col) const {
    return book_.formats().at(book_.sheet(sheet).format(row, col));
  }
  TempDir dir_;
  Workbook book_;
};

TEST_F(XlsxReading, SheetNamesOrderAndValues) {
  ASSERT_EQ(book_.sheetCount(), 2);
  EXPECT_EQ(book_.sheet(1).name(), "甲表");
  EXPECT_EQ(book_.sheet(2).name(), "乙表 数据");
  EXPECT_EQ(book_.currentSheet(), 1);
  EXPECT_EQ(cellTexts(book_.sheet(1)),
            (std::vector<std::string>{"R1C1=单位名称", "R2C1=文本", "R2C2=数值", "R3C1=北京",
                                      "R3C2=1234.5", "R3C3=100", "R4C1=上海", "R4C2=0.1", "R4C3=-7",
                                      "R6C1=合计"}));
  EXPECT_EQ(cellTexts(book_.sheet(2)),
            (std::vector<std::string>{"R1C1=x", "R2C2=42", "R5C4=last"}));
  EXPECT_EQ(book_.sheet(1).lastRow(), 6);
  EXPECT_EQ(book_.sheet(1).lastCol(), 3);
  EXPECT_EQ(book_.sheet(2).lastRow(), 5);
  EXPECT_EQ(book_.sheet(2).lastCol(), 4);
}

TEST_F(XlsxReading, MergedRangesWidthsAndHeights) {
  EXPECT_EQ(book_.sheet(1).merges(), (std::vector<CellRange>{{1, 1, 1, 3}}));
  EXPECT_TRUE(book_.sheet(2).merges().empty());
  // 20 characters of the default font are 145 pixels, 12 characters 89 pixels (0.75 pt each).
  EXPECT_DOUBLE_EQ(book_.sheet(1).columnWidth(1), 145 * 0.75);
  EXPECT_DOUBLE_EQ(book_.sheet(1).columnWidth(2), 89 * 0.75);
  EXPECT_FALSE(book_.sheet(1).hasColumnWidth(3));
  EXPECT_DOUBLE_EQ(book_.sheet(1).rowHeight(3), 30);
  EXPECT_FALSE(book_.sheet(1).hasRowHeight(4));
}

TEST_F(XlsxReading, FontsFillsBordersAndAlignment) {
  // The workbook's default format is the file's first cell format.
  const CellFormat& plain = formatOf(1, 2, 1);
  EXPECT_EQ(book_.sheet(1).format(2, 1), 0u);
  EXPECT_EQ(plain.font.name, "Calibri");
  EXPECT_DOUBLE_EQ(plain.font.size, 11);
  EXPECT_FALSE(plain.font.bold);
  EXPECT_EQ(plain.fill.pattern, FillPattern::none);

  const CellFormat& title = formatOf(1, 1, 1);
  EXPECT_TRUE(title.font.bold);
  EXPECT_EQ(title.font.color, Color::rgb(255, 0, 0));
  EXPECT_EQ(title.horizontal, HorizontalAlignment::center);
  // The covered cells of the merged range carry the title's format too.
  EXPECT_EQ(book_.sheet(1).format(1, 3), book_.sheet(1).format(1, 1));

  const CellFormat& yellow = formatOf(1, 3, 2);
  EXPECT_EQ(yellow.fill.pattern, FillPattern::solid);
  EXPECT_EQ(yellow.fill.foreground, Color::rgb(255, 255, 0));
  EXPECT_FALSE(yellow.font.bold);

  const CellFormat& boxed = formatOf(1, 3, 3);
  EXPECT_TRUE(boxed.font.bold);
  for (const BorderSide* side : {&boxed.left, &boxed.top, &boxed.right, &boxed.bottom}) {
    EXPECT_EQ(side->style, BorderStyle::thin);
    EXPECT_EQ(side->color, Color::rgb(0, 0, 255));
  }
  EXPECT_EQ(formatOf(1, 4, 3).left.style, BorderStyle::none);

  const CellFormat& total = formatOf(1, 6, 1);
  EXPECT_TRUE(total.font.italic);
  EXPECT_EQ(total.font.name, "宋体");
  EXPECT_DOUBLE_EQ(total.font.size, 12);
}

TEST(OtherFormats, OpenDocumentSpreadsheet) {
  TempDir dir;
  testing::writeSampleOds(dir / "sample.ods");
  const std::string bytes = testing::readBytes(dir / "sample.ods");
  EXPECT_EQ(detectFormat(bytes), FileFormat::ods);

  const Workbook book = readWorkbook(dir / "sample.ods");
  ASSERT_EQ(book.sheetCount(), 2);
  EXPECT_EQ(book.sheet(1).name(), "第一表");
  EXPECT_EQ(book.sheet(2).name(), "Second");
  // The covered cell under the merged title keeps its column: 1234.5 stays in column 3.
  EXPECT_EQ(cellTexts(book.sheet(1)),
            (std::vector<std::string>{"R1C1=标题", "R1C3=1234.5", "R2C1=100", "R2C2=2024-01-31",
                                      "R2C3=文字"}));
  EXPECT_EQ(book.sheet(1).merges(), (std::vector<CellRange>{{1, 1, 1, 2}}));
  EXPECT_EQ(cellTexts(book.sheet(2)), (std::vector<std::string>{"R1C1=only"}));

  const CellFormat& styled = book.formats().at(book.sheet(1).format(1, 3));
  EXPECT_TRUE(styled.font.bold);
  EXPECT_EQ(styled.font.color, Color::rgb(255, 0, 0));
  EXPECT_EQ(styled.fill.pattern, FillPattern::solid);
  EXPECT_EQ(styled.fill.foreground, Color::rgb(255, 255, 0));
}

TEST(OtherFormats, ExcelXmlSpreadsheet) {
  TempDir dir;
  testing::writeSampleXlsXml(dir / "sample.xml");
  EXPECT_EQ(detectFormat(testing::readBytes(dir / "sample.xml")), FileFormat::xlsXml);
  const Workbook book = readWorkbook(dir / "sample.xml");
  ASSERT_EQ(book.sheetCount(), 2);
  EXPECT_EQ(book.sheet(1).name(), "名单");
  EXPECT_EQ(book.sheet(2).name(), "Other");
  EXPECT_EQ(cellTexts(book.sheet(1)),
            (std::vector<std::string>{"R1C1=标题", "R2C1=甲", "R2C2=12.5", "R2C3=100"}));
  EXPECT_EQ(cellTexts(book.sheet(2)), (std::vector<std::string>{"R3C2=x"}));
  EXPECT_EQ(book.sheet(1).merges(), (std::vector<CellRange>{{1, 1, 1, 3}}));
  EXPECT_TRUE(book.formats().at(book.sheet(1).format(1, 1)).font.bold);
  EXPECT_FALSE(book.formats().at(book.sheet(1).format(2, 1)).font.bold);
}

TEST(OtherFormats, GnumericWorkbook) {
  TempDir dir;
  testing::writeBytes(dir / "sample.gnumeric",
                      testing::gzipStored(R"(<?xml version="1.0" encoding="UTF-8"?>
<gnm:Workbook xmlns:gnm="http://www.gnumeric.org/v10.dtd">
  <gnm:SheetNameIndex><gnm:SheetName>表一</gnm:SheetName></gnm:SheetNameIndex>
  <gnm:Sheets>
    <gnm:Sheet>
      <gnm:Name>表一</gnm:Name>
      <gnm:MaxCol>1</gnm:MaxCol>
      <gnm:MaxRow>1</gnm:MaxRow>
      <gnm:Cells>
        <gnm:Cell Row="0" Col="0" ValueType="60">abc</gnm:Cell>
        <gnm:Cell Row="1" Col="1" ValueType="40">2.5</gnm:Cell>
      </gnm:Cells>
    </gnm:Sheet>
  </gnm:Sheets>
</gnm:Workbook>
)"));
  EXPECT_EQ(detectFormat(testing::readBytes(dir / "sample.gnumeric")), FileFormat::gnumeric);
  const Workbook book = readWorkbook(dir / "sample.gnumeric");
  ASSERT_EQ(book.sheetCount(), 1);
  EXPECT_EQ(book.sheet(1).name(), "表一");
  EXPECT_EQ(cellTexts(book.sheet(1)), (std::vector<std::string>{"R1C1=abc", "R2C2=2.5"}));
}

TEST(OtherFormats, CsvByItsNameInUtf8OrTheSystemCodePage) {
  TempDir dir;
  testing::writeBytes(dir / "utf8.csv", "名称,数量\n北京,1.50\n上海,abc\n");
  testing::writeBytes(dir / "gbk.CSV", text::utf8ToGb18030("名称,数量\n北京,1.50\n"));
  for (const char* name : {"utf8.csv", "gbk.CSV"}) {
    SCOPED_TRACE(name);
    const Workbook book = readWorkbook(dir / name);
    ASSERT_EQ(book.sheetCount(), 1);
    EXPECT_EQ(book.sheet(1).text(1, 1), "名称");
    EXPECT_EQ(book.sheet(1).text(2, 1), "北京");
    EXPECT_EQ(book.sheet(1).text(2, 2), "1.5");
  }
  EXPECT_EQ(readWorkbook(dir / "utf8.csv").sheet(1).text(3, 2), "abc");
  // Without the name, comma-separated text is not recognised as a workbook.
  testing::writeBytes(dir / "data.txt", "a,b\n1,2\n");
  EXPECT_THROW(readWorkbook(dir / "data.txt"), FormatError);
}

TEST(OtherFormats, AnOdsNamedXlsxIsReadByItsContent) {
  TempDir dir;
  testing::writeSampleOds(dir / "really-ods.xlsx");
  const Workbook book = readWorkbook(dir / "really-ods.xlsx");
  ASSERT_EQ(book.sheetCount(), 2);
  EXPECT_EQ(book.sheet(1).name(), "第一表");
}

class BrokenFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::writeSampleXlsx(dir_ / "good.xlsx");
    good_ = testing::readBytes(dir_ / "good.xlsx");
    ASSERT_GT(good_.size(), 1000u);
  }
  void expectFormatError(const std::string& bytes, const std::string& name) {
    testing::writeBytes(dir_ / name, bytes);
    try {
      readWorkbook(dir_ / name);
      ADD_FAILURE() << name << " was read";
    } catch (const FormatError& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
  TempDir dir_;
  std::string good_;
};

TEST_F(BrokenFiles, MissingFileOrDirectoryIsAFileError) {
  EXPECT_THROW(readWorkbook(dir_ / "missing.xlsx"), FileError);
  EXPECT_THROW(readWorkbook(dir_.path()), FileError);
}

TEST_F(BrokenFiles, EmptyUnknownAndNonWorkbookZipAreFormatErrors) {
  expectFormatError("", "empty.xlsx");
  expectFormatError("this is not a workbook at all\n", "text.xlsx");
  expectFormatError(std::string("\x00\x01\x02\x03\xff\xfe", 6), "binary.xls");
  testing::writeStoredZip(dir_ / "plain.zip", {{"hello.txt", "hello"}});
  expectFormatError(testing::readBytes(dir_ / "plain.zip"), "plain.xlsx");
}

TEST_F(BrokenFiles, TruncatedXlsxIsAFormatErrorAtEveryLength) {
  for (int tenth = 1; tenth <= 9; ++tenth) {
    SCOPED_TRACE(tenth);
    expectFormatError(good_.substr(0, good_.size() * tenth / 10), "cut.xlsx");
  }
}

TEST_F(BrokenFiles, CorruptXlsxIsAFormatError) {
  std::string bad = good_;
  for (std::size_t i = 40; i + 200 < bad.size(); ++i) bad[i] = static_cast<char>(0xA5);
  expectFormatError(bad, "corrupt.xlsx");
}

TEST_F(BrokenFiles, ScatteredDamageNeverCrashes) {
  // Damage in some places may leave a readable file; it must never bring the reader down.
  for (std::size_t at = 0; at < good_.size(); at += good_.size() / 25) {
    std::string bad = good_;
    for (std::size_t i = at; i < std::min(bad.size(), at + 48); ++i) bad[i] ^= 0x5A;
    testing::writeBytes(dir_ / "damaged.xlsx", bad);
    try {
      readWorkbook(dir_ / "damaged.xlsx");
    } catch (const FormatError&) {
    }
  }
}

TEST_F(BrokenFiles, MalformedXmlInsideAnOdsIsAFormatError) {
  testing::writeStoredZip(dir_ / "bad.ods",
                          {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                           {"content.xml", "<?xml version=\"1.0\"?><office:document-content><x"}});
  expectFormatError(testing::readBytes(dir_ / "bad.ods"), "bad.ods");
}

}  // namespace
}  // namespace dupsweep::sheet
