// Writing xlsx workbooks with XlsxExport and reading them back with the project's own reader.

#include <gtest/gtest.h>

#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>

#include <QString>
#include <filesystem>
#include <string>

#include "platform/errors.h"
#include "platform/files/files.h"
#include "platform/spreadsheet/reader.h"
#include "platform/spreadsheet/xlsxexport.h"
#include "sheet_files.h"

namespace dupsweep::sheet {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::vector<std::string> entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The XML of cell `ref` ("B1") in the part `entry` of the xlsx file at `path`: from its "<c"
// to its "</c>" (or "/>"); empty when the part has no such cell.
std::string cellXml(const fs::path& path, const std::string& entry, const std::string& ref) {
  const std::string bytes = testing::readBytes(path);
  orcus::zip_archive_stream_blob stream(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                        bytes.size());
  orcus::zip_archive archive(&stream);
  archive.load();
  std::vector<unsigned char> data;
  if (!archive.read_file_entry(entry, data)) return {};
  const std::string xml(data.begin(), data.end());
  const std::size_t start = xml.find("<c r=\"" + ref + "\"");
  if (start == std::string::npos) return {};
  const std::size_t open = xml.find('>', start);
  if (xml[open - 1] == '/') return xml.substr(start, open + 1 - start);
  return xml.substr(start, xml.find("</c>", start) + 4 - start);
}

TEST(XlsxExport, WritesTextsColoursAndWidthsThatReadBack) {
  TempDir dir;
  const fs::path path = dir / "result.xlsx";
  XlsxExport book(path.string());
  const int first = book.addSheet("比对结果");
  const int second = book.addSheet("Second");
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  book.write(first, 0, 0, "单位组");
  book.write(first, 0, 1, "甲=>乙");
  book.write(first, 2, 3, "资产负债表", true);
  book.write(first, 0, 1, "replaced");
  book.write(second, 4, 2, "x");
  book.setColumnWidth(first, 1, 30);
  EXPECT_FALSE(fs::exists(path)) << "nothing may be written before close()";
  book.close();

  const Workbook read = readWorkbook(path);
  ASSERT_EQ(read.sheetCount(), 2);
  const Worksheet& s1 = read.sheet(1);
  EXPECT_EQ(s1.name(), "比对结果");
  EXPECT_EQ(s1.text(1, 1), "单位组");
  EXPECT_EQ(s1.text(1, 2), "replaced");
  EXPECT_EQ(s1.text(3, 4), "资产负债表");
  EXPECT_EQ(read.sheet(2).name(), "Second");
  EXPECT_EQ(read.sheet(2).text(5, 3), "x");

  const CellFormat& red = read.formats().at(s1.format(3, 4));
  EXPECT_EQ(red.font.color, Color::rgb(255, 0, 0));
  EXPECT_EQ(red.fill.pattern, FillPattern::solid);
  EXPECT_FALSE(red.fill.foreground.automatic);
  EXPECT_EQ(red.fill.foreground.red, 255);
  const CellFormat& plain = read.formats().at(s1.format(1, 1));
  EXPECT_TRUE(plain.font.color.automatic);
  EXPECT_EQ(plain.fill.pattern, FillPattern::none);

  EXPECT_TRUE(s1.hasColumnWidth(2));
  EXPECT_GT(s1.columnWidth(2), Worksheet::kDefaultColumnWidth);
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"result.xlsx"});
}

