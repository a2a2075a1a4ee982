// The difference scan over sheets of any extent: a template cell at XFD1048576, the last cell of
// a sheet, and the scan against a visit of every cell of the left grid's used range.

#include <QTreeWidget>
#include <random>
#include <tuple>

#include "platform/spreadsheet/workbook.h"
#include "ui/showdifference/comparison.h"
#include "viewer/viewer_fixture.h"

namespace dupsweep::testing {
namespace {

using sheet::F1Book;
using sheet::kMaxCols;
using sheet::kMaxRows;

bool isMarked(const sheet::CellFormat& format) {
  return format.font.bold && format.font.color == sheet::Color::rgb(255, 0, 0);
}

std::vector<QString> lineTexts(const QTreeWidget& list, int index) {
  std::vector<QString> out;
  for (int c = 0; c < 6; ++c) out.push_back(list.topLevelItem(index)->text(c));
  return out;
}

std::vector<QString> texts(std::initializer_list<const char*> items) {
  std::vector<QString> out;
  for (const char* item : items) out.push_back(QString::fromUtf8(item));
  return out;
}

class FarCell : public ViewerTest {};

TEST_F(FarCell, TheScanListsTheDifferencesOfASheetReachingItsLastCell) {
  loadTemplate({{"甲表",
                 {{1, 1, "甲表"},
                  {2, 1, "项目"},
                  {3, 2, "100", CellStyle::yellowItalic},
                  {kMaxRows, kMaxCols, "末格"}}},
                {"乙表", {{1, 1, "乙表"}, {2, 2, "金额"}}}});
  ASSERT_EQ(left().LastRow(), kMaxRows);
  ASSERT_EQ(left().LastCol(), kMaxCols);
  right().EntryRC(2, 1, "项目 ");
  left().EntryRC(3, 2, "101");
  right().EntryRC(5000, 300, "只在右边");
  left().EntryRC(kMaxRows, 1, "只在左边");
  right().EntryRC(kMaxRows, kMaxCols, "末格X");
  left().setSheet(2);
  left().EntryRC(2, 2, "金额A");
  left().setSheet(1);

  form_->FindAllDifferences();
  const QTreeWidget& list = *form_->lsvDifferenace();
  ASSERT_EQ(list.topLevelItemCount(), 6);
  EXPECT_EQ(lineTexts(list, 0), texts({"1", "甲表", "2", "1", "项目", "项目 "}));
  EXPECT_EQ(lineTexts(list, 1), texts({"2", "甲表", "3", "2", "101", "100"}));
  EXPECT_EQ(lineTexts(list, 2), texts({"3", "甲表", "5000", "300", "", "只在右边"}));
  EXPECT_EQ(lineTexts(list, 3), texts({"4", "甲表", "1048576", "1", "只在左边", ""}));
  EXPECT_EQ(lineTexts(list, 4), texts({"5", "甲表", "1048576", "16384", "末格", "末格X"}));
  EXPECT_EQ(lineTexts(list, 5), texts({"1", "乙表", "2", "2", "金额A", "金额"}));
  EXPECT_EQ(list.topLevelItem(4)->data(0, Qt::UserRole).toInt(), 1);
  EXPECT_EQ(list.topLevelItem(5)->data(0, Qt::UserRole).toInt(), 2);

  EXPECT_TRUE(isMarked(formatAt(left(), kMaxRows, kMaxCols)));
  EXPECT_TRUE(isMarked(formatAt(right(), kMaxRows, kMaxCols)));
  EXPECT_TRUE(isMarked(formatAt(right(), 5000, 300)));
  EXPECT_TRUE(formatAt(right(), 3, 2).font.italic);  // the left cell's format, marked
  EXPECT_FALSE(isMarked(formatAt(left(), 1, 1)));
  EXPECT_FALSE(isMarked(formatAt(right(), kMaxRows, 2)));
}

// ---- the scan against a visit of every cell ----

// The scan as a visit of every cell of the left grid's used range, row by row and left to right:
// the reference the scan must agree with line for line and mark for mark.
void visitEveryCell(SheetControl& left, SheetControl& right, viewer::DifferenceSink& sink) {
  int number = 1;
  const int lastRow = left.LastRow();
  for (int row = 1; row <= lastRow; ++row) {
    const int lastCol = left.LastCol();
    for (int col = 1; col <= lastCol; ++col) {
      const std::u16string leftText = left.text(row, col);
      const std::u16string rightText = right.text(row, col);
      if (leftText == rightText) continue;
      sink.addDifference(
          {number++, left.sheetName(left.Sheet()), row, col, leftText, rightText, left.Sheet()});
      viewer::markCell(left, right, row, col);
    }
  }
}

struct Lines : viewer::DifferenceSink {
  using Line = std::tuple<int, std::u16string, int, int, std::u16string, std::u16string, int>;
  void addDifference(const viewer::DifferenceLine& l) override {
    lines.emplace_back(l.number, l.sheetName, l.row, l.col, l.leftText, l.rightText, l.sheet);
  }
  std::vector<Line> lines;
};

// Rows and columns every edit stays within; the left grid's edits stay in a smaller box, so that
// the right grid holds text beyond the left one's last row and last column.
constexpr int kBoxRows = 14;
constexpr int kBoxCols = 11;

// Two grids over one template, with the same random edits for the same seed.
struct GridPair {
  F1Book books[2];
  F1BookControl left{books[0]};
  F1BookControl right{books[1]};

