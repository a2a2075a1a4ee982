// Writing xlsx workbooks with XlsxExport and reading them back with the project's own reader.

#include <gtest/gtest.h>

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
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + missing.string());
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

}  // namespace
}  // namespace dupsweep::sheet