TEST(XlsxExport, MakesSheetNamesValidAndUnique) {
  TempDir dir;
  const fs::path path = dir / "names.xlsx";
  XlsxExport book(path.string());
  book.addSheet("a[b]:c*d?e/f\\g");
  book.addSheet(std::string(40, 'x'));
  book.addSheet(std::string(40, 'x'));  // same after cutting
  book.addSheet("Data");
  book.addSheet("DATA");  // Excel ignores letter case
  book.addSheet("");
  book.addSheet("'quoted'");
  const std::string chinese =
      "资产负债表资产负债表资产负债表资产负债表资产负债表资产负债表资产";  // 32
  book.addSheet(chinese);
  book.close();

  const Workbook read = readWorkbook(path);
  ASSERT_EQ(read.sheetCount(), 8);
  EXPECT_EQ(read.sheet(1).name(), "a_b__c_d_e_f_g");
  EXPECT_EQ(read.sheet(2).name(), std::string(31, 'x'));
  EXPECT_EQ(read.sheet(3).name(), std::string(27, 'x') + " (2)");
  EXPECT_EQ(read.sheet(4).name(), "Data");
  EXPECT_EQ(read.sheet(5).name(), "DATA (2)");
  EXPECT_EQ(read.sheet(6).name(), "Sheet");
  EXPECT_EQ(read.sheet(7).name(), "quoted");
  EXPECT_EQ(read.sheet(8).name(), chinese.substr(0, 31 * 3));  // 31 characters, 3 bytes each
}

TEST(XlsxExport, RefusesPositionsOutsideTheWorkbook) {
  XlsxExport book("/nonexistent/never-written.xlsx");
  const int sheet = book.addSheet("S");
  EXPECT_THROW(book.write(sheet + 1, 0, 0, "x"), RangeError);
  EXPECT_THROW(book.write(-1, 0, 0, "x"), RangeError);
  EXPECT_THROW(book.write(sheet, 1048576, 0, "x"), RangeError);
  EXPECT_THROW(book.write(sheet, 0, 16384, "x"), RangeError);
  EXPECT_THROW(book.setColumnWidth(sheet, -1, 10), RangeError);
  EXPECT_THROW(book.setColumnWidth(sheet, 0, -1), RangeError);
  book.write(sheet, 1048575, 16383, "last cell");  // the last valid position is accepted
}

TEST(XlsxExport, FailureRaisesFileErrorAndLeavesNothing) {
  TempDir dir;
  {
    const fs::path missing = dir / "no such dir" / "out.xlsx";
    XlsxExport book(missing.string());
    book.write(book.addSheet("S"), 0, 0, "x");
    try {
      book.close();
      FAIL() << "close() into a missing directory succeeded";
    } catch (const FileError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Unable to write to " + missing.string() + ": No such file or directory");
    }
  }
  // A directory in the target's place: the temporary file is written and must be removed again.
  fs::create_directory(dir / "taken.xlsx");
  XlsxExport book((dir / "taken.xlsx").string());
  book.write(book.addSheet("S"), 0, 0, "x");
  EXPECT_THROW(book.close(), FileError);
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"taken.xlsx"});
  EXPECT_TRUE(fs::is_directory(dir / "taken.xlsx"));
}

TEST(XlsxExport, ReplacesAnExistingFileAndWritesNothingWithoutClose) {
  TempDir dir;
  const fs::path path = dir / "out.xlsx";
  files::writeFileAtomically(path, "old content");
  {
    XlsxExport abandoned(path.string());
    abandoned.write(abandoned.addSheet("S"), 0, 0, "never");
  }
  EXPECT_EQ(files::readFile(path), "old content");

  XlsxExport book(path.string());
  book.close();  // no sheet added: one empty sheet
  const Workbook read = readWorkbook(path);
  ASSERT_EQ(read.sheetCount(), 1);
  EXPECT_EQ(read.sheet(1).name(), "Sheet1");
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out.xlsx"});
}

