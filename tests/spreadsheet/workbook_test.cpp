// The workbook model without files or widgets: cell storage, the used range, merged ranges,
// widths, format interning and the general-format text of numbers.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/spreadsheet/celltext.h"
#include "platform/spreadsheet/format.h"
#include "platform/spreadsheet/workbook.h"

namespace dupsweep::sheet {
namespace {

TEST(GeneralNumberText, ShortestRoundTripWithoutExponentForOrdinaryMagnitudes) {
  EXPECT_EQ(generalNumberText(1234.5), "1234.5");
  EXPECT_EQ(generalNumberText(100), "100");
  EXPECT_EQ(generalNumberText(0.1), "0.1");
  EXPECT_EQ(generalNumberText(-0.25), "-0.25");
  EXPECT_EQ(generalNumberText(-7), "-7");
  EXPECT_EQ(generalNumberText(0.0001), "0.0001");
  EXPECT_EQ(generalNumberText(1e-9), "0.000000001");
  EXPECT_EQ(generalNumberText(123456789012345.0), "123456789012345");
  // At most 15 significant digits, as spreadsheet programs show General.
  EXPECT_EQ(generalNumberText(0.1 + 0.2), "0.3");
  EXPECT_EQ(generalNumberText(0.7853981633974483), "0.785398163397448");
  EXPECT_EQ(generalNumberText(99.99000000001001), "99.99000000001");
  EXPECT_EQ(generalNumberText(0.0), "0");
  EXPECT_EQ(generalNumberText(-0.0), "0");
}

TEST(GeneralNumberText, ExtremeMagnitudesAndNonNumbers) {
  EXPECT_EQ(generalNumberText(1e20), "1e+20");
  EXPECT_EQ(generalNumberText(1.5e-12), "1.5e-12");
  EXPECT_EQ(generalNumberText(std::numeric_limits<double>::quiet_NaN()), "#NUM!");
  EXPECT_EQ(generalNumberText(std::numeric_limits<double>::infinity()), "#NUM!");
}

TEST(CellText, AutoTextTurnsOnlyWholeNumbersIntoNumberText) {
  EXPECT_EQ(autoText("1.50"), "1.5");
  EXPECT_EQ(autoText("007"), "7");
  EXPECT_EQ(autoText("+4"), "4");
  EXPECT_EQ(autoText("1e3"), "1000");
  EXPECT_EQ(autoText("-3"), "-3");
  EXPECT_EQ(autoText("12abc"), "12abc");
  EXPECT_EQ(autoText(" 12"), " 12");
  EXPECT_EQ(autoText("inf"), "inf");
  EXPECT_EQ(autoText("-nan"), "-nan");
  EXPECT_EQ(autoText("0x1A"), "0x1A");
  EXPECT_EQ(autoText("北京"), "北京");
  EXPECT_EQ(autoText(""), "");
}

TEST(CellText, BooleansAndDates) {
  EXPECT_EQ(booleanText(true), "TRUE");
  EXPECT_EQ(booleanText(false), "FALSE");
  EXPECT_EQ(dateTimeText(2024, 1, 31, 0, 0, 0), "2024-01-31");
  EXPECT_EQ(dateTimeText(2024, 1, 31, 8, 5, 9), "2024-01-31 08:05:09");
  EXPECT_EQ(dateTimeText(2024, 1, 31, 8, 5, 9.5), "2024-01-31 08:05:09.5");
}

TEST(FormatTable, EqualFormatsShareOneIndexAndTheDefaultIsZero) {
  FormatTable table;
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.intern(CellFormat{}), 0u);

  CellFormat bold;
  bold.font.bold = true;
  CellFormat red = bold;
  red.font.color = Color::fromColorRef(255);
  const FormatId boldId = table.intern(bold);
  const FormatId redId = table.intern(red);
  EXPECT_NE(boldId, 0u);
  EXPECT_NE(redId, boldId);
  EXPECT_EQ(table.intern(bold), boldId);
  EXPECT_EQ(table.at(redId), red);
  EXPECT_EQ(table.size(), 3u);

