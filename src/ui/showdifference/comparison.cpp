#include "ui/showdifference/comparison.h"

#include <optional>

#include "platform/spreadsheet/workbook.h"
#include "platform/text/text.h"

namespace dupsweep::viewer {
namespace {

// The grid row of the current row of `rows`: its nRow value, which must be a row number.
int gridRowOf(const db::RowSet& rows) {
  const std::int64_t nRow = rows.field("nRow").asInteger();
  if (nRow < 1 || nRow > sheet::kMaxRows)
    throw sheet::RangeError("The row number " + std::to_string(nRow) +
                            " in nRow is not a row of the sheet");
  return static_cast<int>(nRow);
}

}  // namespace

void fillBooks(db::RowSet& S, db::RowSet& D, SheetControl& left, SheetControl& right) {
  const std::array<db::RowSet*, 2> rows{&S, &D};
  const Grids grids{&left, &right};
  while (!S.eof() || !D.eof()) {
    // Both row sets come from the same data table; S's column count serves for both.
    const int columns = S.columnCount();
    // Read only once a value is written, so a row of NULL figures needs no row number.
    std::array<std::optional<int>, 2> gridRow;
    for (int k = kFirstFigureColumn; k < columns; ++k) {
      for (std::size_t side : {kLeft, kRight}) {
        db::RowSet& unit = *rows[side];
        if (unit.eof()) continue;
        const db::Field field = unit.field(k);
        if (field.isNull()) continue;
        if (!gridRow[side]) gridRow[side] = gridRowOf(unit);
        grids[side]->EntryRC(*gridRow[side], k - kColumnOffset, db::displayText(field.value()));
      }
    }
    for (db::RowSet* unit : rows) {
      if (!unit->eof()) unit->next();
    }
  }
}

void findSheetDifferences(SheetControl& left, SheetControl& right, DifferenceSink& sink) {
  int number = 1;
  const int lastRow = left.LastRow();
  for (int row = 1; row <= lastRow; ++row) {
    const int lastCol = left.LastCol();
    for (int col = 1; col <= lastCol; ++col) {
      std::u16string leftText = left.text(row, col);
      std::u16string rightText = right.text(row, col);
      if (leftText == rightText) continue;
      DifferenceLine line;
      line.number = number;
      line.sheet = left.Sheet();
      line.sheetName = left.sheetName(line.sheet);
      line.row = row;
      line.col = col;
      line.leftText = std::move(leftText);
      line.rightText = std::move(rightText);
      sink.addDifference(line);
      markCell(left, right, row, col);
      ++number;
    }
  }
}

void findAllDifferences(SheetControl& left, SheetControl& right, DifferenceSink& sink) {
  const int sheets = left.NumSheets();
  for (int sheet = 1; sheet <= sheets; ++sheet) {
    left.setSheet(sheet);
    right.setSheet(sheet);
    findSheetDifferences(left, right, sink);
  }
  left.setSheet(1);
  right.setSheet(1);
}

void markCell(SheetControl& left, SheetControl& right, int row, int col) {
  left.setRow(row);
  left.setCol(col);
  const std::unique_ptr<CellFormatObject> format = left.getCellFormat();
  if (!format) throw Error("The grid gave no format for its active cell");
  format->setColor(kMarkColor);
  format->setBold(true);
  left.setCellFormat(*format);
  right.setRow(row);
  right.setCol(col);
  // The left cell's format, so that both cells look alike whatever the right one held.
  right.setCellFormat(*format);
}

void showDifference(SheetControl& left, SheetControl& right, int sheet, int row, int col) {
  left.setSheet(sheet);
  right.setSheet(sheet);
  left.setRow(row);
  left.setCol(col);
  right.setRow(row);
  right.setCol(col);
  left.takeFocus();
  left.showActiveCell();
  right.showActiveCell();
}

}  // namespace dupsweep::viewer