TEST(XlsxExport, TextsStayTextCountsAreNumbersAndACutTextSaysSo) {
  TempDir dir;
  const fs::path path = dir / "cells.xlsx";
  XlsxExport out(path.string());
  const int sheet = out.addSheet("S");
  out.write(sheet, 0, 0, "=SUM(1,2)");
  out.write(sheet, 0, 1, "010304");
  out.writeNumber(sheet, 0, 2, 4998);
  out.write(sheet, 1, 0, std::string(39999, 'x') + "名");  // 40,000 characters
  out.write(sheet, 1, 1, std::string(32766, 'y') + "名");  // as much as a cell holds
  out.close();

  const Workbook book = readWorkbook(path);
  const Worksheet& read = book.sheet(1);
  EXPECT_EQ(read.text(1, 1), "=SUM(1,2)");
  EXPECT_EQ(read.text(1, 2), "010304");
  EXPECT_EQ(read.text(1, 3), "4998");
  const QString cut = QString::fromUtf8(read.text(2, 1));
  EXPECT_EQ(cut.size(), XlsxExport::kMaxTextLength);
  EXPECT_EQ(cut, QString(32767 - 6, u'x') + QStringLiteral("…（已截断）"));
  EXPECT_EQ(read.text(2, 2), std::string(32766, 'y') + "名");

  // In the file: text cells (never a formula) and a number cell.
  const std::string part = "xl/worksheets/sheet1.xml";
  for (const char* ref : {"A1", "B1"}) {
    const std::string xml = cellXml(path, part, ref);
    EXPECT_NE(xml.find("t=\"inlineStr\""), std::string::npos) << xml;
    EXPECT_EQ(xml.find("<f>"), std::string::npos) << xml;
  }
  EXPECT_EQ(cellXml(path, part, "C1"), "<c r=\"C1\"><v>4998</v></c>");
}

TEST(XlsxExport, ATableLongerThanASheetGoesOnInAFurtherSheetUnderItsTitles) {
  TempDir dir;
  const fs::path path = dir / "long.xlsx";
  XlsxExport book(path.string());
  const int table = book.addTable("重复数据单位", {"序号"}, {12});
  // A sheet holds the titles and kMaxRows - 1 rows; the last two rows go on.
  const int rows = kMaxRows + 1;
  for (int i = 1; i <= rows; ++i) book.appendRow(table, {static_cast<double>(i)});
  book.write(book.addSheet("后面的表"), 0, 0, "x");
  book.close();

  const Workbook read = readWorkbook(path);
  ASSERT_EQ(read.sheetCount(), 3);
  const Worksheet& first = read.sheet(1);
  EXPECT_EQ(first.name(), "重复数据单位");
  EXPECT_EQ(first.lastRow(), kMaxRows);
  EXPECT_EQ(first.text(kMaxRows, 1), std::to_string(kMaxRows - 1));
  const Worksheet& second = read.sheet(2);
  EXPECT_EQ(second.name(), "重复数据单位 (2)");
  EXPECT_EQ(testing::cellTexts(second),
            (std::vector<std::string>{"R1C1=序号", "R2C1=1048576", "R3C1=1048577"}));
  EXPECT_TRUE(second.hasColumnWidth(1));
  EXPECT_EQ(read.sheet(3).name(), "后面的表");
}

TEST(XlsxExport, AReadOnlyFileIsNotReplacedAndTheLongestNameIsWritten) {
  TempDir dir;
  const fs::path locked = dir / "locked.xlsx";
  files::writeFileAtomically(locked, "old content");
  fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  XlsxExport book(locked.string());
  book.write(book.addSheet("S"), 0, 0, "x");
  try {
    book.close();
    FAIL() << "a read-only file was replaced";
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Unable to write to " + locked.string() + ": the file is read-only");
  }
  EXPECT_EQ(files::readFile(locked), "old content");

  // 255 bytes, the most a file name may have: a temporary name beside it must be shorter.
  const std::string longest = std::string(250, 'n') + ".xlsx";
  XlsxExport wide((dir / longest).string());
  wide.write(wide.addSheet("S"), 0, 0, "x");
  wide.close();
  EXPECT_EQ(readWorkbook(dir / longest).sheet(1).text(1, 1), "x");
  EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"locked.xlsx", longest}));
}

}  // namespace
}  // namespace dupsweep::sheet