  // An automatic colour differs from explicit black.
  CellFormat black = bold;
  black.font.color = Color::rgb(0, 0, 0);
  EXPECT_NE(table.intern(black), boldId);
}

TEST(FormatTable, DefaultCanOnlyBeReplacedBeforeOtherFormats) {
  FormatTable table;
  CellFormat song;
  song.font.name = "宋体";
  song.font.size = 12;
  table.setDefault(song);
  EXPECT_EQ(table.intern(song), 0u);
  EXPECT_NE(table.intern(CellFormat{}), 0u);
  EXPECT_THROW(table.setDefault(CellFormat{}), std::logic_error);
}

TEST(Color, WindowSystemColourValue) {
  const Color red = Color::fromColorRef(255);
  EXPECT_EQ(red, Color::rgb(255, 0, 0));
  EXPECT_EQ(Color::rgb(1, 2, 3).colorRef(), 0x030201u);
  EXPECT_EQ(Color::fromColorRef(0xFF030201u), Color::rgb(1, 2, 3));
  EXPECT_EQ(Color{}.colorRef(), 0u);
}

TEST(Worksheet, TextStorageAndUsedRange) {
  Worksheet sheet("s");
  EXPECT_EQ(sheet.lastRow(), 0);
  EXPECT_EQ(sheet.lastCol(), 0);
  EXPECT_EQ(sheet.text(5, 5), "");
  EXPECT_EQ(sheet.text(0, -1), "");

  sheet.setText(3, 2, "a");
  sheet.setText(1, 7, "b");
  EXPECT_EQ(sheet.text(3, 2), "a");
  EXPECT_EQ(sheet.lastRow(), 3);
  EXPECT_EQ(sheet.lastCol(), 7);

  // A format alone is not part of the used range.
  sheet.setFormat(10, 10, 3);
  EXPECT_EQ(sheet.lastRow(), 3);
  EXPECT_EQ(sheet.lastCol(), 7);
  EXPECT_EQ(sheet.extentRows(), 10);
  EXPECT_EQ(sheet.extentCols(), 10);

  // Clearing the text at the edge shrinks the used range; the format stays.
  sheet.setFormat(3, 2, 4);
  sheet.setText(3, 2, "");
  EXPECT_EQ(sheet.lastRow(), 1);
  EXPECT_EQ(sheet.lastCol(), 7);
  EXPECT_EQ(sheet.format(3, 2), 4u);
  sheet.setText(1, 7, "");
  EXPECT_EQ(sheet.lastRow(), 0);
  EXPECT_EQ(sheet.lastCol(), 0);

  // Text entered after a shrink is counted again.
  sheet.setText(2, 4, "c");
  EXPECT_EQ(sheet.lastRow(), 2);
  EXPECT_EQ(sheet.lastCol(), 4);
}

TEST(Worksheet, RowsComeOutInOrderWithTheirCells) {
  Worksheet sheet("s");
  sheet.setText(2, 3, "x");
  sheet.setText(2, 1, "y");
  ASSERT_EQ(sheet.storedRows(), 2);
  EXPECT_TRUE(sheet.row(1).empty());
  ASSERT_EQ(sheet.row(2).size(), 3u);
  EXPECT_EQ(sheet.row(2)[0].text, "y");
  EXPECT_EQ(sheet.row(2)[1].text, "");
  EXPECT_EQ(sheet.row(2)[2].text, "x");
  EXPECT_TRUE(sheet.row(3).empty());
}

TEST(Worksheet, MergesWidthsHeightsAndFormatRenumbering) {
  Worksheet sheet("s");
  sheet.addMerge({1, 1, 2, 3});
  EXPECT_EQ(sheet.extentRows(), 2);
  EXPECT_EQ(sheet.extentCols(), 3);
  ASSERT_NE(sheet.mergeAt(2, 2), nullptr);
  EXPECT_EQ(*sheet.mergeAt(2, 2), (CellRange{1, 1, 2, 3}));
  EXPECT_EQ(sheet.mergeAt(3, 1), nullptr);

  EXPECT_FALSE(sheet.hasColumnWidth(2));
  EXPECT_DOUBLE_EQ(sheet.columnWidth(2), Worksheet::kDefaultColumnWidth);
  sheet.setColumnWidth(2, 100);
  sheet.setRowHeight(4, 0);
  EXPECT_DOUBLE_EQ(sheet.columnWidth(2), 100);
  EXPECT_FALSE(sheet.hasColumnWidth(1));
  EXPECT_TRUE(sheet.hasRowHeight(4));
  EXPECT_DOUBLE_EQ(sheet.rowHeight(4), 0);

  sheet.setFormat(1, 1, 1);
  sheet.setFormat(1, 2, 2);
  sheet.setFormat(1, 3, 9);
  sheet.remapFormats({0, 5, 6});
  EXPECT_EQ(sheet.format(1, 1), 5u);
  EXPECT_EQ(sheet.format(1, 2), 6u);
  EXPECT_EQ(sheet.format(1, 3), 0u);  // beyond the map
}

TEST(Workbook, SheetsCountFromOneAndOutOfRangeRaises) {
  Workbook book;
  EXPECT_EQ(book.sheetCount(), 1);
  EXPECT_EQ(book.sheet(1).name(), "Sheet1");
  EXPECT_EQ(book.currentSheet(), 1);
  book.addSheet("第二");
  EXPECT_EQ(book.sheetCount(), 2);
  book.setCurrentSheet(2);
  EXPECT_EQ(book.current().name(), "第二");
  EXPECT_THROW(book.sheet(0), RangeError);
  EXPECT_THROW(book.sheet(3), RangeError);
  EXPECT_THROW(book.setCurrentSheet(3), RangeError);
  EXPECT_EQ(book.currentSheet(), 2);

  Workbook empty = Workbook::withoutSheets();
  EXPECT_EQ(empty.sheetCount(), 0);
  EXPECT_EQ(empty.currentSheet(), 0);
}

TEST(Workbook, PositionChecks) {
  EXPECT_NO_THROW(checkRow(1));
  EXPECT_NO_THROW(checkRow(kMaxRows));
  EXPECT_THROW(checkRow(0), RangeError);
  EXPECT_THROW(checkRow(kMaxRows + 1), RangeError);
  EXPECT_NO_THROW(checkCol(kMaxCols));
  EXPECT_THROW(checkCol(-1), RangeError);
  EXPECT_THROW(checkCol(kMaxCols + 1), RangeError);
}

}  // namespace
}  // namespace dupsweep::sheet
