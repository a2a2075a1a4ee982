// The spreadsheet control's operations as the difference viewer uses them.

#include <gtest/gtest.h>

#include "platform/spreadsheet/f1book.h"
#include "sheet_files.h"

namespace dupsweep::sheet {
namespace {

using testing::TempDir;

TEST(F1Book, NewControlShowsOneEmptySheet) {
  F1Book book;
  EXPECT_EQ(book.NumSheets(), 1);
  EXPECT_EQ(book.Sheet(), 1);
  EXPECT_EQ(book.sheetName(1), "Sheet1");
  EXPECT_EQ(book.LastRow(), 0);
  EXPECT_EQ(book.LastCol(), 0);
  EXPECT_EQ(book.Row(), 1);
  EXPECT_EQ(book.Col(), 1);
  EXPECT_NO_THROW(book.setSheet(1));
  EXPECT_NO_THROW(book.showActiveCell());  // no grid attached: nothing to do
  EXPECT_NO_THROW(book.takeFocus());
}

TEST(F1Book, EntryRCThenCellTextInUtf8AndUtf16) {
  F1Book book;
  book.EntryRC(3, 2, "北京 ");
  book.EntryRC(5, 4, u"1234.5");
  EXPECT_EQ(book.text(3, 2), "北京 ");
  EXPECT_EQ(book.textUtf16(3, 2), u"北京 ");
  EXPECT_EQ(book.text(5, 4), "1234.5");
  EXPECT_EQ(book.text(1, 1), "");
  EXPECT_EQ(book.LastRow(), 5);
  EXPECT_EQ(book.LastCol(), 4);

  // Entering again replaces; empty text clears and the used range follows.
  book.EntryRC(5, 4, "x");
  EXPECT_EQ(book.text(5, 4), "x");
  book.EntryRC(5, 4, "");
  EXPECT_EQ(book.LastRow(), 3);
  EXPECT_EQ(book.LastCol(), 2);
}

TEST(F1Book, InvalidPositionsAndTextRaiseAndChangeNothing) {
  F1Book book;
  book.EntryRC(1, 1, "keep");
  EXPECT_THROW(book.EntryRC(0, 1, "x"), RangeError);
  EXPECT_THROW(book.EntryRC(1, 0, "x"), RangeError);
  EXPECT_THROW(book.EntryRC(kMaxRows + 1, 1, "x"), RangeError);
  EXPECT_THROW(book.EntryRC(1, kMaxCols + 1, "x"), RangeError);
  EXPECT_THROW(book.EntryRC(1, 1, std::string_view("\xff\xfe", 2)), FormatError);
  EXPECT_THROW(book.EntryRC(1, 1, std::u16string(1, u'\xD800')), FormatError);
  EXPECT_EQ(book.text(1, 1), "keep");
  EXPECT_THROW(book.text(0, 1), RangeError);
  EXPECT_THROW(book.textUtf16(1, kMaxCols + 1), RangeError);
  EXPECT_THROW(book.setSheet(0), RangeError);
  EXPECT_THROW(book.setSheet(2), RangeError);
  EXPECT_THROW(book.sheetName(2), RangeError);
  EXPECT_THROW(book.setRow(0), RangeError);
  EXPECT_THROW(book.setCol(kMaxCols + 1), RangeError);
  EXPECT_EQ(book.Sheet(), 1);
  EXPECT_EQ(book.Row(), 1);
  EXPECT_EQ(book.Col(), 1);
  EXPECT_EQ(book.LastRow(), 1);
}

TEST(F1Book, ReadingReplacesTheWorkbookAndResetsSheetAndActiveCell) {
  TempDir dir;
  testing::writeSampleXlsx(dir / "sample.xlsx");
  F1Book book;
  book.EntryRC(9, 9, "old");
  book.setRow(4);
  book.setCol(5);
  EXPECT_EQ(book.read(dir / "sample.xlsx"), 0);
  EXPECT_EQ(book.NumSheets(), 2);
  EXPECT_EQ(book.Sheet(), 1);
  EXPECT_EQ(book.Row(), 1);
  EXPECT_EQ(book.Col(), 1);
  EXPECT_EQ(book.text(9, 9), "");
  EXPECT_EQ(book.sheetName(1), "甲表");
  EXPECT_EQ(book.sheetNameUtf16(2), u"乙表 数据");
  EXPECT_EQ(book.text(3, 2), "1234.5");
  EXPECT_EQ(book.LastRow(), 6);
  EXPECT_EQ(book.LastCol(), 3);

  // Each sheet has its own used range and active cell.
  book.setSheet(2);
  EXPECT_EQ(book.text(5, 4), "last");
  EXPECT_EQ(book.LastRow(), 5);
  EXPECT_EQ(book.LastCol(), 4);
  book.setRow(7);
  book.setCol(8);
  book.setSheet(1);
  EXPECT_EQ(book.Row(), 1);
  book.setSheet(2);
  EXPECT_EQ(book.Row(), 7);
  EXPECT_EQ(book.Col(), 8);

  // Values entered afterwards live until the next read.
  book.EntryRC(5, 4, "new");
  book.read(dir / "sample.xlsx");
  book.setSheet(2);
  EXPECT_EQ(book.text(5, 4), "last");
}

TEST(F1Book, AFailedReadKeepsTheWorkbook) {
  TempDir dir;
  testing::writeSampleXlsx(dir / "sample.xlsx");
  testing::writeBytes(dir / "broken.xlsx", "PK\x03\x04 broken");
  F1Book book;
  book.read(dir / "sample.xlsx");
  book.setSheet(2);
  book.EntryRC(1, 1, "entered");
  EXPECT_THROW(book.read(dir / "broken.xlsx"), FormatError);
  EXPECT_THROW(book.read(dir / "missing.xlsx"), FileError);
  EXPECT_EQ(book.NumSheets(), 2);
  EXPECT_EQ(book.Sheet(), 2);
  EXPECT_EQ(book.text(1, 1), "entered");
}

TEST(F1Book, MarkingACellAcrossTwoControls) {
  TempDir dir;
  testing::writeSampleXlsx(dir / "sample.xlsx");
  F1Book left;
  F1Book right;
  left.read(dir / "sample.xlsx");
  right.read(dir / "sample.xlsx");

  // The marked cell has a yellow fill in the template; the mark keeps it.
  left.setRow(3);
  left.setCol(2);
  CellFormat mark = left.getCellFormat();
  EXPECT_EQ(mark.fill.foreground, Color::rgb(255, 255, 0));
  EXPECT_FALSE(mark.font.bold);
  mark.font.color = Color::fromColorRef(255);
  mark.font.bold = true;
  left.setCellFormat(mark);
  right.setRow(3);
  right.setCol(2);
  right.setCellFormat(mark);

  for (F1Book* book : {&left, &right}) {
    const CellFormat got = book->getCellFormat();
    EXPECT_EQ(got.font.color, Color::rgb(255, 0, 0));
    EXPECT_EQ(got.font.color.colorRef(), 255u);
    EXPECT_TRUE(got.font.bold);
    EXPECT_EQ(got.fill.foreground, Color::rgb(255, 255, 0));
    EXPECT_EQ(got.fill.pattern, FillPattern::solid);
    EXPECT_EQ(book->text(3, 2), "1234.5");  // the text is untouched
  }

  // Other cells keep their formats: the bordered cell beside it is not red.
  right.setCol(3);
  const CellFormat neighbour = right.getCellFormat();
  EXPECT_TRUE(neighbour.font.color.automatic);
  EXPECT_EQ(neighbour.left.style, BorderStyle::thin);

  // A mark taken from a bordered cell carries the borders to the other control.
  left.setRow(3);
  left.setCol(3);
  CellFormat boxed = left.getCellFormat();
  boxed.font.color = Color::fromColorRef(255);
  right.setRow(10);
  right.setCol(10);
  right.setCellFormat(boxed);
  EXPECT_EQ(right.getCellFormat(), boxed);
}

TEST(F1Book, StartEditRaisesTheEventAndCancelRefuses) {
  F1Book book;
  book.EntryRC(2, 3, "现有");
  EXPECT_TRUE(book.startEdit(2, 3));  // no handler: allowed

  int calls = 0;
  F1Book* sender = nullptr;
  std::string seen;
  book.setOnStartEdit([&](F1Book& s, const std::string& editText, std::int16_t& cancel) {
    ++calls;
    sender = &s;
    seen = editText;
    EXPECT_EQ(cancel, 0);
    cancel = 1;
  });
  EXPECT_FALSE(book.startEdit(2, 3));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(sender, &book);
  EXPECT_EQ(seen, "现有");
  EXPECT_THROW(book.startEdit(0, 1), RangeError);
  EXPECT_EQ(calls, 1);

  book.setOnStartEdit([](F1Book&, const std::string&, std::int16_t&) {});
  EXPECT_TRUE(book.startEdit(2, 3));
}

}  // namespace
}  // namespace dupsweep::sheet