  GridPair(const std::filesystem::path& file, unsigned seed) {
    for (F1Book& book : books) book.read(file);
    std::mt19937 random(seed);
    // Empty texts clear a cell, possibly one that only had a format; "a", "A" and "a " differ.
    const std::vector<std::string> values{"", "a", "A", "a ", "值"};
    sheet::CellFormat blue;
    blue.fill.pattern = sheet::FillPattern::solid;
    blue.fill.foreground = sheet::Color::rgb(0, 0, 255);
    for (int edit = 0; edit < 60; ++edit) {
      const int side = static_cast<int>(random() % 2);
      // Sheet 3 gets edits in the right grid only: its left grid stays empty.
      const int sheet = 1 + static_cast<int>(random() % (side == 0 ? 2 : 3));
      const int rows = side == 0 ? kBoxRows - 2 : kBoxRows;
      const int cols = side == 0 ? kBoxCols - 2 : kBoxCols;
      const int row = 1 + static_cast<int>(random() % rows);  // in any order of rows
      const int col = 1 + static_cast<int>(random() % cols);
      F1Book& book = books[side];
      book.setSheet(sheet);
      if (random() % 4 == 0) {  // a format without text
        book.setRow(row);
        book.setCol(col);
        book.setCellFormat(blue);
      } else {
        book.EntryRC(row, col, values[random() % values.size()]);
      }
    }
    for (F1Book& book : books) book.setSheet(1);
  }

  // Every cell format in the box, with the current sheet and the active cells.
  std::vector<std::tuple<int, int, int, sheet::CellFormat>> state() {
    std::vector<std::tuple<int, int, int, sheet::CellFormat>> out;
    for (F1Book& book : books) {
      out.emplace_back(book.Sheet(), book.Row(), book.Col(), sheet::CellFormat{});
      for (int s = 1; s <= book.NumSheets(); ++s) {
        book.setSheet(s);
        const sheet::Worksheet& sheet = book.workbook().current();
        for (int r = 1; r <= kBoxRows; ++r)
          for (int c = 1; c <= kBoxCols; ++c)
            out.emplace_back(s, r, c, book.workbook().formats().at(sheet.format(r, c)));
      }
    }
    return out;
  }
};

TEST(ScanAgainstEveryCell, SameLinesInTheSameOrderAndTheSameMarks) {
  TempDir dir;
  // Template text, a formatted cell with text and formatted cells without text.
  writeTemplate(dir / "mixed.xlsx", {{"甲",
                                      {{1, 1, "甲"},
                                       {2, 3, "a", CellStyle::yellowItalic},
                                       {3, 2, "", CellStyle::blue},
                                       {9, 9, "", CellStyle::blue}}},
                                     {"乙", {{4, 4, "A"}}},
                                     {"丙", {}}});
  int listed = 0;
  for (unsigned seed = 1; seed <= 25; ++seed) {
    GridPair scanned(dir / "mixed.xlsx", seed);
    GridPair visited(dir / "mixed.xlsx", seed);
    Lines scanLines;
    Lines visitLines;
    viewer::findAllDifferences(scanned.left, scanned.right, scanLines);
    const int sheets = visited.left.NumSheets();
    for (int s = 1; s <= sheets; ++s) {
      visited.left.setSheet(s);
      visited.right.setSheet(s);
      visitEveryCell(visited.left, visited.right, visitLines);
    }
    visited.left.setSheet(1);
    visited.right.setSheet(1);
    ASSERT_EQ(scanLines.lines, visitLines.lines) << "seed " << seed;
    ASSERT_EQ(scanned.state(), visited.state()) << "seed " << seed;
    listed += static_cast<int>(scanLines.lines.size());
  }
  EXPECT_GT(listed, 100);  // the edits made plenty of differences to compare
}

}  // namespace
}  // namespace dupsweep::testing
